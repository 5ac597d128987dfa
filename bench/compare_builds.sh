#!/usr/bin/env bash
# Times two builds of Quarnel against each other on the benchmark records,
# for a change that must not cost speed: the six cases of run.sh, each
# run alternately by the two builds (each going first in every other
# pair, no output of an earlier run left behind), and checks that both
# write the same bytes. Prints the median wall times and their ratio.
#
#   bench/compare_builds.sh OLD_BUILD_DIR NEW_BUILD_DIR [SIZE_BYTES] [RUNS] [CASE...]
#
# The build folders hold Quarnel and Tolvinar side by side (Release builds
# for figures worth comparing). Inputs are generated under bench/data/ as
# run.sh makes them, and kept.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
old="$(cd "$1" && pwd)/Quarnel"
new="$(cd "$2" && pwd)/Quarnel"
size=${3:-1000000000}
runs=${4:-5}
shift $(( $# > 4 ? 4 : $# ))
cases=("$@")
[ "${#cases[@]}" -gt 0 ] || cases=(whole fold external date amount wide)
data="$here/data"
mkdir -p "$data"
export LC_ALL=C

g++ -O2 -o "$data/gen_records" "$here/gen_records.cc"
narrow="$data/records_fixed_$size.txt"
if [ ! -f "$narrow" ] || [ "$(stat -c %s "$narrow")" -gt "$size" ] ||
   [ "$(stat -c %s "$narrow")" -lt $((size - 300)) ]; then
  echo "== generating $narrow" >&2
  "$data/gen_records" 20240501 "$size" fixed > "$narrow"
fi
wide="${narrow%.txt}.utf16.txt"
if [ ! -f "$wide" ] || [ "$wide" -ot "$narrow" ]; then
  echo "== converting $narrow to UTF-16LE" >&2
  iconv -f CP932 -t UTF-16LE "$narrow" > "$wide"
fi

args_for() {
  case "$1" in
    whole) echo "$narrow" ;;
    fold) echo "$narrow /I" ;;
    external) echo "$narrow /M 64" ;;
    date) echo "$narrow (11,8)" ;;
    amount) echo "$narrow (19,12)[A;I]" ;;
    wide) echo "$wide /W" ;;
    *) echo "compare_builds: unknown case $1" >&2; exit 2 ;;
  esac
}

# seconds PROGRAM OUTPUT ARGS...: the wall time of one run.
seconds() {
  local program=$1 out=$2
  shift 2
  rm -f "$out"
  # The other build's output, still going to the disk, would slow this run.
  sync
  local start end
  start=$(date +%s.%N)
  "$program" "$1" "$out" "${@:2}" 2>/dev/null
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f\n", b - a }'
}

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

printf '%-9s %9s %9s %7s\n' case old_s new_s ratio

for name in "${cases[@]}"; do
  read -r -a args <<<"$(args_for "$name")"
  old_times=()
  new_times=()
  for ((r = 0; r < runs; r++)); do
    if ((r % 2 == 0)); then
      old_times+=("$(seconds "$old" "$data/old.out" "${args[@]}")")
      new_times+=("$(seconds "$new" "$data/new.out" "${args[@]}")")
    else
      new_times+=("$(seconds "$new" "$data/new.out" "${args[@]}")")
      old_times+=("$(seconds "$old" "$data/old.out" "${args[@]}")")
    fi
  done
  cmp -s "$data/old.out" "$data/new.out" || { echo "OUTPUTS DIFFER ($name)" >&2; exit 1; }
  rm -f "$data/old.out" "$data/new.out"
  o=$(printf '%s\n' "${old_times[@]}" | median)
  n=$(printf '%s\n' "${new_times[@]}" | median)
  ratio=$(awk -v a="$o" -v b="$n" 'BEGIN { printf "%.3f", b / a }')
  printf '%-9s %9.2f %9.2f %7s\n' "$name" "$o" "$n" "$ratio"
done
echo "load: $(cut -d' ' -f1-3 /proc/loadavg)"
