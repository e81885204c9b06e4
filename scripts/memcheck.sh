#!/usr/bin/env bash
# valgrind memcheck over the integration suites (the mediator and controller
# tests), once each; the CLI simulators they start are not traced. Prints the
# error and leak figures of each suite and fails on any error or definite or
# indirect leak.
#
#   scripts/memcheck.sh [BUILD_DIR [SUITE...]]
set -uo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
shift || true
suites=("$@")
[ ${#suites[@]} -gt 0 ] || suites=(test_mediator test_controller)
status=0
for suite in "${suites[@]}"; do
  log=$build/memcheck-$suite.log
  # The suites' slow rows (64 MiB and 256 MiB replies) run as well; the long
  # soak stays out (its short version runs).
  valgrind --tool=memcheck --trace-children=no --leak-check=full \
    --show-leak-kinds=definite,indirect --errors-for-leak-kinds=definite,indirect \
    --error-exitcode=99 --num-callers=30 --log-file="$log" \
    "$build/tests/$suite" >"$log.out" 2>&1
  result=$?
  # Summed over the suite's process and the children it forks (which stay
  # traced until they exec).
  total() { sed -n "s/.*$1 \([0-9,]*\) .*/\1/p" "$log" | tr -d , | awk '{s += $1} END {print s + 0}'; }
  errors=$(total 'ERROR SUMMARY:')
  definite=$(total 'definitely lost:')
  indirect=$(total 'indirectly lost:')
  tests=$(grep -E '^\[  (PASSED|FAILED)  \]' "$log.out" | tr '\n' ' ')
  echo "memcheck: $suite: ${errors:-?} errors, definitely lost ${definite:-0} bytes," \
    "indirectly lost ${indirect:-0} bytes; $tests(exit $result)"
  [ $result -eq 0 ] || status=1
done
exit $status
