#!/usr/bin/env bash
# Installs what is missing, builds emclade and runs a demo analysis of simulated data into
# demo-output/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DEMCLADE_TESTS=OFF -DEMCLADE_BENCH=OFF >/dev/null
cmake --build build -j "$(nproc)" --target emclade emclade-sweep
mkdir -p demo-output
# Simulates a data set with the defaults of the usage text, saves it with its ground truth
# and analyses it.
./build/emclade -Ds -Fdemo.txt -odemo-output -N150 -A2 -L10 -K3 -I1000
echo "Results are in demo-output/:"
ls -1 demo-output

# A whole study of a larger simulated sample (300 individuals, 30 loci, 3 clusters): K 1 to 6,
# ten replicates each, the choice of K, aligned results, plots and a report.
mkdir -p demo-output/study
./build/emclade -Ds -Fstudy.txt -odemo-output/study -N300 -A2 -L30 -K3 -I10 >/dev/null
./build/emclade-sweep demo-output/study/study.txt --k 1-6 --replicates 10 \
  --out demo-output/study.sweep
echo "The study's tables, plots and report (open report.html) are in demo-output/study.sweep/"
