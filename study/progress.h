// The progress of a sweep on standard error: on a terminal one line rewritten in place (runs
// done of all, time elapsed, estimated time left); otherwise one line for every K, when its
// last run finishes.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "study/study.h"

struct SweepProgress {
  bool terminal = false;
  int32_t total = 0, done = 0;
  double totalWeight = 0.0, doneWeight = 0.0;  // a run weighs its K: EM work grows with K
  std::chrono::steady_clock::time_point began;
  std::vector<int32_t> clusterCounts;  // ascending
  std::vector<int32_t> left;           // runs still to finish, per K
  std::vector<int32_t> converged;      // per K
  std::vector<double> best;            // best log-likelihood so far, per K
  bool drawn = false;
};

// Starts the count for these runs (K and replicate set).
void BeginProgress(SweepProgress& progress, const std::vector<RunRecord>& runs, bool terminal);

// Counts a finished run and writes what is due.
void CountFinishedRun(SweepProgress& progress, const RunRecord& run);

// Rewrites the terminal line (elapsed time moves on between runs); nothing off a terminal.
void RedrawProgress(SweepProgress& progress);

// Ends the terminal line.
void EndProgress(SweepProgress& progress);

// Seconds as "12.3 s", "4 min 05 s" or "2 h 03 min".
std::string FormatDuration(double seconds);
