#include "study/progress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iostream>

namespace {

double Elapsed(const SweepProgress& progress) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - progress.began).count();
}

std::string FormatLoglik(double value) {
  char text[64];
  std::snprintf(text, sizeof(text), "%.3f", value);
  return text;
}

}  // namespace

std::string FormatDuration(double seconds) {
  char text[64];
  if (seconds < 60.0) {
    std::snprintf(text, sizeof(text), "%.1f s", seconds);
  } else if (seconds < 3600.0) {
    const int64_t s = static_cast<int64_t>(seconds);
    std::snprintf(text, sizeof(text), "%d min %02d s", static_cast<int>(s / 60),
                  static_cast<int>(s % 60));
  } else {
    const int64_t m = static_cast<int64_t>(seconds / 60.0);
    std::snprintf(text, sizeof(text), "%d h %02d min", static_cast<int>(m / 60),
                  static_cast<int>(m % 60));
  }
  return text;
}

void BeginProgress(SweepProgress& progress, const std::vector<RunRecord>& runs, bool terminal) {
  progress = SweepProgress();
  progress.terminal = terminal;
  progress.began = std::chrono::steady_clock::now();
  progress.total = static_cast<int32_t>(runs.size());
  for (const RunRecord& run : runs) {
    progress.totalWeight += run.K;
    if (progress.clusterCounts.empty() || progress.clusterCounts.back() != run.K) {
      progress.clusterCounts.push_back(run.K);
      progress.left.push_back(0);
      progress.converged.push_back(0);
      progress.best.push_back(-INFINITY);
    }
    ++progress.left.back();
  }
}

void CountFinishedRun(SweepProgress& progress, const RunRecord& run) {
  ++progress.done;
  progress.doneWeight += run.K;
  const size_t i =
      std::lower_bound(progress.clusterCounts.begin(), progress.clusterCounts.end(), run.K) -
      progress.clusterCounts.begin();
  --progress.left[i];
  progress.converged[i] += run.converged ? 1 : 0;
  if (run.loglik > progress.best[i]) progress.best[i] = run.loglik;
  if (progress.terminal) {
    RedrawProgress(progress);
    return;
  }
  // Off a terminal: a K as soon as its last run is done.
  if (progress.left[i] == 0) {
    std::cerr << "emclade-sweep: K " << progress.clusterCounts[i] << " done ("
              << progress.converged[i] << " converged), best log-likelihood "
              << FormatLoglik(progress.best[i]) << "; " << progress.done << "/" << progress.total
              << " runs, " << FormatDuration(Elapsed(progress)) << std::endl;
  }
}

void RedrawProgress(SweepProgress& progress) {
  if (!progress.terminal) return;
  const double elapsed = Elapsed(progress);
  std::string line = "emclade-sweep: " + std::to_string(progress.done) + "/" +
                     std::to_string(progress.total) + " runs, " + FormatDuration(elapsed) +
                     " elapsed";
  if (progress.done > 0 && progress.done < progress.total) {
    const double left =
        elapsed * (progress.totalWeight - progress.doneWeight) / progress.doneWeight;
    line += ", about " + FormatDuration(left) + " left";
  }
  std::cerr << "\r" << line << "\x1b[K" << std::flush;
  progress.drawn = true;
}

void EndProgress(SweepProgress& progress) {
  if (progress.terminal && progress.drawn) std::cerr << std::endl;
  progress.drawn = false;
}
