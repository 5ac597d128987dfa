#!/bin/bash
# Sorts the same generated Shift_JIS records with Quarnel and with a peer
# on the same machine, alternately (each going first in every other pair,
# each starting with no output left), and prints a table of median wall
# times, ratios and peak memory, one row per case:
#
#   whole     whole lines in memory          LC_ALL=C sort
#   fold      whole lines, /I                LC_ALL=C sort -f
#   external  /M 64, runs merged by Tolvinar sort -S 64M
#   date      key (11,8)                     sort -k1.11,1.18
#   amount    key (19,12)[A;I]               sort -k1.19,1.30n
#   wide      the records in UTF-16LE, /W    Quarnel narrow on the records
#
# Below the table, for the wide case: how long a plain copy of the narrow
# and of the wide records into a new file takes, the floor of that ratio.
#
#   bench/run.sh [--plot] [SIZE_BYTES] [RUNS] [CASE...]
#       SIZE_BYTES  default 1000000000; RUNS default 3; CASE default all six
#       --plot      runs the cases at 100 MB, 300 MB and SIZE_BYTES (or the
#                   sizes in PLOT_SIZES) and draws time against size for
#                   Quarnel and the peer into bench/times.png (gnuplot is
#                   installed when missing)
#       --replot    draws the picture again from the last --plot's figures
#       RECORDS=csv the older comma-separated records for the whole-line
#                   and external cases (the key cases need fixed columns)
#
# The records (gen_records ... fixed): code in columns 1-10, date 11-18,
# signed amount with commas 19-30. Outputs are checked: identical bytes
# where the peer's order is the same (whole, external); otherwise the key
# columns in the same sequence as the peer's (date; wide against narrow),
# Quarnel's own order checked line by line (fold, amount), and the same
# line count. The work folder must be left empty.
#
# Needs g++, cmake and ninja. Everything it makes lies under bench/data/
# (git-ignored); generated inputs are kept for the next run.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
data="$here/data"
plot=0
if [ "${1:-}" = "--plot" ]; then plot=1; shift; fi
if [ "${1:-}" = "--replot" ]; then plot=2; shift; fi
size=${1:-1000000000}
runs=${2:-3}
shift $(( $# > 2 ? 2 : $# ))
cases=("$@")
[ "${#cases[@]}" -gt 0 ] || cases=(whole fold external date amount wide)
records=${RECORDS:-fixed}
mkdir -p "$data"
export LC_ALL=C

echo "== building Release"
cmake -S "$root" -B "$root/build-release" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build-release" -j2 --target Quarnel Tolvinar >/dev/null
quarnel="$root/build-release/Quarnel"
g++ -O2 -o "$data/gen_records" "$here/gen_records.cc"
g++ -O2 -o "$data/measure_tree" "$here/measure_tree.cc"

# input_for SIZE KIND: the generated file (kept between runs).
input_for() {
  local bytes=$1 kind=$2 file
  file="$data/records_${kind}_$bytes.txt"
  if [ ! -f "$file" ] || [ "$(stat -c %s "$file")" -gt "$bytes" ] ||
     [ "$(stat -c %s "$file")" -lt $((bytes - 300)) ]; then
    echo "== generating $file" >&2
    if [ "$kind" = fixed ]; then
      "$data/gen_records" 20240501 "$bytes" fixed > "$file"
    else
      "$data/gen_records" 20240501 "$bytes" > "$file"
    fi
  fi
  echo "$file"
}

wide_for() {
  local narrow=$1 file="${1%.txt}.utf16.txt"
  if [ ! -f "$file" ] || [ "$file" -ot "$narrow" ]; then
    echo "== converting $narrow to UTF-16LE" >&2
    iconv -f CP932 -t UTF-16LE "$narrow" > "$file"
  fi
  echo "$file"
}

# Runs a command, sampling the resident memory of it and all its
# descendants (Quarnel and its merge program count together); prints
# "seconds peak_kb".
measure() {
  if ! "$data/measure_tree" "$data/measure.out" "$@" >/dev/null 2>"$data/stderr.log"; then
    echo "bench: failed: $*" >&2
    cat "$data/stderr.log" >&2
    exit 1
  fi
  cat "$data/measure.out"
}

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

fail() { echo "   $*" >&2; exit 1; }

# check_case NAME QUARNEL_OUTPUT PEER_OUTPUT
check_case() {
  local name=$1 q=$2 s=$3
  local lines_q
  if [ "$name" = wide ]; then
    lines_q=$(iconv -f UTF-16LE -t CP932 "$q" | wc -l)
  else
    lines_q=$(wc -l < "$q")
  fi
  [ "$lines_q" = "$(wc -l < "$s")" ] || fail "LINE COUNTS DIFFER ($name)"
  case "$name" in
    whole|external)
      # Every line ends in CR LF and no byte below CR occurs, so sort's
      # order of the lines with their CR is that of the lines without.
      cmp -s "$q" "$s" || fail "OUTPUTS DIFFER ($name)" ;;
    date)
      cmp -s <(cut -c11-18 "$q") <(cut -c11-18 "$s") || fail "KEYS DIFFER ($name)" ;;
    wide)
      # The first 30 columns are ASCII: the same order in both encodings.
      cmp -s <(iconv -f UTF-16LE -t CP932 "$q" | cut -c1-30) <(cut -c1-30 "$s") ||
        fail "KEY COLUMNS DIFFER ($name)" ;;
    fold)
      # The peer folds to upper case, Quarnel to lower case: check
      # Quarnel's own order.
      LC_ALL=C tr 'A-Z' 'a-z' < "$q" | LC_ALL=C sort -c 2>/dev/null ||
        fail "NOT IN /I ORDER ($name)" ;;
    amount)
      # The peer stops at the first comma; Quarnel reads the whole amount.
      LC_ALL=C awk '{ v = substr($0, 19, 12); gsub(/[^-+.0-9]/, "", v); v += 0
        if (NR > 1 && v < last) { print "line " NR; exit 1 } last = v }' "$q" ||
        fail "NOT IN AMOUNT ORDER ($name)" ;;
  esac
}

rows=()
notes=()

# copy_floor NARROW WIDE WORK: the median time a plain copy of each input
# into a new file takes, alternating. The wide records are half as large
# again as the narrow ones, and reading and writing them costs that much
# more whatever sorts them: the copies show that floor on this machine.
copy_floor() {
  local narrow=$1 wide=$2 work=$3 copy="$3/copy" nt=() wt=() t m i
  for ((i = 1; i <= runs; i++)); do
    read -r t m < <(measure sh -c 'cat "$1" > "$2"' copy "$narrow" "$copy"); nt+=("$t")
    rm -f "$copy"
    read -r t m < <(measure sh -c 'cat "$1" > "$2"' copy "$wide" "$copy"); wt+=("$t")
    rm -f "$copy"
  done
  local n w
  n=$(printf '%s\n' "${nt[@]}" | median)
  w=$(printf '%s\n' "${wt[@]}" | median)
  notes+=("$(awk -v n="$n" -v w="$w" -v a="$(stat -c %s "$narrow")" -v b="$(stat -c %s "$wide")" \
    'BEGIN { printf "copy floor (cat input > file): narrow %.0f MB %.2f s, wide %.0f MB %.2f s, ratio %.2f",
      a / 1e6, n, b / 1e6, w, w / n }')")
  echo "   ${notes[-1]}"
}

# bench_case NAME INPUT_BYTES
bench_case() {
  local name=$1 bytes=$2 input peer_label target mem_limit
  local work="$data/work_$name"
  local qout="$data/out_quarnel_$name.txt" sout="$data/out_peer_$name.txt"
  local qcmd scmd
  local kind=fixed
  case "$name" in whole|fold|external) kind=$records ;; esac
  input=$(input_for "$bytes" "$kind")
  local input_bytes
  input_bytes=$(stat -c %s "$input")
  mem_limit=$(awk -v b="$input_bytes" 'BEGIN { printf "%d", b * 1.2 / 1024 }')
  case "$name" in
    whole) qcmd=("$quarnel" "$input" "$qout" /T "$work")
      scmd=(sort -o "$sout" "$input"); peer_label="LC_ALL=C sort"; target=0.30 ;;
    fold) qcmd=("$quarnel" "$input" "$qout" /T "$work" /I)
      scmd=(sort -f -o "$sout" "$input"); peer_label="LC_ALL=C sort -f"; target=0.25 ;;
    external) qcmd=("$quarnel" "$input" "$qout" /T "$work" /M 64)
      scmd=(sort -S 64M -o "$sout" "$input"); peer_label="sort -S 64M"; target=0.30
      mem_limit=$((192 * 1024)) ;;
    date) qcmd=("$quarnel" "$input" "$qout" /T "$work" '(11,8)')
      scmd=(sort -t $'\x01' -k1.11,1.18 -o "$sout" "$input")
      peer_label="sort -k1.11,1.18"; target=0.35 ;;
    amount) qcmd=("$quarnel" "$input" "$qout" /T "$work" '(19,12)[A;I]')
      scmd=(sort -t $'\x01' -k1.19,1.30n -o "$sout" "$input")
      peer_label="sort -k1.19,1.30n"; target=0.30 ;;
    wide) local winput
      winput=$(wide_for "$input")
      qcmd=("$quarnel" "$winput" "$qout" /T "$work" /W)
      scmd=("$quarnel" "$input" "$sout" /T "$work"); peer_label="Quarnel narrow"
      target=1.2
      mem_limit=$(awk -v b="$(stat -c %s "$winput")" 'BEGIN { printf "%d", b * 1.2 / 1024 }') ;;
    *) echo "bench: unknown case $name" >&2; exit 2 ;;
  esac
  mkdir -p "$work"
  echo "== $name ($input_bytes bytes): Quarnel ${qcmd[*]:2}  vs  $peer_label"
  echo "   load before: $(cut -d' ' -f1-3 /proc/loadavg)"
  local qt=() qm=() st=() t m i
  # Every timed run starts with neither output on the machine: an output
  # left in the page cache would make the next program find its memory
  # fresh from the host, whichever it is. Which of the two goes first
  # alternates all the same. A last, untimed pair makes the outputs that
  # are checked.
  for ((i = 1; i <= runs; i++)); do
    rm -f "$qout" "$sout"
    if ((i % 2 == 0)); then
      read -r t m < <(LC_ALL=C TMPDIR="$work" measure "${scmd[@]}")
      st+=("$t")
      rm -f "$sout"
    fi
    read -r t m < <(LC_ALL=C measure "${qcmd[@]}")
    qt+=("$t"); qm+=("$m")
    rm -f "$qout"
    if ((i % 2 == 1)); then
      read -r t m < <(LC_ALL=C TMPDIR="$work" measure "${scmd[@]}")
      st+=("$t")
      rm -f "$sout"
    fi
    echo "   run $i: Quarnel ${qt[-1]} s ${qm[-1]} KB, peer ${st[-1]} s"
  done
  LC_ALL=C measure "${qcmd[@]}" >/dev/null
  LC_ALL=C TMPDIR="$work" measure "${scmd[@]}" >/dev/null
  check_case "$name" "$qout" "$sout"
  [ -z "$(ls -A "$work")" ] || fail "WORK FOLDER NOT EMPTY ($name)"
  rm -f "$qout" "$sout"
  if [ "$name" = wide ]; then copy_floor "$input" "$winput" "$work"; fi
  local load_after qmed smed qmem
  load_after=$(cut -d' ' -f1-3 /proc/loadavg)
  echo "   checked; load after: $load_after"
  qmed=$(printf '%s\n' "${qt[@]}" | median)
  smed=$(printf '%s\n' "${st[@]}" | median)
  qmem=$(printf '%s\n' "${qm[@]}" | sort -n | tail -1)
  rows+=("$(awk -v n="$name" -v p="$peer_label" -v q="$qmed" -v s="$smed" \
      -v qm="$qmem" -v lim="$mem_limit" -v t="$target" -v b="$input_bytes" \
      -v l="$load_after" 'BEGIN {
    printf "| %s | %s | %.0f MB | %.2f | %.2f | %.2f | <= %s | %d MB (limit %d) | %s |",
      n, p, b / 1e6, q, s, q / s, t, qm / 1024, lim / 1024, l }')")
}

print_table() {
  echo
  echo "| case | peer | input | Quarnel s | peer s | ratio | target | Quarnel peak | load after |"
  echo "| --- | --- | --- | --- | --- | --- | --- | --- | --- |"
  printf '%s\n' "${rows[@]}"
  if [ "${#notes[@]}" -gt 0 ]; then echo; printf '%s\n' "${notes[@]}"; fi
}

# Draws bench/times.png from the medians collected in bench/data/times.dat.
draw_plot() {
  if ! command -v gnuplot >/dev/null; then
    echo "== installing gnuplot"
    local sudo_cmd=""
    [ "$(id -u)" = 0 ] || sudo_cmd="sudo"
    $sudo_cmd apt-get install -y gnuplot-nox >/dev/null
  fi
  local names
  read -r -a names <<< "$(awk '{ print $1 }' "$data/times.dat" | awk '!seen[$0]++' | tr '\n' ' ')"
  local n=${#names[@]}
  {
    echo "set terminal png size 1200,$(( (n + 2) / 3 * 360 ))"
    echo "set output '$here/times.png'"
    echo "set multiplot layout $(( (n + 2) / 3 )),3 title 'wall time against input size ($(nproc) cores)'"
    echo "set xlabel 'input MB'; set ylabel 'seconds'; set key top left; set grid"
    for c in "${names[@]}"; do
      echo "set title '$c'"
      echo "plot '< grep ^$c $data/times.dat' using 2:3 with linespoints title 'Quarnel', '' using 2:4 with linespoints title 'peer'"
    done
    echo "unset multiplot"
  } | gnuplot
  echo "== drew $here/times.png"
}

if [ "$plot" = 2 ]; then draw_plot; exit 0; fi

echo "$(nproc) cores; load at start: $(cut -d' ' -f1-3 /proc/loadavg)"
if [ "$plot" = 0 ]; then
  for c in "${cases[@]}"; do bench_case "$c" "$size"; done
  print_table
  exit 0
fi

# --plot: the table at each size, then one panel per case.
read -r -a sizes <<< "${PLOT_SIZES:-100000000 300000000 $size}"
points="$data/times.dat"
: > "$points"
for s in "${sizes[@]}"; do
  rows=()
  notes=()
  for c in "${cases[@]}"; do bench_case "$c" "$s"; done
  print_table
  printf '%s\n' "${rows[@]}" | awk -F'|' '{ gsub(/ /, "", $2); gsub(/[ MB]/, "", $4)
    printf "%s %s %s %s\n", $2, $4, $5, $6 }' >> "$points"
done
draw_plot
