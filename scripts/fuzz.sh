#!/usr/bin/env bash
# Runs the fuzz targets of a fuzz build, each seeded from fuzz/corpus/<target>/.
#
#   scripts/fuzz.sh BUILD_DIR LIBFUZZER_OPTION... [-- TARGET...]
#   scripts/fuzz.sh build-fuzz -runs=2000              # quick pass (make check)
#   scripts/fuzz.sh build-fuzz -max_total_time=600 -- fuzz_reply
#
# Inputs found along the way go to BUILD_DIR/fuzz/work/<target>/ (kept for
# the next run), never into the repository; a crash, leak or time-out leaves
# its input in BUILD_DIR/fuzz/findings/ and fails the script. One summary
# line per target: executions, coverage (cov: edges, ft: features), speed.
set -uo pipefail
cd "$(dirname "$0")/.."
build=${1:?usage: fuzz.sh BUILD_DIR OPTION... [-- TARGET...]}
shift
options=()
while [ $# -gt 0 ] && [ "$1" != -- ]; do options+=("$1"); shift; done
[ "${1:-}" = -- ] && shift
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for dir in fuzz/corpus/*/; do targets+=("$(basename "$dir")"); done
fi

status=0
mkdir -p "$build/fuzz/findings"
for target in "${targets[@]}"; do
  binary=$build/fuzz/$target
  work=$build/fuzz/work/$target
  log=$build/fuzz/$target.log
  mkdir -p "$work"
  if [ ! -x "$binary" ]; then
    echo "fuzz: $target: not built in $build" >&2
    status=1
    continue
  fi
  "$binary" -timeout=10 -rss_limit_mb=2048 -max_len=8192 -print_final_stats=1 \
    -artifact_prefix="$build/fuzz/findings/$target-" "${options[@]}" \
    "$work" "fuzz/corpus/$target" >"$log" 2>&1
  result=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  coverage=$(grep -o 'cov: [0-9]* ft: [0-9]*' "$log" | tail -1)
  if [ $result -eq 0 ]; then
    echo "fuzz: $target: ${runs:-?} runs, ${coverage:-no coverage line}, ${speed:-?}/s"
  else
    echo "fuzz: $target: FAILED (exit $result) after ${runs:-?} runs; log $log" >&2
    grep -E '^(==[0-9]+==|SUMMARY|property broken|Test unit written)' "$log" | head -20 >&2
    status=1
  fi
done
exit $status
