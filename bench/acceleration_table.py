#!/usr/bin/env python3
"""The acceleration table of bench/README.md ("Acceleration") from the lines of starts_compare.

    acceleration_table.py RUNS.tsv [RUNS2.tsv:LABEL ...]

RUNS.tsv holds the runs of `starts_compare --accelerations none,squarem` (one strategy); each
further file's runs are added under LABEL (e.g. a --stop per-copy run of squarem). Per case:
the median EM steps per run and the median seconds per run of every group, their ratio to the
first group (none), and the best log-likelihood of the replicates with the adjusted Rand index
of that best run against the truth (as a difference from the first group)."""
import csv
import statistics
import sys
from collections import OrderedDict


def read(path, label=None):
    rows = []
    for row in csv.DictReader(open(path), delimiter="\t"):
        if label:
            row["acceleration"] = label
        rows.append(row)
    return rows


def main():
    rows = read(sys.argv[1])
    for extra in sys.argv[2:]:
        path, label = extra.rsplit(":", 1)
        rows += read(path, label)
    cases = OrderedDict()
    groups = []
    for row in rows:
        cases.setdefault(row["case"], OrderedDict()).setdefault(row["acceleration"], []).append(row)
        if row["acceleration"] not in groups:
            groups.append(row["acceleration"])
    ref = groups[0]
    head = ["case"]
    for g in groups:
        head += ["`%s` steps" % g, "`%s` s" % g]
    for g in groups:
        head += ["`%s` best / ARI" % g]
    print("| " + " | ".join(head) + " |")
    print("|---" * len(head) + "|")
    worse = []
    for case, of in cases.items():
        cells = [case]
        med = {}
        best = {}
        for g in groups:
            rs = of.get(g, [])
            if not rs:
                cells += ["", ""]
                continue
            steps = statistics.median(int(r["iterations"]) for r in rs)
            secs = statistics.median(float(r["run_s"]) for r in rs)
            med[g] = (steps, secs)
            top = max(rs, key=lambda r: float(r["loglik"]))
            best[g] = (float(top["loglik"]), float(top["ari"]))
            if g == ref or ref not in med:
                cells += ["%g" % steps, "%.3f" % secs]
            else:
                cells += ["%g (%.2f×)" % (steps, med[ref][0] / steps),
                          "%.3f (%.2f×)" % (secs, med[ref][1] / secs if secs > 0 else float("inf"))]
        for g in groups:
            if g not in best:
                cells.append("")
            elif g == ref:
                cells.append("%.1f / %.3f" % best[g])
            else:
                d = best[g][0] - best[ref][0]
                cells.append("%+.2f / %.3f" % (d, best[g][1]))
                if d < -0.1 or best[g][1] < best[ref][1] - 1e-9:
                    worse.append("%s `%s` (%+.2f / %.3f against %.3f)" %
                                 (case, g, d, best[g][1], best[ref][1]))
        print("| " + " | ".join(cells) + " |")
    print("\nBest log-likelihood lower than `%s`'s by more than 0.1, or a lower Rand index: %s" %
          (ref, "; ".join(worse) if worse else "none"))


if __name__ == "__main__":
    main()
