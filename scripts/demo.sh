#!/usr/bin/env bash
# A short session with the zubdm command against the bundled CLI simulator.
set -uo pipefail
build=${1:-build}
zubdm="$build/tools/zubdm/zubdm --simulator"

step() { printf '\n\033[1m== %s\033[0m\n$ %s\n' "$1" "$2"; }
run() {
  local title=$1; shift
  local shown="" arg
  for arg in "$@"; do
    case $arg in *" "*|*'"'*) shown+=" '$arg'" ;; *) shown+=" $arg" ;; esac
  done
  step "$title" "zubdm --simulator$shown"
  $zubdm "$@"
  echo "(exit status $?)"
}

run "A show command, and one value looked up in its XML" \
  "show interfaces" --find B port admin
run "Commands in configuration mode (config-if for interface B), then B's state" \
  -m config-if -a B --find B port admin --batch <(printf '# shut B down, describe it, look again\nshutdown\ndescription spare port\nshow interfaces\n')
run "A command the element rejects" \
  "frobnicate the widgets"
run "One result as JSON, for scripts" \
  --json -m config "hostname edge-1"
