#include "charts/structure_order.h"

#include <algorithm>
#include <map>

#include "study/study_files.h"

const RunRecord* ChosenRun(const StudyRecord& study) {
  for (const KSummary& s : study.summaries) {
    if (s.chosen && s.best >= 0 && s.best < static_cast<int32_t>(study.runs.size())) {
      return &study.runs[s.best];
    }
  }
  return nullptr;
}

std::vector<std::string> OrderPopulations(const StudyRecord& study) {
  std::vector<std::string> order;
  std::map<std::string, bool> placed;
  for (const std::string& name : study.settings.populationOrder) {
    if (placed.emplace(name, true).second) order.push_back(name);
  }
  for (const std::string& name : study.populations) {
    if (placed.emplace(name, true).second) order.push_back(name);
  }
  return order;
}

StructureOrder OrderIndividuals(const StudyRecord& study) {
  StructureOrder result;
  const int32_t N = study.N;
  std::vector<int32_t> groupOf(N, 0);
  if (!study.populations.empty()) {
    std::map<std::string, int32_t> index;
    for (const std::string& name : OrderPopulations(study)) {
      index.emplace(name, static_cast<int32_t>(result.groups.size()));
      result.groups.push_back({name, 0, 0});
    }
    for (int32_t n = 0; n < N; ++n) groupOf[n] = index.at(study.populations[n]);
  } else {
    result.groups.push_back({"", 0, 0});
  }
  std::vector<int32_t> cluster(N, 0);
  std::vector<double> membership(N, 0.0);
  if (const RunRecord* chosen = ChosenRun(study)) {
    for (int32_t n = 0; n < N; ++n) {
      cluster[n] = AssignedCluster(chosen->Q[n].data(), chosen->order, membership[n]);
      if (!(membership[n] >= 0.0)) membership[n] = -1.0;  // NaN last, and a strict order
    }
  }
  result.individuals.resize(N);
  for (int32_t n = 0; n < N; ++n) result.individuals[n] = n;
  std::sort(result.individuals.begin(), result.individuals.end(), [&](int32_t a, int32_t b) {
    if (groupOf[a] != groupOf[b]) return groupOf[a] < groupOf[b];
    if (cluster[a] != cluster[b]) return cluster[a] < cluster[b];
    if (membership[a] != membership[b]) return membership[a] > membership[b];
    return a < b;
  });
  for (int32_t n : result.individuals) ++result.groups[groupOf[n]].count;
  int32_t first = 0;
  for (PopulationGroup& group : result.groups) {
    group.first = first;
    first += group.count;
  }
  return result;
}
