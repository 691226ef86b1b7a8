#!/usr/bin/env python3
# Bootstrap standard errors against the number of loci, and their price: for each N x L given,
#   write_sample b<L> N L 3 0.05 2 2 7 0.5      (half of the individuals admixed)
# then one sweep at K = 3 with --bootstrap B; prints the mean standard error (q_se_mean), the
# seconds of the B replicates (the sweep's progress line) and the best run's own seconds
# (runs.tsv), and their ratio per replicate.
#   bootstrap_compare.py BUILD_DIR MODEL B N L [L ...] [-- MORE SWEEP OPTIONS]
import re, subprocess, sys
args = sys.argv[1:]
more = args[args.index("--") + 1:] if "--" in args else []
args = args[:args.index("--")] if "--" in args else args
build, model, B, N = args[0], args[1], args[2], args[3]
for L in args[4:]:
    p = f"b{N}x{L}"
    subprocess.run([f"{build}/bench/write_sample", p, N, L, "3", "0.05", "2", "2", "7", "0.5"],
                   check=True, stdout=subprocess.DEVNULL)
    run = subprocess.run([f"{build}/emclade-sweep", p + ".bed", "--k", "3", "--replicates", "2",
                          "--model", model, "--bootstrap", B, "--threads", "2", "--force",
                          "--out", p + ".sweep"] + more, check=True, capture_output=True, text=True)
    line = [l for l in run.stderr.splitlines() if "bootstrap of K" in l][0]
    m = re.search(r"replicates in (.*), mean", line)
    text = m.group(1)
    secs = (float(re.search(r"([\d.]+) s", text).group(1)) if "min" not in text else
            60 * float(re.search(r"(\d+) min", text).group(1)) +
            float(re.search(r"min (\d+) s", text).group(1)))
    rows = [l.split("\t") for l in open(p + ".sweep/summary.tsv")]
    se = float(rows[1][-1])
    runs = [l.split("\t") for l in open(p + ".sweep/runs.tsv")][1:]
    best = max(runs, key=lambda r: float(r[6]))
    print(f"{N} x {L}: q_se_mean {se:.5f}; {B} replicates {secs:.1f} s; best run {float(best[7]):.2f} s"
          f" ({best[4]} steps); per replicate / best run {secs / int(B) / float(best[7]):.2f}")
