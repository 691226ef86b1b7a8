#include "study/bootstrap.h"

#include <chrono>
#include <cmath>
#include <iostream>
#include <thread>

#include "data/random.h"
#include "study/alignment.h"
#include "study/model.h"
#include "study/progress.h"
#include "study/run_schedule.h"
#include "study/run_seeds.h"

uint32_t BootstrapSeed(uint64_t seed, int32_t K, int32_t b) {
  return RunSeed(seed, K, -1 - b);
}

std::vector<int32_t> BootstrapLoci(uint32_t seed, int32_t L) {
  RandomGenerator rng(seed);
  std::vector<int32_t> loci(L);
  for (int32_t& l : loci) l = UniformIntDraw(rng, L);
  return loci;
}

GenotypeTable ResampleLoci(const GenotypeTable& X, const std::vector<int32_t>& loci) {
  const int32_t L = static_cast<int32_t>(loci.size());
  Vector2D<int32_t> values(L);
  std::vector<int32_t> missing(L);
  for (int32_t l = 0; l < L; ++l) {
    values[l] = X.alleleValues[loci[l]];
    missing[l] = X.missingValue[loci[l]];
  }
  GenotypeTable Y;
  LayOutGenotypeTable(Y, X.N, X.A, L, std::move(values), std::move(missing));
  // A locus keeps its alleles, so its codes fit the width it gets here.
  for (int32_t n = 0; n < X.N; ++n) {
    for (int32_t a = 0; a < X.A; ++a) {
      for (int32_t l = 0; l < L; ++l) SetGenotypeCode(Y, n, a, l, GenotypeCode(X, n, a, loci[l]));
    }
  }
  return Y;
}

namespace {

// Replicate b of the best run: its memberships in the best run's aligned order, N x K.
void BootstrapReplicate(const GenotypeTable& X, const StudyRecord& study, const RunRecord& best,
                        int32_t b, int32_t engineThreads, Vector2D<double>& aligned) {
  const SweepSettings& settings = study.settings;
  const std::vector<int32_t> loci = BootstrapLoci(BootstrapSeed(settings.seed, best.K, b), X.L);
  const GenotypeTable Y = ResampleLoci(X, loci);
  RunRecord fit;
  fit.K = best.K;
  fit.Q = best.Q;
  fit.proportions = best.proportions;
  fit.P.resize(best.K);
  for (int32_t k = 0; k < best.K; ++k) {
    fit.P[k].resize(loci.size());
    for (size_t l = 0; l < loci.size(); ++l) fit.P[k][l] = best.P[k][loci[l]];
  }
  FindModel(settings.model)->refit(Y, settings, engineThreads, fit);
  // Labels may move in a refit: the replicate's clusters matched to the best run's.
  const ClusterMatching match = MatchClusters(best.Q, best.order, fit.Q);
  for (size_t n = 0; n < fit.Q.size(); ++n) {
    for (int32_t c = 0; c < best.K; ++c) aligned[n][c] = fit.Q[n][match.order[c]];
  }
}

}  // namespace

void BootstrapStudy(StudyRecord& study, const GenotypeTable& X, int32_t threads, bool quiet) {
  const int32_t B = study.settings.bootstrap;
  if (B < 2) return;
  const int64_t copies = static_cast<int64_t>(X.N) * X.A * X.L;
  const ThreadPlan plan = PlanThreads(copies, B, threads);
  for (KSummary& summary : study.summaries) {
    const auto began = std::chrono::steady_clock::now();
    const RunRecord& best = study.runs[summary.best];
    const int32_t N = X.N, K = best.K;
    // Welford's running mean and sum of squared deviations, replicates added in order b.
    Vector2D<double> mean, squares;
    InitVctr2D(mean, N, K, 0.0);
    InitVctr2D(squares, N, K, 0.0);
    std::vector<Vector2D<double>> slots(plan.parallelRuns);
    for (Vector2D<double>& slot : slots) InitVctr2D(slot, N, K, 0.0);
    for (int32_t first = 0; first < B; first += plan.parallelRuns) {
      const int32_t count = std::min(plan.parallelRuns, B - first);
      std::vector<std::thread> workers;
      for (int32_t i = 1; i < count; ++i) {
        workers.emplace_back(BootstrapReplicate, std::cref(X), std::cref(study), std::cref(best),
                             first + i, plan.engineThreads, std::ref(slots[i]));
      }
      BootstrapReplicate(X, study, best, first, plan.engineThreads, slots[0]);
      for (std::thread& worker : workers) worker.join();
      for (int32_t i = 0; i < count; ++i) {
        const double seen = static_cast<double>(first + i + 1);
        for (int32_t n = 0; n < N; ++n) {
          for (int32_t c = 0; c < K; ++c) {
            const double x = slots[i][n][c];
            const double before = x - mean[n][c];
            mean[n][c] += before / seen;
            squares[n][c] += before * (x - mean[n][c]);
          }
        }
      }
    }
    double total = 0.0;
    for (int32_t n = 0; n < N; ++n) {
      for (int32_t c = 0; c < K; ++c) {
        squares[n][c] = std::sqrt(squares[n][c] / (B - 1));
        total += squares[n][c];
      }
    }
    summary.Qse = std::move(squares);
    summary.qSeMean = N > 0 ? total / (static_cast<double>(N) * K) : 0.0;
    if (!quiet) {
      const double seconds =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
      std::cerr << "emclade-sweep: bootstrap of K = " << K << ": " << B << " replicates in "
                << FormatDuration(seconds) << ", mean standard error " << summary.qSeMean
                << std::endl;
    }
  }
}
