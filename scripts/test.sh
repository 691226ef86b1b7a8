#!/usr/bin/env bash
# Installs what is missing, then builds and runs the whole test suite twice: a normal
# build with warnings as errors, and a build under AddressSanitizer and
# UndefinedBehaviorSanitizer; then fuzzes every text reader and the command line for a
# bounded time (EMCLADE_FUZZ_SECONDS per target, default 60; half that for the study
# command's readers). Between the two, the sweep workflow through a one-node SLURM started on
# this machine (scripts/test-slurm.sh; skipped, with a line, where not root).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh --test

jobs=$(nproc)
run_suite() {
  local dir=$1
  shift
  cmake -S . -B "$dir" -DEMCLADE_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" -j "$jobs" --output-on-failure
}

echo "== Tests (release build, warnings as errors) =="
run_suite build-test -DCMAKE_BUILD_TYPE=Release
echo "== The sweep workflow through SLURM (one node on this machine; bounded) =="
slurm=0
timeout -k 10 600 bash scripts/test-slurm.sh build-test || slurm=$?
[ "$slurm" -eq 0 ] || [ "$slurm" -eq 77 ] || { echo "test-slurm.sh failed ($slurm)"; exit 1; }
echo "== Tests (AddressSanitizer + UndefinedBehaviorSanitizer) =="
run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DEMCLADE_SANITIZE=ON -DEMCLADE_BENCH=OFF
echo "== Fuzzing (libFuzzer, ${EMCLADE_FUZZ_SECONDS:-60} s per target) =="
bash scripts/fuzz.sh "${EMCLADE_FUZZ_SECONDS:-60}"

# Reached only when every step passed (set -e): the closing count of both suites.
count_tests() { ctest --test-dir "$1" -N | sed -n 's/^Total Tests: //p'; }
echo "tests: $(($(count_tests build-test) + $(count_tests build-asan))) passed, 0 failed"
