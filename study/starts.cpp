#include "study/starts.h"

#include <cstdio>
#include <string>
#include <utility>

#include "cluster/hclustering.h"
#include "cluster/initialisation.h"
#include "data/memory_check.h"
#include "data/messages.h"

namespace {

void StartWard(const StartContext& context, int32_t K, RandomGenerator& rng, Vector2D<double>& Q) {
  StartFromLabels(HClusteringCut(context.kept, context.absorbed, K), context.N, context.L, K, rng,
                  Q);
}

// The classic start of that letter, through the classic routine itself.
template <char method>
void StartClassic(const StartContext& context, int32_t K, RandomGenerator& rng,
                  Vector2D<double>& Q) {
  Vector2D<double> started, ratios;
  std::vector<double> proportions, alpha;
  InitialiseMemberships(*context.X, context.N, context.L, K, method, rng, started, proportions,
                        ratios, alpha);
  Q = std::move(started);
}

const std::vector<StartMethod> kStarts = {
    {"ward", true, StartWard,
     "Ward clustering on allele sharing, then a quarter of the individuals moved at random"},
    {"random", false, StartClassic<'r'>, "every individual in a cluster drawn with equal weights"},
    {"dirichlet", false, StartClassic<'d'>, "every individual's memberships a flat Dirichlet draw"},
};

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

void PrepareWardTree(StartContext& context, int32_t threads, const std::string& inputPath) {
  const double N = context.N;
  const double bytes = 0.5 * N * (N - 1) * sizeof(double);
  const double available = PhysicalMemoryBytes();
  if (available > 0.0 && bytes > available) {
    char amounts[128];
    std::snprintf(amounts, sizeof(amounts), "%.1f GiB, and this computer has %.1f GiB",
                  bytes / 1073741824.0, available / 1073741824.0);
    FailRun("emclade-sweep: " + inputPath +
            ": the ward start keeps a dissimilarity for every pair of the " +
            std::to_string(context.N) + " individuals, " + amounts +
            "; use --start random or --start dirichlet");
  }
  CondensedDistances D = HClusteringDistance(*context.X, true, threads);
  context.kept.clear();
  context.absorbed.clear();
  HClusteringEngine(context.N, D, 6, context.kept, context.absorbed);
}
