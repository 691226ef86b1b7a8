// Running every run of a sweep on the threads asked for: several runs at once, one thread
// each, where the data are small; one run at a time on every thread where they are large.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "study/starts.h"
#include "study/study.h"

struct ThreadPlan {
  int32_t parallelRuns = 1;   // runs made at the same time
  int32_t engineThreads = 1;  // threads inside each run's EM iterations
};

// Tables of more allele copies than this (N A L) count as large.
constexpr int64_t kLargeTableCopies = int64_t{1} << 24;

// Small tables (copies <= kLargeTableCopies): min(threads, runCount) runs at once, and the
// threads left over when there are fewer runs than threads go to their engines. Large
// tables: one run at a time with every thread in its engine, since each run then holds large
// estimates and streams the whole table every iteration anyway.
ThreadPlan PlanThreads(int64_t copies, int32_t runCount, int32_t threads);

// The runs of the sweep in order (K ascending, then replicate), each with K, replicate, seed
// and start set.
std::vector<RunRecord> PlanRuns(const SweepSettings& settings);

// Makes every planned run (RunSweepRun) with the plan's threads and replaces each entry of
// runs by its result; runs are taken by descending K (the longest first). The allele
// frequencies P are left only in the best replicate of each K (Outranks); the other runs'
// are released as soon as a better replicate of their K has finished. Progress goes to
// standard error (SweepProgress; on a terminal when terminal is true). The records do not
// depend on the plan. When given, finished is called on the calling thread with every run
// as it finishes, whole (frequencies included), before any of it is released.
void MakeRuns(const StartContext& context, const StartMethod& start, const SweepSettings& settings,
              int32_t A, const std::vector<int32_t>& J, const ThreadPlan& plan, bool terminal,
              std::vector<RunRecord>& runs,
              const std::function<void(RunRecord& run)>& finished = nullptr);
