#!/usr/bin/env bash
# Installs the Debian packages that building, testing and benchmarking zubdm
# need, and only those that are missing. Run as root on Debian 12.
#
# frr gives the tests a real interactive CLI (vtysh); its daemons are
# started by the tests themselves (tests/realcli/frr-daemons.sh), never as a
# system service: while packages are installed, /usr/sbin/policy-rc.d
# forbids service starts, and the machine's own policy (or none) is put back
# afterwards.
set -euo pipefail

packages=(
  cmake make g++ pkg-config
  libboost-dev libexpat1-dev nlohmann-json3-dev libedit-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang clang-tidy clang-format libclang-rt-14-dev llvm
  valgrind python3
  frr iproute2
)
if [ "${ZUBDM_BENCH_DEPS:-0}" = 1 ]; then
  packages+=(expect python3-pexpect)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ "${#missing[@]}" -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: missing packages: ${missing[*]}; run as root to install them" >&2
  exit 1
fi

policy=/usr/sbin/policy-rc.d
saved=""
restore_policy() {
  if [ -n "$saved" ]; then
    mv -f "$saved" "$policy"
  else
    rm -f "$policy"
  fi
}
if [ -e "$policy" ] || [ -L "$policy" ]; then
  saved=$(mktemp /usr/sbin/.policy-rc.d.XXXXXX)
  cp -a "$policy" "$saved"
fi
trap restore_policy EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
printf '#!/bin/sh\n# No service starts while zubdm installs its packages.\nexit 101\n' > "$policy.new"
chmod 755 "$policy.new"
mv -f "$policy.new" "$policy"

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
