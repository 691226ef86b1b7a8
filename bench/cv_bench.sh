#!/usr/bin/env bash
# The choice of K by cross-validation (--cv) on two simulated admixed samples of known K 3
# (bench/write_sample: SNP-like 300 x 2,000 and microsatellite-like 500 x 30 loci of 10-20
# alleles, F_ST 0.05, 30 % admixed), both models:
#   bash bench/cv_bench.sh BUILD [REPEATS] [FOLDS]
# BUILD holds emclade-sweep and bench/write_sample (a release build). For every sample and
# model, the sweep (K 1-5, 2 replicates, 2 threads) without and with --cv FOLDS, interleaved
# REPEATS times: every time with the load average before it, the medians and their ratio, and
# the summary's BIC, cv_error, cv_se and chosen K.
set -euo pipefail
build=$(cd "$1" && pwd)
repeats=${2:-3}
folds=${3:-5}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
"$build/bench/write_sample" snp 300 2000 3 0.05 2 2 7 0.3
"$build/bench/write_sample" ms 500 30 3 0.05 10 20 7 0.3

seconds() { /usr/bin/time -f %e -o timing "$@" >/dev/null 2>&1; cat timing; }
median() { sort -g | awk '{v[NR]=$1} END {print (NR%2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'; }
for input in snp.bed ms.str; do
  for model in mixture admixture; do
    : >plain; : >cv
    for i in $(seq "$repeats"); do
      common=("$build/emclade-sweep" "$input" --k 1-5 --replicates 2 --threads 2 --model "$model"
        --quiet --force)
      echo "load $(cut -d' ' -f1-3 /proc/loadavg): $input $model without --cv"
      seconds "${common[@]}" --out plain.sweep | tee -a plain
      echo "load $(cut -d' ' -f1-3 /proc/loadavg): $input $model --cv $folds"
      seconds "${common[@]}" --cv "$folds" --out cv.sweep | tee -a cv
    done
    p=$(median <plain)
    c=$(median <cv)
    echo "== $input $model: median seconds without --cv $p, with --cv $folds $c, ratio" \
      "$(awk -v p="$p" -v c="$c" 'BEGIN {printf "%.2f", c / p}')"
    echo "K BIC chosen_by_BIC chosen_by_cv cv_error cv_se"
    paste <(cut -f1,9,14 plain.sweep/summary.tsv) <(cut -f16,17,14 cv.sweep/summary.tsv) | sed 1d
  done
done
