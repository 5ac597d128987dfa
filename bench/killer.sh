#!/bin/bash
# Times Quarnel and `LC_ALL=C sort` on the quicksort's hostile input:
# 500,000 lines of eight digits ordered to drive the median-of-three pivot
# to its worst (bench/gen_killer.cc), alternately, and checks that the
# outputs are identical and the work folder is left empty.
#
#   bench/killer.sh [RUNS]      RUNS default 3
#
# The input is built once under bench/data/ (a few minutes: building it
# runs the plain quicksort against an adversary) and kept.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
data="$here/data"
runs=${1:-3}
mkdir -p "$data/work_killer"

cmake -S "$root" -B "$root/build-release" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build-release" -j2 --target Quarnel Tolvinar >/dev/null
quarnel="$root/build-release/Quarnel"

input="$data/killer_500000.txt"
if [ ! -s "$input" ]; then
  echo "== generating $input"
  g++ -std=c++20 -O2 -I"$root/src" -I"$root/tests" -o "$data/gen_killer" \
    "$here/gen_killer.cc" "$root/tests/support/killer_input.cc"
  "$data/gen_killer" 500000 > "$input.tmp"
  mv "$input.tmp" "$input"
fi

echo "$(nproc) cores; load at start: $(cut -d' ' -f1-3 /proc/loadavg)"
for ((i = 1; i <= runs; i++)); do
  q=$( { LC_ALL=C /usr/bin/time -f '%e s wall, %U s user, %S s sys' \
         "$quarnel" "$input" "$data/out_quarnel_killer.txt" /T "$data/work_killer" \
         >/dev/null 2>/dev/null; } 2>&1 )
  s=$( { LC_ALL=C /usr/bin/time -f '%e s wall, %U s user, %S s sys' \
         sort -o "$data/out_sort_killer.txt" "$input"; } 2>&1 )
  echo "run $i: Quarnel $q; sort $s"
done
# Every line ends in CR LF and holds digits only: sort's order is Quarnel's.
cmp "$data/out_quarnel_killer.txt" "$data/out_sort_killer.txt"
echo "outputs identical"
if [ -n "$(ls -A "$data/work_killer")" ]; then
  echo "WORK FOLDER NOT EMPTY" >&2
  exit 1
fi
rm -f "$data/out_quarnel_killer.txt" "$data/out_sort_killer.txt"
echo "load at end: $(cut -d' ' -f1-3 /proc/loadavg)"
