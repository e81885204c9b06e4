#!/usr/bin/env bash
# Installs the Debian packages that building, testing and benchmarking zubdm
# need, and only those that are missing. Run as root on Debian 12.
set -euo pipefail

packages=(
  cmake make g++ pkg-config
  libboost-dev libexpat1-dev nlohmann-json3-dev libedit-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang clang-tidy clang-format libclang-rt-14-dev llvm
  valgrind python3
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
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
