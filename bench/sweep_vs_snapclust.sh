#!/usr/bin/env bash
# The study command against adegenet's snapclust.choose.k on one simulated microsatellite data
# set (700 diploid individuals, 30 loci of 15 alleles, 4 clusters), same machine, interleaved:
#   bash bench/sweep_vs_snapclust.sh BUILD [REPEATS]
# BUILD holds emclade and emclade-sweep (a release build). Prints every time, the medians, the
# load average before each measurement, and the best log-likelihood per K of both tools.
# Needs r-cran-adegenet (bash scripts/install-deps.sh --bench).
set -euo pipefail
build=$(cd "$1" && pwd)
repeats=${2:-3}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
"$build/emclade" -Do -Fsim700.txt -N700 -A2 -L30 -K4 -I1 -j15 >/dev/null

seconds() { /usr/bin/time -f %e -o timing "$@" >/dev/null 2>&1; cat timing; }
median() { sort -g | awk '{v[NR]=$1} END {print (NR%2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'; }
: >t1; : >t2; : >tr
for i in $(seq "$repeats"); do
  echo "load $(cut -d' ' -f1-3 /proc/loadavg): sweep, 1 thread"
  seconds "$build/emclade-sweep" sim700.txt --k 1-16 --replicates 10 --threads 1 --out s1 | tee -a t1
  echo "load $(cut -d' ' -f1-3 /proc/loadavg): sweep, 2 threads"
  seconds "$build/emclade-sweep" sim700.txt --k 1-16 --replicates 10 --threads 2 --out s2 | tee -a t2
  echo "load $(cut -d' ' -f1-3 /proc/loadavg): snapclust.choose.k(16), one start per K"
  Rscript "$here/snapclust_sweep.R" sim700.txt 2 16 >snapclust.tsv
  grep '^seconds' snapclust.tsv | cut -f2 | tee -a tr
done
echo "median seconds: sweep 1 thread $(median <t1), sweep 2 threads $(median <t2), snapclust $(median <tr)"
echo "best log-likelihood per K (sweep: best of 10 replicates; snapclust: its own, and its partition's mixture log-likelihood)"
paste <(cut -f1,4 s2/summary.tsv) <(cut -f2,3 snapclust.tsv | sed '$d')
