#!/usr/bin/env bash
# Builds the libFuzzer targets (clang++, AddressSanitizer + UndefinedBehaviorSanitizer)
# and runs each for a bounded time, starting from the seed corpus in tests/fuzz/corpus/.
#   bash scripts/fuzz.sh [seconds per target, default 60]
# A failing input is written to build-fuzz/artifacts/<target>/; keep it as a regression
# test by copying it to tests/fuzz/regressions/<corpus name>/ once the fault is fixed.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

seconds=${1:-60}
build=build-fuzz
cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DEMCLADE_FUZZ=ON -DEMCLADE_TESTS=OFF -DEMCLADE_BENCH=OFF -DEMCLADE_WERROR=ON >/dev/null
# target:corpus name[:share]; a target with a share of 2 runs for half the time (the study
# readers, so that CI time stays bounded as their number grows).
targets=(genotype_file_fuzz:genotype_file genotype_file_small_buffer_fuzz:genotype_file
  command_line_fuzz:command_line structure_fuzz:structure:2 genepop_fuzz:genepop:2
  populations_fuzz:populations:2 plink_fuzz:plink:2 supervision_fuzz:supervision:2
  projection_fuzz:projection:2)
cmake --build "$build" -j "$(nproc)" --target "${targets[@]%%:*}"

status=0
for entry in "${targets[@]}"; do
  IFS=: read -r target corpus share <<<"$entry"
  time=$((seconds / ${share:-1}))
  seeds=tests/fuzz/corpus/$corpus
  found=$build/corpus/$target        # inputs the fuzzer adds; kept between runs
  artifacts=$build/artifacts/$target
  log=$build/$target.log
  mkdir -p "$found" "$artifacts"
  if "$build/tests/fuzz/$target" "$found" "$seeds" -max_total_time="$time" -timeout=10 \
    -rss_limit_mb=2048 -max_len=8192 -print_final_stats=1 -artifact_prefix="$artifacts/" \
    >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    echo "$target: ${time} s, ${runs} executions, no failure"
  else
    status=1
    echo "$target: FAILED (log: $log, inputs: $artifacts/)"
    grep -v '^#' "$log" | tail -n 30
  fi
done
exit $status
