#!/usr/bin/env bash
# Runs ctest in a sanitizer build with every sanitizer report written to a
# file, and fails when any process wrote one: the test programs and the CLI
# simulators they start alike (a report from a child never fails a test by
# itself).
#
#   scripts/sanitized-ctest.sh BUILD_DIR CTEST_ARG...
set -uo pipefail
build=${1:?usage: sanitized-ctest.sh BUILD_DIR CTEST_ARG...}
shift
reports=$(cd "$build" && pwd)/sanitizer-reports
rm -rf "$reports"
mkdir -p "$reports"
common="log_path=$reports/report:halt_on_error=1"
export ASAN_OPTIONS="$common:detect_leaks=1:strict_string_checks=1:check_initialization_order=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="$common:print_stacktrace=1"
export TSAN_OPTIONS="$common:second_deadlock_stack=1"
(cd "$build" && ctest "$@")
status=$?
shopt -s nullglob
found=("$reports"/*)
if [ ${#found[@]} -gt 0 ]; then
  echo "sanitizers: ${#found[@]} report(s) in $reports:" >&2
  for report in "${found[@]}"; do
    echo "--- $report" >&2
    head -40 "$report" >&2
  done
  exit 1
fi
[ $status -eq 0 ] && echo "sanitizers: no reports"
exit $status
