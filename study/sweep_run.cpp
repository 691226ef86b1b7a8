#include "study/sweep_run.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "cluster/em.h"
#include "cluster/split_merge.h"
#include "data/random.h"

namespace {

// EM from the memberships run.Q (the first iteration's M-step reads them): the first
// `annealing` iterations variant 'a', then plain EM until an iteration t > annealing rises by
// less than the stopping threshold over the one before, or maxIterations EM steps have run.
// With an acceleration, only the annealed iterations are plain and the accelerated EM takes
// the steps left. Appends every step's log-likelihood to run.history and leaves run.proportions,
// run.P, run.Q, run.loglik and run.converged. The one EM loop of a run: the split-and-merge
// search converges its candidates through it too.
void ConvergeEm(EmWorkspace& w, const RunEmSettings& em, int32_t annealing, int32_t maxIterations,
                double tolerance, RandomGenerator& rng, Vector2D<double>& ratios, RunRecord& run) {
  const char variant = annealing > 0 ? 'a' : 'c';
  double annealingExponent = std::pow(1.2, -annealing);  // plain EM never reads it
  const bool accelerated = em.acceleration != Acceleration::kNone;
  const double threshold = RunStoppingThreshold(em, tolerance);
  const int32_t plainEnd = accelerated ? std::min(annealing, maxIterations) : maxIterations;
  const size_t first = run.history.size();
  run.converged = false;
  for (int32_t t = 0; t < plainEnd; ++t) {
    const double loglik = EmIteration(t, variant, annealing, rng, w, run.proportions, run.P, run.Q,
                                      ratios, annealingExponent);
    run.history.push_back(loglik);
    if (tolerance > 0.0 && t > annealing && loglik - run.history[first + t - 1] < threshold) {
      run.converged = true;
      break;
    }
  }
  run.loglik = run.history.size() > first ? run.history.back() : 0.0;
  if (accelerated && maxIterations > plainEnd) {
    RunAcceleratedSweepEm(w, em, maxIterations - plainEnd, tolerance, ratios, run);
  }
}

}  // namespace

RunRecord RunSweepRun(const StartContext& context, const StartMethod& start, int32_t K,
                      int32_t replicate, uint32_t seed, int32_t maxIterations, double tolerance,
                      int32_t A, const std::vector<int32_t>& J, int32_t engineThreads,
                      const RunEmSettings& em, const std::string& search) {
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
  ConvergeEm(w, em, annealing, maxIterations, tolerance, rng, ratios, run);
  if (search != "none" && K >= 2 && !run.history.empty()) {
    // Candidates converge into their own estimates; a kept one replaces the run's, its
    // steps following the run's in the history.
    RunRecord candidate;
    candidate.P = run.P;
    SplitMergeEm moves;
    moves.converge = [&](Vector2D<double>& Q) {
      candidate.Q.swap(Q);
      candidate.proportions.assign(K, 1.0 / K);
      candidate.history.clear();
      ConvergeEm(w, em, 0, maxIterations, tolerance, rng, ratios, candidate);
      candidate.Q.swap(Q);
      return candidate.loglik;
    };
    moves.keep = [&]() {
      run.proportions = candidate.proportions;
      run.P = candidate.P;
      run.converged = candidate.converged;
      run.loglik = candidate.loglik;
      run.history.insert(run.history.end(), candidate.history.begin(), candidate.history.end());
    };
    double loglik = run.loglik;
    if (search == "reassign") {
      ReassignSearch(context.counts, K, kSplitMergeTries, moves, run.Q, loglik);
    } else {
      SplitMergeSearch(context.counts, K, kSplitMergeTries, rng, engineThreads, moves, run.Q,
                       loglik);
    }
  }
  run.history.shrink_to_fit();
  run.iterations = static_cast<int32_t>(run.history.size());
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  return run;
}
