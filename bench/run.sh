#!/bin/bash
# Sorts the same generated Shift_JIS file with Quarnel and with
# `LC_ALL=C sort`, alternately, and prints the median wall time, the peak
# memory and the ratio of each case. The outputs must be identical.
#
#   bench/run.sh [SIZE_BYTES] [RUNS]     (default 1000000000 bytes, 3 runs)
#
# Needs g++, cmake, ninja and /usr/bin/time (the package "time").
# Everything it makes lies under bench/data/ (git-ignored).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
data="$here/data"
size=${1:-1000000000}
runs=${2:-3}
mkdir -p "$data"

if [ ! -x /usr/bin/time ]; then
  echo "bench: /usr/bin/time is missing (apt-get install time)" >&2
  exit 1
fi

echo "== building Release"
cmake -S "$root" -B "$root/build-release" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build-release" -j2 --target Quarnel >/dev/null
quarnel="$root/build-release/Quarnel"

g++ -O2 -o "$data/gen_records" "$here/gen_records.cc"
input="$data/records_$size.txt"
if [ ! -f "$input" ] || [ "$(stat -c %s "$input")" -gt "$size" ] ||
   [ "$(stat -c %s "$input")" -lt $((size - 300)) ]; then
  echo "== generating $input"
  "$data/gen_records" 20240501 "$size" > "$input"
fi
input_bytes=$(stat -c %s "$input")

# Runs a command under /usr/bin/time; prints "seconds kilobytes".
measure() {
  local log="$data/time.log"
  /usr/bin/time -v -o "$log" "$@" >/dev/null 2>"$data/stderr.log" || {
    echo "bench: failed: $*" >&2
    cat "$data/stderr.log" >&2
    exit 1
  }
  local wall kb
  wall=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$log")
  kb=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$log")
  echo "$wall" | awk -F: -v kb="$kb" '{
    s = 0; for (i = 1; i <= NF; i++) s = s * 60 + $i; printf "%.2f %d\n", s, kb }'
}

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# bench_case NAME "QUARNEL OPTIONS" "SORT OPTIONS": one comparison, e.g.
#   bench_case external "/M 64" "-S 64M"
bench_case() {
  local name=$1 qopts=$2 sopts=$3
  local work="$data/work_$name"
  local qout="$data/out_quarnel_$name.txt" sout="$data/out_sort_$name.txt"
  mkdir -p "$work"
  echo "== case $name: Quarnel $qopts  vs  LC_ALL=C sort $sopts ($runs runs each)"
  echo "   load before: $(cut -d' ' -f1-3 /proc/loadavg)"
  local qt=() qm=() st=() sm=()
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
  echo "   load after: $(cut -d' ' -f1-3 /proc/loadavg)"
  local qmed smed qmem smem
  qmed=$(printf '%s\n' "${qt[@]}" | median)
  smed=$(printf '%s\n' "${st[@]}" | median)
  qmem=$(printf '%s\n' "${qm[@]}" | median)
  smem=$(printf '%s\n' "${sm[@]}" | median)
  awk -v n="$name" -v q="$qmed" -v s="$smed" -v qm="$qmem" -v sm="$smem" \
      -v bytes="$input_bytes" 'BEGIN {
    printf "   %s: median wall Quarnel %.2f s, sort %.2f s, ratio %.3f\n", n, q, s, q / s
    printf "   %s: peak memory Quarnel %.0f MB (%.2f x input), sort %.0f MB\n",
           n, qm / 1024, qm * 1024 / bytes, sm / 1024 }'
  rm -f "$qout" "$sout"
}

echo "input: $input ($input_bytes bytes), $(nproc) cores"
bench_case in_memory "" ""
