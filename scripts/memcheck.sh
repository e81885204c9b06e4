#!/usr/bin/env bash
# valgrind memcheck over the integration suites (the mediator and controller
# tests), once each; the CLI simulators they start are not traced. Prints the
# error and leak figures of each suite and fails on any error or definite or
# indirect leak.
#
#   scripts/memcheck.sh [BUILD_DIR]
set -uo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
status=0
for suite in test_mediator test_controller; do
  log=$build/memcheck-$suite.log
  # The suites' slow rows (64 MiB and 256 MiB replies) run as well; the long
  # soak stays out (its short version runs).
  valgrind --tool=memcheck --trace-children=no --leak-check=full \
    --show-leak-kinds=definite,indirect --errors-for-leak-kinds=definite,indirect \
    --error-exitcode=99 --num-callers=30 --log-file="$log" \
    "$build/tests/$suite" >"$log.out" 2>&1
  result=$?
  errors=$(sed -n 's/.*ERROR SUMMARY: \([0-9]*\) errors.*/\1/p' "$log" | tail -1)
  definite=$(sed -n 's/.*definitely lost: \([0-9,]*\) bytes.*/\1/p' "$log" | tail -1)
  indirect=$(sed -n 's/.*indirectly lost: \([0-9,]*\) bytes.*/\1/p' "$log" | tail -1)
  tests=$(grep -E '^\[  (PASSED|FAILED)  \]' "$log.out" | tr '\n' ' ')
  echo "memcheck: $suite: ${errors:-?} errors, definitely lost ${definite:-0} bytes," \
    "indirectly lost ${indirect:-0} bytes; $tests(exit $result)"
  [ $result -eq 0 ] || status=1
done
exit $status
