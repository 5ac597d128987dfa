#!/bin/bash
# Sorts the same generated Shift_JIS file with Quarnel and with
# `LC_ALL=C sort` on the same machine, alternately, and prints for each
# case the median wall time, the ratio and the peak memory. The outputs
# must be identical and the work folder must be left empty.
#
#   bench/run.sh [SIZE_BYTES] [RUNS] [CASE...]
#       SIZE_BYTES  default 1000000000; RUNS default 3
#       CASE        in_memory (whole file in one run, against plain sort)
#                   external  (/M 64: runs merged by Tolvinar, against
#                              sort -S 64M, which merges temporary files)
#                   killer    (500,000 lines ordered to drive the quicksort's
#                              pivot to its worst; SIZE_BYTES is not used;
#                              building it the first time takes minutes)
#                   default: in_memory and external
#
# Needs g++, cmake and ninja. Everything it makes lies under bench/data/
# (git-ignored); the generated input is kept for the next run.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
data="$here/data"
size=${1:-1000000000}
runs=${2:-3}
shift $(( $# > 2 ? 2 : $# ))
cases=("$@")
[ "${#cases[@]}" -gt 0 ] || cases=(in_memory external)
mkdir -p "$data"

echo "== building Release"
cmake -S "$root" -B "$root/build-release" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build-release" -j2 --target Quarnel Tolvinar >/dev/null
quarnel="$root/build-release/Quarnel"

g++ -O2 -o "$data/gen_records" "$here/gen_records.cc"
input="$data/records_$size.txt"
if [ ! -f "$input" ] || [ "$(stat -c %s "$input")" -gt "$size" ] ||
   [ "$(stat -c %s "$input")" -lt $((size - 300)) ]; then
  echo "== generating $input"
  "$data/gen_records" 20240501 "$size" > "$input"
fi
input_bytes=$(stat -c %s "$input")

# Resident kilobytes of a process and all its descendants (Quarnel and
# its merge program count together).
tree_rss() {
  local pid=$1 total=0 key value rest child
  if [ -r "/proc/$pid/status" ]; then
    while read -r key value rest; do
      if [ "$key" = "VmRSS:" ]; then total=$value; break; fi
    done < "/proc/$pid/status" 2>/dev/null || true
  fi
  for child in $(cat /proc/"$pid"/task/*/children 2>/dev/null); do
    total=$((total + $(tree_rss "$child")))
  done
  echo "$total"
}

# Runs a command, sampling its process tree every 20 ms; prints
# "seconds peak_kb".
measure() {
  local start end peak=0 now pid
  start=$(date +%s.%N)
  "$@" >/dev/null 2>"$data/stderr.log" &
  pid=$!
  while kill -0 "$pid" 2>/dev/null; do
    now=$(tree_rss "$pid")
    [ "$now" -gt "$peak" ] && peak=$now
    sleep 0.02
  done
  if ! wait "$pid"; then
    echo "bench: failed: $*" >&2
    cat "$data/stderr.log" >&2
    exit 1
  fi
  end=$(date +%s.%N)
  awk -v s="$start" -v e="$end" -v kb="$peak" 'BEGIN { printf "%.2f %d\n", e - s, kb }'
}

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# bench_case NAME "QUARNEL OPTIONS" "SORT OPTIONS" "MEMORY TARGET TEXT"
bench_case() {
  local name=$1 qopts=$2 sopts=$3 target=$4
  local work="$data/work_$name"
  local qout="$data/out_quarnel_$name.txt" sout="$data/out_sort_$name.txt"
  mkdir -p "$work"
  echo "== case $name: Quarnel $qopts  vs  LC_ALL=C sort $sopts ($runs runs each)"
  echo "   load before: $(cut -d' ' -f1-3 /proc/loadavg)"
  local qt=() qm=() st=() sm=() t m
  for ((i = 1; i <= runs; i++)); do
    rm -f "$qout" "$sout"
    # shellcheck disable=SC2086
    read -r t m < <(LC_ALL=C measure "$quarnel" "$input" "$qout" /T "$work" $qopts)
    qt+=("$t"); qm+=("$m")
    # shellcheck disable=SC2086
    read -r t m < <(LC_ALL=C TMPDIR="$work" measure sort $sopts -o "$sout" "$input")
    st+=("$t"); sm+=("$m")
    echo "   run $i: Quarnel ${qt[-1]} s ${qm[-1]} KB, sort ${st[-1]} s ${sm[-1]} KB"
  done
  # Every line ends in CR LF and no byte below CR occurs, so sort's order
  # of the lines with their CR is the order of the lines without it.
  if cmp -s "$qout" "$sout"; then
    echo "   outputs identical"
  else
    echo "   OUTPUTS DIFFER" >&2
    exit 1
  fi
  if [ -n "$(ls -A "$work")" ]; then
    echo "   WORK FOLDER NOT EMPTY" >&2
    exit 1
  fi
  echo "   load after: $(cut -d' ' -f1-3 /proc/loadavg)"
  local qmed smed qmem smem
  qmed=$(printf '%s\n' "${qt[@]}" | median)
  smed=$(printf '%s\n' "${st[@]}" | median)
  qmem=$(printf '%s\n' "${qm[@]}" | sort -n | tail -1)
  smem=$(printf '%s\n' "${sm[@]}" | sort -n | tail -1)
  awk -v n="$name" -v q="$qmed" -v s="$smed" -v qm="$qmem" -v sm="$smem" \
      -v bytes="$input_bytes" -v target="$target" 'BEGIN {
    printf "   %s: median wall Quarnel %.2f s, sort %.2f s, ratio %.3f (target <= 0.6)\n", n, q, s, q / s
    printf "   %s: peak memory Quarnel %.0f MB (%.2f x input; %s), sort %.0f MB\n",
           n, qm / 1024, qm * 1024 / bytes, target, sm / 1024 }'
  rm -f "$qout" "$sout"
}

echo "input: $input ($input_bytes bytes), $(nproc) cores"
for c in "${cases[@]}"; do
  case "$c" in
    in_memory) bench_case in_memory "" "" "limit 1.5 x input" ;;
    external) bench_case external "/M 64" "-S 64M" "limit 2 x 64 MB + 64 MB = 192 MB, both processes" ;;
    killer)
      killer="$data/killer_500000.txt"
      if [ ! -s "$killer" ]; then
        echo "== generating $killer"
        g++ -std=c++20 -O2 -I"$root/src" -I"$root/tests" -o "$data/gen_killer" \
          "$here/gen_killer.cc" "$root/tests/support/killer_input.cc"
        "$data/gen_killer" 500000 > "$killer.tmp" && mv "$killer.tmp" "$killer"
      fi
      saved_input=$input saved_bytes=$input_bytes
      input=$killer input_bytes=$(stat -c %s "$killer")
      bench_case killer "" "" "a small input: fixed costs dominate; the time should be well under 1 s"
      input=$saved_input input_bytes=$saved_bytes
      ;;
    *) echo "bench: unknown case $c" >&2; exit 2 ;;
  esac
done
