#include "study/alignment.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "study/assignment.h"

std::vector<double> MembershipOverlap(const Vector2D<double>& A, const Vector2D<double>& B) {
  const size_t N = A.size();
  const size_t KA = N > 0 ? A[0].size() : 0, KB = N > 0 ? B[0].size() : 0;
  std::vector<double> overlap(KA * KB, 0.0);
  for (size_t n = 0; n < N; ++n) {
    const double* a = A[n].data();
    const double* b = B[n].data();
    for (size_t i = 0; i < KA; ++i) {
      double* row = overlap.data() + i * KB;
      for (size_t j = 0; j < KB; ++j) row[j] += std::min(a[i], b[j]);
    }
  }
  return overlap;
}

ClusterMatching MatchClusters(const Vector2D<double>& A, const std::vector<int32_t>& orderA,
                              const Vector2D<double>& B) {
  const int32_t KA = static_cast<int32_t>(orderA.size());
  const int32_t KB = B.empty() ? 0 : static_cast<int32_t>(B[0].size());
  const std::vector<double> overlap = MembershipOverlap(A, B);
  // Rows in A's aligned order, so that c indexes the result directly.
  std::vector<double> weight(static_cast<size_t>(KA) * KB);
  for (int32_t c = 0; c < KA; ++c) {
    for (int32_t b = 0; b < KB; ++b)
      weight[static_cast<size_t>(c) * KB + b] = overlap[static_cast<size_t>(orderA[c]) * KB + b];
  }
  const std::vector<int32_t> assigned = MaximumWeightAssignment(weight, KA, KB);
  ClusterMatching matching;
  matching.order = assigned;
  std::vector<char> taken(KB, 0);
  double shared = 0.0;
  for (int32_t c = 0; c < KA; ++c) {
    taken[assigned[c]] = 1;
    shared += weight[static_cast<size_t>(c) * KB + assigned[c]];
  }
  for (int32_t b = 0; b < KB; ++b) {
    if (!taken[b]) matching.order.push_back(b);
  }
  matching.similarity = A.empty() ? 1.0 : shared / static_cast<double>(A.size());
  return matching;
}

bool Outranks(const RunRecord& a, const RunRecord& b) {
  if (std::isnan(a.loglik) || std::isnan(b.loglik)) {
    if (std::isnan(a.loglik) != std::isnan(b.loglik)) return !std::isnan(a.loglik);
    return a.replicate < b.replicate;
  }
  if (a.loglik != b.loglik) return a.loglik > b.loglik;
  return a.replicate < b.replicate;
}

int32_t BestReplicate(const std::vector<RunRecord>& runs, const std::vector<int32_t>& ofK) {
  int32_t best = ofK.empty() ? -1 : ofK[0];
  for (int32_t i : ofK) {
    if (Outranks(runs[i], runs[best])) best = i;
  }
  return best;
}

std::vector<int32_t> RunsOfK(const StudyRecord& study, int32_t K) {
  std::vector<int32_t> ofK;
  for (size_t i = 0; i < study.runs.size(); ++i) {
    if (study.runs[i].K == K) ofK.push_back(static_cast<int32_t>(i));
  }
  std::sort(ofK.begin(), ofK.end(), [&](int32_t a, int32_t b) {
    return study.runs[a].replicate < study.runs[b].replicate;
  });
  return ofK;
}

namespace {

std::vector<int32_t> Identity(int32_t K) {
  std::vector<int32_t> order(K);
  std::iota(order.begin(), order.end(), 0);
  return order;
}

// Modes of the runs ofK, best first; similarityToBest and order already set.
void FindModes(StudyRecord& study, const std::vector<int32_t>& ofK, KSummary& summary) {
  std::vector<RunRecord>& runs = study.runs;
  // Best first: descending log-likelihood, ascending replicate among equals, NaN last.
  std::vector<int32_t> byLoglik = ofK;
  std::sort(byLoglik.begin(), byLoglik.end(),
            [&](int32_t a, int32_t b) { return Outranks(runs[a], runs[b]); });
  for (int32_t i : ofK) runs[i].mode = 0;
  int32_t modes = 0;
  for (size_t head = 0; head < byLoglik.size(); ++head) {
    RunRecord& lead = runs[byLoglik[head]];
    if (lead.mode != 0) continue;
    lead.mode = ++modes;
    for (size_t other = head + 1; other < byLoglik.size(); ++other) {
      RunRecord& candidate = runs[byLoglik[other]];
      if (candidate.mode != 0) continue;
      const double similarity =
          modes == 1 ? candidate.similarityToBest
                     : MatchClusters(lead.Q, Identity(lead.K), candidate.Q).similarity;
      if (similarity >= kModeSimilarity) candidate.mode = modes;
    }
  }
  summary.modes = modes;
  summary.bestModeSize = 0;
  for (int32_t i : ofK) summary.bestModeSize += runs[i].mode == 1 ? 1 : 0;
}

}  // namespace

void AlignStudy(StudyRecord& study) {
  const RunRecord* previousBest = nullptr;
  for (KSummary& summary : study.summaries) {
    const std::vector<int32_t> ofK = RunsOfK(study, summary.K);
    if (ofK.empty()) continue;
    const int32_t best = BestReplicate(study.runs, ofK);
    summary.best = best;
    RunRecord& bestRun = study.runs[best];
    bestRun.order = previousBest == nullptr
                        ? Identity(bestRun.K)
                        : MatchClusters(previousBest->Q, previousBest->order, bestRun.Q).order;
    bestRun.similarityToBest = 1.0;
    for (int32_t i : ofK) {
      if (i == best) continue;
      RunRecord& run = study.runs[i];
      const ClusterMatching matching = MatchClusters(bestRun.Q, bestRun.order, run.Q);
      run.order = matching.order;
      run.similarityToBest = matching.similarity;
    }
    FindModes(study, ofK, summary);
    previousBest = &study.runs[best];
  }
}
