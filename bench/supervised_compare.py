#!/usr/bin/env python3
# Supervised admixture against the truth: run in a folder holding s.bed/.fam and s.ancestry from
#   write_sample s 600 2000 3 0.05 2 2 7 0.5
# (the unmixed individuals are the references, named by their population); prints the
# admixed individuals' RMSE. The build folder is the first argument (default: build).
import math, subprocess, sys, time
fam=[l.split() for l in open("s.fam")]
anc=[[float(x) for x in l.split()] for l in open("s.ancestry")]
pops=["pop1","pop2","pop3"]
with open("ref.tsv","w") as f:
    for (fid,iid,*_),a in zip(fam,anc):
        if max(a)==1.0: f.write(f"{iid}\t{fid}\n")
t=time.monotonic()
build=sys.argv[1] if len(sys.argv)>1 else "build"
subprocess.run([f"{build}/emclade-sweep","s.bed","--supervised","ref.tsv","--model","admixture","--replicates","1","--threads","2","--out","sv","--quiet"],check=True,stdout=subprocess.DEVNULL)
secs=time.monotonic()-t
order=[]
for (fid,iid,*_),a in zip(fam,anc):
    if max(a)==1.0 and fid not in order: order.append(fid)
Q=[[float(x) for x in l.split()] for l in open("sv/best/K3.Q")]
idx=[int(p[3:])-1 for p in order]   # cluster c is population order[c]
rows=[n for n,a in enumerate(anc) if max(a)<1.0]
s=sum((Q[n][c]-anc[n][idx[c]])**2 for n in rows for c in range(3))
refs=sum(1 for a in anc if max(a)==1.0)
print(f"refs {refs} admixed {len(rows)} seconds {secs:.1f} RMSE admixed {math.sqrt(s/(3*len(rows))):.4f}")
