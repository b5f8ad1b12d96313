#!/usr/bin/env bash
# Installs the Debian packages the build needs that are missing (as root),
# or names them (otherwise). Packages named as arguments are added to the
# list (the benchmarks use this for their plotting tool).
set -euo pipefail

packages=(cmake g++ make clang libclang-rt-14-dev libsqlite3-dev nlohmann-json3-dev
          libreadline-dev libexpat1-dev libgtest-dev libbenchmark-dev "$@")
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "missing packages: ${missing[*]} (run as root to install them)" >&2
  exit 1
fi
echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get install -y -q "${missing[@]}" >/dev/null 2>&1 || {
  apt-get update -q >/dev/null
  apt-get install -y -q "${missing[@]}" >/dev/null
}
