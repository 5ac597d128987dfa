#!/bin/bash
# The external case: a file far larger than the budget, sorted by Quarnel
# with /M 64 (runs, then the merge program Tolvinar) and by
# `LC_ALL=C sort -S 64M` (which merges temporary files too), alternately.
# Prints the median wall time of each, the ratio, and Quarnel's peak
# memory: the resident sets of Quarnel and of its merge program added up,
# sampled every 20 ms. The outputs must be identical.
#
#   bench/run_external.sh [SIZE_BYTES] [RUNS]   (default 1000000000, 3)
#
# Uses the record generator of bench/ (gen_records.cc) with the same seed
# as bench/run.sh, so both scripts sort the same file under bench/data/.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
data="$here/data"
size=${1:-1000000000}
runs=${2:-3}
budget_mb=64
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

# Resident kilobytes of a process and all its descendants.
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

# Runs a command, sampling its process tree; prints "seconds peak_kb".
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

work="$data/work_external"
qout="$data/out_quarnel_external.txt"
sout="$data/out_sort_external.txt"
mkdir -p "$work"
echo "input: $input ($input_bytes bytes), $(nproc) cores"
echo "== case external: Quarnel /M $budget_mb  vs  LC_ALL=C sort -S ${budget_mb}M ($runs runs each)"
echo "   load before: $(cut -d' ' -f1-3 /proc/loadavg)"
qt=(); qm=(); st=(); sm=()
for ((i = 1; i <= runs; i++)); do
  rm -f "$qout" "$sout"
  read -r t m < <(LC_ALL=C measure "$quarnel" "$input" "$qout" /T "$work" /M "$budget_mb")
  qt+=("$t"); qm+=("$m")
  read -r t m < <(LC_ALL=C TMPDIR="$work" measure sort -S "${budget_mb}M" -o "$sout" "$input")
  st+=("$t"); sm+=("$m")
  echo "   run $i: Quarnel ${qt[-1]} s ${qm[-1]} KB, sort ${st[-1]} s ${sm[-1]} KB"
done
# Every line ends in CR LF and no byte below CR occurs, so sort's order of
# the lines with their CR is the order of the lines without it.
if cmp -s "$qout" "$sout"; then
  echo "   outputs identical"
else
  echo "   OUTPUTS DIFFER" >&2
  exit 1
fi
if [ -n "$(ls -A "$work")" ]; then
  echo "   WORK DIRECTORY NOT EMPTY" >&2
  exit 1
fi
echo "   load after: $(cut -d' ' -f1-3 /proc/loadavg)"
qmed=$(printf '%s\n' "${qt[@]}" | median)
smed=$(printf '%s\n' "${st[@]}" | median)
qmem=$(printf '%s\n' "${qm[@]}" | sort -n | tail -1)
smem=$(printf '%s\n' "${sm[@]}" | sort -n | tail -1)
awk -v q="$qmed" -v s="$smed" -v qm="$qmem" -v sm="$smem" -v b="$budget_mb" 'BEGIN {
  printf "   external: median wall Quarnel %.2f s, sort %.2f s, ratio %.3f (target <= 0.6)\n", q, s, q / s
  printf "   external: peak memory Quarnel+Tolvinar %.0f MB (limit %d MB), sort %.0f MB\n",
         qm / 1024, 2 * b + 64, sm / 1024 }'
rm -f "$qout" "$sout"
