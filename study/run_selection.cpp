#include "study/run_selection.h"

#include <algorithm>

#include "data/messages.h"
#include "study/sweep.h"

bool MakesPartOfSweep(const SweepSettings& settings) {
  return !settings.onlyRuns.empty() || settings.shards > 0;
}

std::vector<RunRecord> SelectRuns(const SweepSettings& settings,
                                  const std::vector<RunRecord>& planned) {
  std::vector<RunRecord> selected;
  if (settings.shards > 0) {
    for (size_t i = 0; i < planned.size(); ++i) {
      if (static_cast<int64_t>(i % settings.shards) == settings.shard - 1) {
        selected.push_back(planned[i]);
      }
    }
    return selected;
  }
  for (const RunId& id : settings.onlyRuns) {
    const auto found = std::find_if(planned.begin(), planned.end(), [&](const RunRecord& run) {
      return run.K == id.K && run.replicate == id.replicate;
    });
    if (found == planned.end()) {
      FailRun("emclade-sweep: --runs: run " + DescribeRuns({id}) + " is not one of the sweep (K " +
              DescribeClusterCounts(settings.clusterCounts) + ", replicates 1-" +
              std::to_string(settings.replicates) + ")");
    }
    selected.push_back(*found);
  }
  std::sort(selected.begin(), selected.end(), [](const RunRecord& a, const RunRecord& b) {
    return RunId{a.K, a.replicate} < RunId{b.K, b.replicate};
  });
  return selected;
}

std::string DescribeRuns(const std::vector<RunId>& runs) {
  std::string text;
  for (const RunId& id : runs) {
    if (!text.empty()) text += ',';
    text += std::to_string(id.K) + ":" + std::to_string(id.replicate);
  }
  return text;
}
