#!/usr/bin/env bash
# Runs the FRR daemons (zebra, staticd) that the realcli tests reach through
# vtysh, by hand and out of the machine's way: every file they use (configs,
# vty sockets, zebra's socket, pid files, log) is in a private directory
# under /tmp owned by the user they drop to (frr), their crash logs included
# (a mount namespace puts the directory over /var/tmp), no vty listens on
# TCP, and they run in a network namespace of their own, which holds one
# extra interface whose name looks like a prompt ("HVB-x#1").
#
#   frr-daemons.sh start STATE_FILE   start them; STATE_FILE gets the
#                                     directory's path, or "skip: REASON"
#                                     where the machine cannot run them
#   frr-daemons.sh stop STATE_FILE    stop them and remove the directory
#
# A supervisor started with them ends them, removes the directory and so lets
# the namespace go when `stop` asks, and also when the process that ran
# `start` (ctest, or ZUBDM_FRR_WATCH_PID) ends, however it ends. Only the
# processes it started are signalled, by process id.
set -uo pipefail

readonly FRR_BIN=/usr/lib/frr
readonly IFNAME='HVB-x#1'
self=$(readlink -f "$0")

# The process's start time, which tells it from a later one with its id.
start_time() { awk '{ sub(/^.*\) /, ""); print $20 }' "/proc/$1/stat" 2>/dev/null; }

vtysh_in() { vtysh --vty_socket "$1" --config_dir "$1" -H /dev/null -c "$2"; }

# Why the daemons cannot run here; empty when they can.
unable() {
  [ "$(id -u)" -eq 0 ] || { echo "not root: the daemons need a network namespace and user frr"; return; }
  unshare -n -m true 2>/dev/null || { echo "no network or mount namespaces (unshare -n -m failed)"; return; }
  local program
  for program in "$FRR_BIN/zebra" "$FRR_BIN/staticd" /usr/bin/vtysh; do
    [ -x "$program" ] || { echo "$program missing (install the Debian package frr)"; return; }
  done
  getent passwd frr >/dev/null || { echo "no user frr"; return; }
  command -v ip >/dev/null || echo "ip missing (install iproute2)"
}

# Runs one daemon in the foreground with all of its state in $1.
daemon() {
  local dir=$1 name=$2
  "$FRR_BIN/$name" -u frr -g frr -P 0 -f "$dir/$name.conf" -i "$dir/$name.pid" \
    -z "$dir/zserv.api" --vty_socket "$dir" --log "file:$dir/frr.log" </dev/null &
}

# Ends the daemons of $1 by the ids in their pid files, each only if it is
# still a daemon of that directory.
end_daemons() {
  local dir=$1 name pid i
  for name in staticd zebra; do
    pid=$(cat "$dir/$name.pid" 2>/dev/null)
    [ -n "$pid" ] && grep -qF "$dir" "/proc/$pid/cmdline" 2>/dev/null || continue
    kill -TERM "$pid"
    for ((i = 0; i < 50; i++)); do
      grep -qF "$dir" "/proc/$pid/cmdline" 2>/dev/null || break
      sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null
  done
}

# Inside the new namespaces: /var/tmp (where the daemons keep their crash
# logs) from the directory, the interface, then the daemons; ends them when
# signalled or when either ends by itself.
in_namespace() {
  local dir=$1 pids=() i
  mkdir -p "$dir/var-tmp" && chown frr:frr "$dir/var-tmp" && mount --bind "$dir/var-tmp" /var/tmp || exit 1
  ip link set lo up
  # Some kernels lack the dummy type; a bridge with no ports is as inert.
  ip link add "$IFNAME" type dummy 2>/dev/null || ip link add "$IFNAME" type bridge || exit 1
  ip link set "$IFNAME" up
  trap 'kill -TERM "${pids[@]}" 2>/dev/null' TERM INT HUP
  daemon "$dir" zebra
  pids+=($!)
  for ((i = 0; i < 100; i++)); do
    [ -S "$dir/zserv.api" ] && break
    sleep 0.1
  done
  daemon "$dir" staticd
  pids+=($!)
  wait -n "${pids[@]}"
  kill -TERM "${pids[@]}" 2>/dev/null
  for ((i = 0; i < 50; i++)); do
    kill -0 "${pids[@]}" 2>/dev/null || break
    sleep 0.1
  done
  kill -KILL "${pids[@]}" 2>/dev/null
  wait
}

supervise() {
  local dir=$1 watched=$2 watched_since inner
  watched_since=$(start_time "$watched")
  unshare -n -m -- bash "$self" in-namespace "$dir" &
  inner=$!
  trap 'stopping=1' TERM INT HUP
  stopping=0
  while [ "$stopping" = 0 ] && kill -0 "$inner" 2>/dev/null &&
      [ -n "$watched_since" ] && [ "$(start_time "$watched")" = "$watched_since" ]; do
    sleep 0.5 &
    wait $! 2>/dev/null
  done
  kill -TERM "$inner" 2>/dev/null
  wait "$inner" 2>/dev/null
  end_daemons "$dir"
  rm -rf "$dir"
}

start() {
  local state_file=$1 reason dir i
  reason=$(unable)
  if [ -n "$reason" ]; then
    echo "skip: $reason" >"$state_file"
    echo "frr-daemons: not started: $reason"
    exit 0
  fi
  [ -s "$state_file" ] && stop "$state_file"
  dir=$(mktemp -d /tmp/zfrr.XXXXXX) || exit 1
  for name in zebra staticd vtysh; do echo "hostname HVB" >"$dir/$name.conf"; done
  chown -R frr:frr "$dir" && chmod 700 "$dir"
  # Detached, its output away from ctest's pipe (ctest would wait for it).
  setsid bash "$self" supervise "$dir" "${ZUBDM_FRR_WATCH_PID:-$PPID}" \
    </dev/null >/dev/null 2>&1 &
  echo $! >"$dir/supervisor.pid"
  for ((i = 0; i < 200; i++)); do
    if [ -S "$dir/zebra.vty" ] && [ -S "$dir/staticd.vty" ] &&
        vtysh_in "$dir" "show interface brief" 2>/dev/null | grep -qF "$IFNAME"; then
      echo "$dir" >"$state_file"
      echo "frr-daemons: running in $dir (supervisor $(cat "$dir/supervisor.pid"))"
      exit 0
    fi
    sleep 0.1
  done
  echo "frr-daemons: the daemons did not come up; their log:" >&2
  cat "$dir/frr.log" >&2 2>/dev/null
  echo "$dir" >"$state_file"
  stop "$state_file"
  exit 1
}

stop() {
  local state_file=$1 dir supervisor since i
  dir=$(cat "$state_file" 2>/dev/null)
  rm -f "$state_file"
  case "$dir" in /tmp/zfrr.*) ;; *) return 0 ;; esac
  supervisor=$(cat "$dir/supervisor.pid" 2>/dev/null)
  if [ -n "$supervisor" ] && grep -qF "$dir" "/proc/$supervisor/cmdline" 2>/dev/null; then
    since=$(start_time "$supervisor")
    kill -TERM "$supervisor"
    for ((i = 0; i < 100; i++)); do
      [ "$(start_time "$supervisor")" = "$since" ] || break
      sleep 0.1
    done
  fi
  # A supervisor that was itself killed left its daemons behind.
  end_daemons "$dir"
  rm -rf "$dir"
  echo "frr-daemons: stopped"
}

case "${1:-}" in
  start) start "${2:?state file}" ;;
  stop) stop "${2:?state file}" ;;
  supervise) supervise "$2" "$3" ;;
  in-namespace) in_namespace "$2" ;;
  *) echo "usage: $0 start|stop STATE_FILE" >&2; exit 2 ;;
esac
