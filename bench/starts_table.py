#!/usr/bin/env python3
"""The tables of bench/README.md ("Starts") from the lines of starts_compare.

    starts_table.py RUNS.tsv [REFERENCE]

Per case and strategy, over its replicates: the best log-likelihood (written as its distance
from the best of REFERENCE, default the classic "ward" start), the adjusted Rand index of that
best run against the truth, and the medians of the start's and the run's seconds; then a check
of every strategy against REFERENCE on both figures; and, where the lines have it, the best
run's largest mean missing share of a cluster's members over the sample's."""
import csv
import statistics
import sys
from collections import OrderedDict


def main():
    path = sys.argv[1]
    reference = sys.argv[2] if len(sys.argv) > 2 else "ward"
    runs = OrderedDict()
    strategies = []
    for row in csv.DictReader(open(path), delimiter="\t"):
        runs.setdefault(row["case"], OrderedDict()).setdefault(row["strategy"], []).append(row)
        if row["strategy"] not in strategies:
            strategies.append(row["strategy"])
    best = {}
    missing = {}
    for case, of in runs.items():
        for strategy, rows in of.items():
            top = max(rows, key=lambda r: float(r["loglik"]))
            best[case, strategy] = (float(top["loglik"]), float(top["ari"]))
            if "missing_ratio" in top:
                missing[case, strategy] = float(top["missing_ratio"])

    print("Best log-likelihood of 10 replicates, as the difference from the best of 10 `%s`"
          " starts, / adjusted Rand index of that run against the truth:\n" % reference)
    print("| case | `%s` best | " % reference + " | ".join("`%s`" % s for s in strategies) + " |")
    print("|---" * (len(strategies) + 2) + "|")
    for case in runs:
        ref_ll, _ = best[case, reference]
        cells = []
        for s in strategies:
            if (case, s) not in best:
                cells.append("")
                continue
            ll, ari = best[case, s]
            cells.append("%+.1f / %.2f" % (ll - ref_ll, ari))
        print("| %s | %.1f | %s |" % (case, ref_ll, " | ".join(cells)))

    print("\nMedian seconds per run: the start alone / the whole run (start and EM); the"
          " shared Ward tree once per sweep in brackets:\n")
    print("| case | " + " | ".join("`%s`" % s for s in strategies) + " |")
    print("|---" * (len(strategies) + 1) + "|")
    for case, of in runs.items():
        cells = []
        for s in strategies:
            rows = of.get(s)
            if not rows:
                cells.append("")
                continue
            start = statistics.median(float(r["start_s"]) for r in rows)
            run = statistics.median(float(r["run_s"]) for r in rows)
            tree = float(rows[0]["tree_s"])
            cell = "%.3f / %.2f" % (start, run)
            if tree > 0:
                cell += " [%.2f]" % tree
            cells.append(cell)
        print("| %s | %s |" % (case, " | ".join(cells)))

    print("\nSeconds of the sweep at the true K (the Ward tree and the runs' seconds summed) over"
          " those of `%s`:\n" % reference)
    print("| case | " + " | ".join("`%s`" % s for s in strategies) + " |")
    print("|---" * (len(strategies) + 1) + "|")
    for case, of in runs.items():
        def sweep(rows):
            return float(rows[0]["tree_s"]) + sum(float(r["run_s"]) for r in rows)
        base = sweep(of[reference]) if reference in of else 0.0
        cells = ["%.2f" % (sweep(of[s]) / base) if s in of and base > 0 else ""
                 for s in strategies]
        print("| %s | %s |" % (case, " | ".join(cells)))

    if missing:
        print("\nThe best run's largest mean missing share of a cluster's members, over the"
              " sample's (hard assignment; the target is at most 2):\n")
        print("| case | " + " | ".join("`%s`" % s for s in strategies) + " |")
        print("|---" * (len(strategies) + 1) + "|")
        for case in runs:
            cells = ["%.2f" % missing[case, s] if (case, s) in missing else ""
                     for s in strategies]
            print("| %s | %s |" % (case, " | ".join(cells)))

    print("\nCases where a strategy's best is below the best `%s` in log-likelihood or in"
          " adjusted Rand index:\n" % reference)
    for s in strategies:
        below = []
        for case in runs:
            if (case, s) not in best:
                continue
            ll, ari = best[case, s]
            ref_ll, ref_ari = best[case, reference]
            if ll < ref_ll - 1e-6 or ari < ref_ari - 1e-9:
                below.append("%s (%+.1f / %.2f against %.2f)" % (case, ll - ref_ll, ari, ref_ari))
        print("- `%s`: %s" % (s, "; ".join(below) if below else "none"))


if __name__ == "__main__":
    main()
