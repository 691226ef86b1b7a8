#!/usr/bin/env bash
# Installs what is missing, builds emclade and runs a demo analysis into demo-output/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DEMCLADE_TESTS=OFF -DEMCLADE_BENCH=OFF >/dev/null
cmake --build build -j "$(nproc)" --target emclade
mkdir -p demo-output
./build/emclade -Dl -Fexample.str -iexamples -odemo-output -N12 -A2 -L5 -K2 -I200 -r1 -c1
echo "Results are in demo-output/:"
ls -1 demo-output
