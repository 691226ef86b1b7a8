#!/usr/bin/env bash
# Installs the Debian packages emclade needs (apt-get; root or sudo).
#   bash scripts/install-deps.sh          what building needs
#   bash scripts/install-deps.sh --test   and the peer tools the tests run (plink, bcftools,
#                                         chromium for the report, snakemake for the workflow,
#                                         slurm-wlm and munge for the scheduler test, ...)
#   bash scripts/install-deps.sh --bench  and what the benchmark scripts compare against
# Idempotent: does nothing (and prints nothing) when every package is already present.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libgsl-dev
  libcairo2-dev libfontconfig-dev libpng-dev fonts-liberation
  libhts-dev libcli11-dev
  libgtest-dev libgmock-dev googletest
  libbenchmark-dev
  clang libclang-rt-14-dev
)
for group in "$@"; do
  case $group in
    --test) packages+=(plink1.9 plink2 bcftools tabix chromium snakemake slurm-wlm munge) ;;
    --bench) packages+=(plink1.9 plink2 bcftools tabix r-cran-adegenet hyperfine time) ;;
    *) echo "install-deps.sh: unknown group $group (use --test or --bench)" >&2; exit 2 ;;
  esac
done

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
