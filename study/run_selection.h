// The runs that a part of a sweep makes (--runs, --shard): a fixed choice among the runs of
// the whole sweep, so that jobs on any machines share out one sweep without overlap.
#pragma once

#include <string>
#include <vector>

#include "study/study.h"

// Whether settings ask for a part of the sweep only.
bool MakesPartOfSweep(const SweepSettings& settings);

// The runs of planned (PlanRuns: K ascending, then replicate) that settings ask for: those
// named by --runs; for --shard I/N, run i (from 0, in that order) where i mod N = I - 1, so
// that the N shares differ by one run at most and each holds replicates of every K (the
// long runs of large K spread over the shares). A run named by --runs that is not one of the
// sweep ends the run with one line.
std::vector<RunRecord> SelectRuns(const SweepSettings& settings,
                                  const std::vector<RunRecord>& planned);

// The runs for messages and commands: "3:1,3:2,4:1", as --runs takes them.
std::string DescribeRuns(const std::vector<RunId>& runs);
