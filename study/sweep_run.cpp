#include "study/sweep_run.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "cluster/em.h"
#include "data/random.h"

RunRecord RunSweepRun(const StartContext& context, const StartMethod& start, int32_t K,
                      int32_t replicate, uint32_t seed, int32_t maxIterations, double tolerance,
                      int32_t A, const std::vector<int32_t>& J, int32_t engineThreads,
                      const RunEmSettings& em) {
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
  const char variant = annealing > 0 ? 'a' : 'c';
  double annealingExponent = std::pow(1.2, -annealing);  // plain EM never reads it
  run.history.reserve(maxIterations > 0 ? std::min(maxIterations, 1 << 16) : 0);
  const bool accelerated = em.acceleration != Acceleration::kNone;
  const double threshold = RunStoppingThreshold(em, tolerance);
  const int32_t plainEnd = accelerated ? std::min(annealing, maxIterations) : maxIterations;
  for (int32_t t = 0; t < plainEnd; ++t) {
    const double loglik = EmIteration(t, variant, annealing, rng, w, run.proportions, run.P, run.Q,
                                      ratios, annealingExponent);
    run.history.push_back(loglik);
    if (tolerance > 0.0 && t > annealing && loglik - run.history[t - 1] < threshold) {
      run.converged = true;
      break;
    }
  }
  run.loglik = run.history.empty() ? 0.0 : run.history.back();
  if (accelerated && maxIterations > plainEnd) {
    RunAcceleratedSweepEm(w, em, maxIterations - plainEnd, tolerance, ratios, run);
  }
  run.history.shrink_to_fit();
  run.iterations = static_cast<int32_t>(run.history.size());
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  return run;
}
