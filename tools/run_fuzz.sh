#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each one for a bounded
# time, starting from the seed corpus under fuzz/corpus/<target>/. Fails
# when a target crashes, leaks, times out or the sanitizers report
# anything.
#
#   tools/run_fuzz.sh [seconds per target]   (default 60, or $FUZZ_SECONDS)
#
# The seed corpus in the repository is never written to; new inputs found
# during the run stay in the build folder. A failing input is kept there
# as crash-*, leak-* or timeout-* next to the target's log.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
seconds=${1:-${FUZZ_SECONDS:-60}}
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}
jobs=${FUZZ_BUILD_JOBS:-2}
targets=(fuzz_key_spec fuzz_command_line fuzz_options)

cxx=${FUZZ_CXX:-clang++}
if ! command -v "$cxx" >/dev/null 2>&1; then
  echo "run_fuzz: $cxx not found" >&2
  exit 1
fi

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER="$cxx" \
  -DQUARNEL_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target "${targets[@]}" -j "$jobs"

failed=0
for target in "${targets[@]}"; do
  work="$build/fuzz-work/$target"
  rm -rf "$work"
  mkdir -p "$work/corpus" "$work/artifacts"
  log="$work/$target.log"
  echo "run_fuzz: $target for ${seconds}s"
  status=0
  # -close_fd_mask=2 silences the messages the code under test prints;
  # libFuzzer's own lines and the sanitizer reports still reach the log.
  "$build/fuzz/$target" "$work/corpus" "$root/fuzz/corpus/$target" \
    -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=4096 \
    -close_fd_mask=2 -print_final_stats=1 \
    -artifact_prefix="$work/artifacts/" >"$log" 2>&1 || status=$?
  if [ "$status" -ne 0 ] ||
     grep -qE 'ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error:|SUMMARY: ' "$log"; then
    echo "run_fuzz: $target FAILED (exit $status); log $log" >&2
    tail -n 60 "$log" >&2
    ls "$work/artifacts" >&2 || true
    failed=1
  else
    grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb' "$log" || true
    echo "run_fuzz: $target clean"
  fi
done
exit "$failed"
