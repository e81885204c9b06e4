#!/usr/bin/env bash
# Runs clang-tidy with the project's checks over the library's sources.
set -euo pipefail
build=${1:-build}
cd "$(dirname "$0")/.."
[ -f "$build/compile_commands.json" ] || cmake -S . -B "$build" >/dev/null
mapfile -t sources < <(git ls-files 'src/*.cpp')
echo "lint: clang-tidy on ${#sources[@]} files"
printf '%s\n' "${sources[@]}" |
  xargs -P "${JOBS:-2}" -n 4 clang-tidy -p "$build" --quiet 2>/dev/null
echo "lint: clean"
