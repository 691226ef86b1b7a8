#!/usr/bin/env python3
"""Projection against a full run, on a simulated admixed SNP sample (bench/write_sample).

  projection_compare.py EMCLADE_SWEEP WRITE_SAMPLE WORKDIR N L [THREADS]

Simulates N individuals x L SNPs (K = 3, F_ST 0.05, half admixed, seed 7), makes a study of
the even-numbered individuals, projects the odd-numbered ones onto it, and runs the full study
of all N. Prints the study's best-run seconds, the projection's seconds, and the RMSE of the
odd-numbered individuals' Q against the true ancestry, projected and from the full run (each
under the cluster permutation that fits the truth best)."""
import itertools, math, os, subprocess, sys, time

sweep, write_sample, work, N, L = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4]), int(sys.argv[5])
threads = sys.argv[6] if len(sys.argv) > 6 else "1"
os.makedirs(work, exist_ok=True)
os.chdir(work)
subprocess.run([write_sample, "s", str(N), str(L), "3", "0.05", "2", "2", "7", "0.5"], check=True,
               stdout=subprocess.DEVNULL)

def subset(keep, prefix):
    fam = open("s.fam").read().splitlines()
    open(prefix + ".fam", "w").write("".join(fam[n] + "\n" for n in keep))
    open(prefix + ".bim", "w").write(open("s.bim").read())
    data = open("s.bed", "rb").read()
    per = (N + 3) // 4
    out = bytearray(b"\x6c\x1b\x01")
    per_out = (len(keep) + 3) // 4
    for l in range(L):
        row = data[3 + l * per: 3 + (l + 1) * per]
        new = bytearray(per_out)
        for i, n in enumerate(keep):
            bits = (row[n // 4] >> (2 * (n % 4))) & 3
            new[i // 4] |= bits << (2 * (i % 4))
        out += new
    open(prefix + ".bed", "wb").write(out)

even, odd = list(range(0, N, 2)), list(range(1, N, 2))
subset(even, "study")
subset(odd, "new")
truth = [[float(x) for x in line.split()] for line in open("s.ancestry")]

def run(args):
    began = time.monotonic()
    subprocess.run([sweep] + args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.monotonic() - began

common = ["--k", "3", "--replicates", "1", "--model", "admixture", "--threads", threads, "--quiet"]
run(["study.bed", "--out", "study.sweep"] + common)
best = [l.split("\t") for l in open("study.sweep/runs.tsv").read().splitlines()]
head = best[0]
study_seconds = float(best[1][head.index("seconds")])
project_seconds = run(["project", "study.sweep", "new.bed", "--k", "3", "--out", "new.proj",
                       "--threads", threads, "--quiet"])
run(["s.bed", "--out", "all.sweep"] + common)

def rmse(Q, rows):
    best_value = None
    for perm in itertools.permutations(range(3)):
        s = sum((Q[i][perm[k]] - truth[n][k]) ** 2 for i, n in enumerate(rows) for k in range(3))
        value = math.sqrt(s / (3 * len(rows)))
        best_value = value if best_value is None else min(best_value, value)
    return best_value

def read_q(path):
    return [[float(x) for x in line.split()] for line in open(path)]

projected = rmse(read_q("new.proj/K3.Q"), odd)
full_q = read_q("all.sweep/best/K3.Q")
full = rmse([full_q[n] for n in odd], odd)
print(f"N {N} L {L} threads {threads}: study best run {study_seconds:.2f} s, projection "
      f"{project_seconds:.2f} s (ratio {project_seconds / study_seconds:.3f}); RMSE of the "
      f"projected half: projected {projected:.4f}, full run {full:.4f} (difference "
      f"{projected - full:+.4f})")
