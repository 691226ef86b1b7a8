#include "study/starts.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <utility>

#include "cluster/hclustering.h"
#include "cluster/initialisation.h"
#include "cluster/kmeans_start.h"
#include "cluster/observed_sharing.h"
#include "data/memory_check.h"
#include "data/messages.h"
#include "study/run_seeds.h"

namespace {

void StartKmeans(const StartContext& context, int32_t K, RandomGenerator& rng, int32_t threads,
                 Vector2D<double>& Q) {
  std::vector<int32_t> labels;
  KmeansLabels(context.counts, K, KmeansSettings(), rng, threads, labels);
  for (int32_t n = 0; n < context.N; ++n) Q[n][labels[n]] = 1.0;
}

void StartWard(const StartContext& context, int32_t K, RandomGenerator& rng, int32_t,
               Vector2D<double>& Q) {
  StartFromLabels(context.subsample.empty() ? HClusteringCut(context.kept, context.absorbed, K)
                                            : context.wardLabels.at(K),
                  context.N, context.L, K, rng, Q);
}

// The classic start of that letter, through the classic routine itself.
template <char method>
void StartClassic(const StartContext& context, int32_t K, RandomGenerator& rng, int32_t,
                  Vector2D<double>& Q) {
  Vector2D<double> started, ratios;
  std::vector<double> proportions, alpha;
  InitialiseMemberships(*context.X, context.N, context.L, K, method, rng, started, proportions,
                        ratios, alpha);
  Q = std::move(started);
}

// clang-format off
const std::vector<StartMethod> kStarts = {
    {"ward-anneal", true, false, StartWard, {12, 15}, kWardAnnealIndividuals,
     "the ward start (on at most 5000 individuals, the others joined by allele sharing), then "
     "12 or 15 EM iterations of deterministic annealing"},
    {"kmeans", false, true, StartKmeans, {0, 0}, 0,
     "k-means of the allele counts, the best of five k-means++ seedings"},
    {"ward", true, false, StartWard, {0, 0}, 0,
     "Ward clustering on allele sharing over the copies observed in both, then a quarter of "
     "the individuals moved at random"},
    {"random", false, false, StartClassic<'r'>, {0, 0}, 0,
     "every individual in a cluster drawn with equal weights"},
    {"dirichlet", false, false, StartClassic<'d'>, {0, 0}, 0,
     "every individual's memberships a flat Dirichlet draw"},
};
// clang-format on

}  // namespace

const std::vector<StartMethod>& StartMethods() {
  return kStarts;
}

const StartMethod* FindStart(const std::string& name) {
  for (const StartMethod& start : kStarts) {
    if (name == start.name) return &start;
  }
  return nullptr;
}

std::string StartNames() {
  std::string names;
  for (const StartMethod& start : kStarts) {
    if (!names.empty()) names += '|';
    names += start.name;
  }
  return names;
}

int32_t AnnealingIterations(const StartMethod& start, int32_t K, int32_t replicate) {
  return K > 1 ? start.annealing[(replicate - 1) % 2] : 0;
}

std::string StartLabel(const StartContext& context, const StartMethod& start) {
  if (!start.needsWardTree || context.subsample.empty()) return start.name;
  return std::string(start.name) + "(subsample " + std::to_string(context.subsample.size()) + ")";
}

double WardTreeBytes(double N) {
  return 0.5 * N * (N - 1.0) * sizeof(double);
}

int32_t WardSubsampleSize(double bytes) {
  // M (M - 1) / 2 dissimilarities of 8 bytes: M <= (1 + sqrt(1 + bytes)) / 2, then made exact.
  double M = std::floor(0.5 * (1.0 + std::sqrt(1.0 + std::max(bytes, 0.0))));
  while (M > 1.0 && WardTreeBytes(M) > bytes) M -= 1.0;
  while (WardTreeBytes(M + 1.0) <= bytes && M < 2147483647.0) M += 1.0;
  return static_cast<int32_t>(std::min(M, 2147483647.0));
}

void PrepareWardTree(StartContext& context, const StartMethod& start,
                     const std::vector<int32_t>& clusterCounts, uint64_t sweepSeed,
                     double memoryBytes, int32_t threads, const std::string& inputPath) {
  const int32_t N = context.N;
  const double limit = memoryBytes > 0.0 ? memoryBytes : 0.5 * PhysicalMemoryBytes();
  const bool fits = limit <= 0.0 || WardTreeBytes(N) <= limit;
  const bool capped = start.wardIndividuals > 0 && N > start.wardIndividuals;
  context.kept.clear();
  context.absorbed.clear();
  context.subsample.clear();
  context.wardLabels.clear();
  if (fits && !capped) {
    CondensedDistances D = ObservedSharingDistance(*context.X, threads);
    HClusteringEngine(N, D, 6, context.kept, context.absorbed);
    return;
  }

  const int32_t fitting = fits ? N : WardSubsampleSize(limit);
  // The reason said is the bound that holds: the start's own cap, or the memory.
  const bool byCap = capped && start.wardIndividuals <= fitting;
  const int32_t M = byCap ? start.wardIndividuals : fitting;
  const int32_t largestK =
      clusterCounts.empty() ? 1 : *std::max_element(clusterCounts.begin(), clusterCounts.end());
  char why[200];
  if (byCap) {
    std::snprintf(why, sizeof(why), "the %s start builds its tree on at most %d individuals",
                  start.name, start.wardIndividuals);
  } else {
    std::snprintf(why, sizeof(why),
                  "the dissimilarities of all %d individuals would take %.1f GiB, more than "
                  "the %.1f GiB they may take",
                  N, WardTreeBytes(N) / 1073741824.0, limit / 1073741824.0);
  }
  if (M < largestK) {
    FailRun("emclade-sweep: " + inputPath + ": " + why + ", which hold no more than " +
            std::to_string(M) + " individuals, fewer than K = " + std::to_string(largestK) +
            "; use --start kmeans");
  }
  ReportLine("emclade-sweep: " + inputPath + ": " + why + "; Ward's tree is made on a random " +
             "subsample of " + std::to_string(M) + " and every other individual joins the " +
             "cluster that shares the most alleles with it");
  std::vector<int32_t> everyone(N);
  for (int32_t n = 0; n < N; ++n) everyone[n] = n;
  context.subsample.assign(M, 0);
  RandomGenerator rng(RunSeed(sweepSeed, 0, 0));
  ChooseDraw(rng, context.subsample.data(), M, everyone.data(), N);
  {
    const GenotypeTable Y = SelectIndividuals(*context.X, context.subsample);
    CondensedDistances D = ObservedSharingDistance(Y, threads);
    HClusteringEngine(M, D, 6, context.kept, context.absorbed);
  }
  if (context.counts.X == nullptr) PrepareAlleleCountSpace(*context.X, threads, context.counts);
  for (int32_t K : clusterCounts) {
    const std::vector<int32_t> cut = HClusteringCut(context.kept, context.absorbed, K);
    std::vector<int32_t> labels(N, -1);
    for (int32_t i = 0; i < M; ++i) labels[context.subsample[i]] = cut[i];
    JoinNearestBySharing(context.counts, K, threads, labels);
    context.wardLabels[K] = std::move(labels);
  }
}
