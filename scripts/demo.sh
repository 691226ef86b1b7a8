#!/usr/bin/env bash
# Installs what is missing, builds emclade and runs a demo analysis of simulated data into
# demo-output/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DEMCLADE_TESTS=OFF -DEMCLADE_BENCH=OFF >/dev/null
cmake --build build -j "$(nproc)" --target emclade
mkdir -p demo-output
# Simulates a data set with the defaults of the usage text, saves it with its ground truth
# and analyses it.
./build/emclade -Ds -Fdemo.txt -odemo-output -N150 -A2 -L10 -K3 -I1000
echo "Results are in demo-output/:"
ls -1 demo-output
