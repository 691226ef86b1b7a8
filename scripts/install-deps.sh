#!/usr/bin/env bash
# Installs the Debian packages emclade needs to build, test and benchmark.
# Idempotent: does nothing (and prints nothing) when every package is already present.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libgsl-dev
  libcairo2-dev libfontconfig-dev libpng-dev fonts-liberation
  libgtest-dev libgmock-dev googletest
  libbenchmark-dev
  clang libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
