#!/usr/bin/env bash
# Whole-process figures at SNP scale, the program side by side with a baseline build and a
# plain ifstream reader, interleaved run by run; medians of the runs.
#   bash bench/process_figures.sh BUILD_DIR [RUNS (default 3)] [BASELINE_EMCLADE]
# BUILD_DIR holds emclade and bench/plain_reader (a Release build). The data files are made
# once, in $EMCLADE_BENCH_DATA (default /tmp/emclade-process):
#   snp.txt: -Do -N2000 -A2 -L50000 -K4 -j2   (about 400 MB, 2 x 10^8 biallelic copies)
#   ms.txt:  -Do -N5000 -A2 -L5000 -K4 -j10   (about 100 MB, 10 alleles per locus)
# Wall and user seconds and peak resident memory come from /usr/bin/time; "run" is the
# program's own "This run takes" figure (starting after reading and coding).
set -euo pipefail
build=$(realpath "$1")
runs=${2:-3}
baseline=${3:-/work/baseline/emclade}
data=${EMCLADE_BENCH_DATA:-/tmp/emclade-process}
mkdir -p "$data/out"
cd "$data"
[ -f snp.txt ] || "$build/emclade" -Do -Fsnp.txt -N2000 -A2 -L50000 -K4 -I1 -j2 >/dev/null
[ -f ms.txt ] || "$build/emclade" -Do -Fms.txt -N5000 -A2 -L5000 -K4 -I1 -j10 >/dev/null

results=$(mktemp)
# measure NAME COMMAND...: one run, appended as "NAME wall user maxrss_kb run_seconds".
measure() {
  local name=$1 log
  shift
  log=$(mktemp)
  /usr/bin/time -f "%e %U %M" -o "$log.time" "$@" >"$log" 2>&1
  local run
  run=$(sed -n 's/^This run takes \([0-9.]*\) seconds.*/\1/p' "$log")
  echo "$name $(cat "$log.time") ${run:--}" >>"$results"
  rm -f "$log" "$log.time"
}

for ((i = 1; i <= runs; i++)); do
  measure ifstream "$build/bench/plain_reader" ms.txt 5000 2 5000
  for which in baseline program; do
    exe=$baseline
    [ $which = program ] && exe=$build/emclade
    measure "$which-ms-K1-I1" "$exe" -Dl -Fms.txt -N5000 -A2 -L5000 -K1 -I1 -mr -oout
    measure "$which-snp-K4-I1" "$exe" -Dl -Fsnp.txt -N2000 -A2 -L50000 -K4 -I1 -mr -oout
    measure "$which-snp-K4-I20" "$exe" -Dl -Fsnp.txt -N2000 -A2 -L50000 -K4 -I20 -mr -oout
  done
done

echo "load average: $(cut -d' ' -f1-3 /proc/loadavg); $runs runs; medians"
printf '%-22s %9s %9s %11s %9s\n' what wall_s user_s peak_MiB run_s
awk '{ n = $1; c[n]++; w[n, c[n]] = $2; u[n, c[n]] = $3; m[n, c[n]] = $4; r[n, c[n]] = $5;
       if (!(n in seen)) { seen[n] = 1; order[++k] = n } }
     function median(a, n, cnt,   i, j, t, v) {
       for (i = 1; i <= cnt; i++) v[i] = a[n, i]
       for (i = 1; i <= cnt; i++) for (j = i + 1; j <= cnt; j++) if (v[j] + 0 < v[i] + 0) { t = v[i]; v[i] = v[j]; v[j] = t }
       return v[int((cnt + 1) / 2)]
     }
     END { for (i = 1; i <= k; i++) { n = order[i];
             printf "%-22s %9.2f %9.2f %11.1f %9s\n", n, median(w, n, c[n]), median(u, n, c[n]),
                    median(m, n, c[n]) / 1024, median(r, n, c[n]) } }' "$results"
rm -f "$results"
