#include "study/model_refit.h"

#include "cluster/accelerated_em.h"
#include "cluster/admixture_em.h"
#include "cluster/em.h"
#include "study/accelerated_run.h"
#include "study/admixture_run.h"

namespace {

// Allele copies of X that are not missing (codes below J[l]).
double CountObservedCopies(const GenotypeTable& X) {
  int64_t observed = 0;
  for (int32_t n = 0; n < X.N; ++n) {
    for (int32_t a = 0; a < X.A; ++a) {
      for (int32_t l = 0; l < X.L; ++l) {
        observed += GenotypeCode(X, n, a, l) < X.alleleValues[l].size() ? 1 : 0;
      }
    }
  }
  return static_cast<double>(observed);
}

std::vector<int32_t> AlleleCounts(const GenotypeTable& X) {
  std::vector<int32_t> J;
  J.reserve(X.L);
  for (const std::vector<int32_t>& values : X.alleleValues) {
    J.push_back(static_cast<int32_t>(values.size()));
  }
  return J;
}

}  // namespace

void RefitMixture(const GenotypeTable& X, const SweepSettings& settings, int32_t engineThreads,
                  RunRecord& run) {
  const std::vector<int32_t> J = AlleleCounts(X);
  const int32_t K = run.K;
  run.proportions.assign(K, 1.0 / K);
  Vector3D<double>().swap(run.P);  // the M-step of run.Q makes them
  InitVctr3D(run.P, K, X.L, J, 0.0);
  Vector2D<double> ratios;
  InitVctr2D(ratios, K, K, 0.0);
  EmWorkspace w;
  PrepareEmWorkspace(X, X.alleleValues, J, X.N, X.A, X.L, K, w, engineThreads);
  // Plain EM too goes through the accelerator's loop (--acceleration none: its plain steps).
  const RunEmSettings em = SweepRunEmSettings(settings, CountObservedCopies(X));
  run.history.clear();
  RunAcceleratedSweepEm(w, em, settings.maxIterations, settings.tolerance, ratios, run);
  run.iterations = static_cast<int32_t>(run.history.size());
}

void RefitAdmixture(const GenotypeTable& X, const SweepSettings& settings, int32_t engineThreads,
                    RunRecord& run) {
  FitAdmixture(X, settings, SweepRunEmSettings(settings, CountObservedCopies(X)), engineThreads,
               run);
}
