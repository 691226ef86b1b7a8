#include "study/sweep_run.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "cluster/em.h"
#include "cluster/split_merge.h"
#include "data/random.h"

namespace {

// EM from the memberships Q (the first iteration's M-step reads them): the first `annealing`
// iterations variant 'a', plain after, until an iteration t > annealing rises by less than
// tolerance over the one before or maxIterations have run. Every iteration's log-likelihood
// is appended to history; returns whether the tolerance stopped it. The one EM loop of a run:
// the split-and-merge search converges its candidates through it too.
bool ConvergeEm(EmWorkspace& w, int32_t annealing, int32_t maxIterations, double tolerance,
                RandomGenerator& rng, std::vector<double>& proportions, Vector3D<double>& P,
                Vector2D<double>& Q, Vector2D<double>& ratios, std::vector<double>& history) {
  const char variant = annealing > 0 ? 'a' : 'c';
  double annealingExponent = std::pow(1.2, -annealing);  // plain EM never reads it
  const size_t first = history.size();
  for (int32_t t = 0; t < maxIterations; ++t) {
    const double loglik =
        EmIteration(t, variant, annealing, rng, w, proportions, P, Q, ratios, annealingExponent);
    history.push_back(loglik);
    if (tolerance > 0.0 && t > annealing && loglik - history[first + t - 1] < tolerance) {
      return true;
    }
  }
  return false;
}

}  // namespace

RunRecord RunSweepRun(const StartContext& context, const StartMethod& start, int32_t K,
                      int32_t replicate, uint32_t seed, int32_t maxIterations, double tolerance,
                      int32_t A, const std::vector<int32_t>& J, int32_t engineThreads,
                      bool splitMerge) {
  const auto began = std::chrono::steady_clock::now();
  const GenotypeTable& X = *context.X;
  const int32_t N = context.N, L = context.L;
  RunRecord run;
  run.K = K;
  run.replicate = replicate;
  run.seed = seed;
  run.start = StartLabel(context, start);

  RandomGenerator rng(seed);
  InitVctr2D(run.Q, N, K, 0.0);
  start.routine(context, K, rng, engineThreads, run.Q);

  run.proportions.assign(K, 1.0 / K);
  Vector2D<double> ratios;
  InitVctr2D(ratios, K, K, 0.0);
  InitVctr3D(run.P, K, L, J, 0.0);
  EmWorkspace w;
  PrepareEmWorkspace(X, X.alleleValues, J, N, A, L, K, w, engineThreads);
  // The start's annealed iterations first ('a' anneals while t < annealing, then is plain EM);
  // the convergence test begins with the second plain iteration.
  const int32_t annealing = AnnealingIterations(start, K, replicate);
  run.history.reserve(maxIterations > 0 ? std::min(maxIterations, 1 << 16) : 0);
  run.converged = ConvergeEm(w, annealing, maxIterations, tolerance, rng, run.proportions, run.P,
                             run.Q, ratios, run.history);
  if (splitMerge && K >= 3 && !run.history.empty()) {
    // Candidates converge into their own estimates; a kept one replaces the run's, its
    // iterations following the run's in the history.
    std::vector<double> proportions, history;
    Vector3D<double> P = run.P;
    bool converged = false;
    SplitMergeEm em;
    em.converge = [&](Vector2D<double>& Q) {
      proportions.assign(K, 1.0 / K);
      history.clear();
      converged =
          ConvergeEm(w, 0, maxIterations, tolerance, rng, proportions, P, Q, ratios, history);
      return history.back();
    };
    em.keep = [&]() {
      run.proportions = proportions;
      run.P = P;
      run.converged = converged;
      run.history.insert(run.history.end(), history.begin(), history.end());
    };
    double loglik = run.history.back();
    SplitMergeSearch(context.counts, K, kSplitMergeTries, rng, engineThreads, em, run.Q, loglik);
  }
  run.history.shrink_to_fit();
  run.iterations = static_cast<int32_t>(run.history.size());
  run.loglik = run.history.empty() ? 0.0 : run.history.back();
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  return run;
}
