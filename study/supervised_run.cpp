#include "study/supervised_run.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "cluster/accelerated_em.h"
#include "cluster/admixture_em.h"
#include "cluster/block_squarem.h"
#include "cluster/em.h"
#include "data/messages.h"
#include "data/random.h"
#include "data/supervision_file.h"
#include "data/text_lines.h"
#include "study/accelerated_run.h"
#include "study/admixture_run.h"

namespace {

// Rows of K values from `at` (row n at n K): every reference individual's row made one-hot.
void HoldReferences(const std::vector<int32_t>& cluster, int32_t K, double* at) {
  for (size_t n = 0; n < cluster.size(); ++n) {
    if (cluster[n] < 0) continue;
    double* row = at + n * static_cast<size_t>(K);
    std::fill_n(row, K, 0.0);
    row[cluster[n]] = 1.0;
  }
}

void HoldReferences(const std::vector<int32_t>& cluster, Vector2D<double>& Q) {
  for (size_t n = 0; n < cluster.size(); ++n) {
    if (cluster[n] < 0) continue;
    std::fill(Q[n].begin(), Q[n].end(), 0.0);
    Q[n][cluster[n]] = 1.0;
  }
}

// The admixture EM map with the reference rows of Q held after every step and projection.
struct HeldMap {
  EmMap inner;
  const std::vector<int32_t>* cluster = nullptr;
  int32_t K = 0;
};

double HeldStep(void* model, const double* from, double* to) {
  HeldMap& m = *static_cast<HeldMap*>(model);
  const double loglik = m.inner.step(m.inner.model, from, to);
  HoldReferences(*m.cluster, m.K, to);
  return loglik;
}

void HeldProject(void* model, double* theta, double epsilon) {
  HeldMap& m = *static_cast<HeldMap*>(model);
  m.inner.project(m.inner.model, theta, epsilon);
  HoldReferences(*m.cluster, m.K, theta);
}

// The mixture run of RunSweepRun (study/sweep_run.h) with the references held.
RunRecord SupervisedMixture(const StartContext& context, const StartMethod& start,
                            const RunRecord& planned, const SweepSettings& settings, int32_t A,
                            const std::vector<int32_t>& J, int32_t engineThreads) {
  const std::vector<int32_t>& cluster = settings.referenceCluster;
  const int32_t N = context.N, L = context.L, K = planned.K;
  RunRecord run;
  run.K = K;
  run.replicate = planned.replicate;
  run.seed = planned.seed;
  run.start = StartLabel(context, start);
  RandomGenerator rng(planned.seed);
  InitVctr2D(run.Q, N, K, 0.0);
  start.routine(context, K, rng, engineThreads, run.Q);
  HoldReferences(cluster, run.Q);
  run.proportions.assign(K, 1.0 / K);
  Vector2D<double> ratios;
  InitVctr2D(ratios, K, K, 0.0);
  InitVctr3D(run.P, K, L, J, 0.0);
  EmWorkspace w;
  PrepareEmWorkspace(*context.X, context.X->alleleValues, J, N, A, L, K, w, engineThreads);
  const int32_t annealing = AnnealingIterations(start, K, planned.replicate);
  const char variant = annealing > 0 ? 'a' : 'c';
  double annealingExponent = std::pow(1.2, -annealing);
  for (int32_t t = 0; t < settings.maxIterations; ++t) {
    const double loglik = EmIteration(t, variant, annealing, rng, w, run.proportions, run.P, run.Q,
                                      ratios, annealingExponent);
    HoldReferences(cluster, run.Q);
    run.history.push_back(loglik);
    if (settings.tolerance > 0.0 && t > annealing &&
        loglik - run.history[t - 1] < settings.tolerance) {
      run.converged = true;
      break;
    }
  }
  run.iterations = static_cast<int32_t>(run.history.size());
  run.loglik = run.history.empty() ? 0.0 : run.history.back();
  return run;
}

}  // namespace

RunRecord RunSupervisedRun(const StartContext& context, const StartMethod& start,
                           const RunRecord& planned, const SweepSettings& settings, int32_t A,
                           const std::vector<int32_t>& J, int32_t engineThreads) {
  const auto began = std::chrono::steady_clock::now();
  RunRecord run = SupervisedMixture(context, start, planned, settings, A, J, engineThreads);
  if (settings.model == "admixture") {
    AdmixtureModel model;
    PrepareAdmixtureModel(*context.X, run.K, engineThreads, model);
    std::vector<double> theta;
    ShrinkAdmixtureStart(run.Q);  // the references are held again by HeldProject
    PackAdmixture(model, run.Q, run.P, theta);
    const AcceleratorSettings accelerator =
        AdmixtureAccelerator(settings, SweepRunEmSettings(settings, context.observedCopies), model);
    HeldMap held{AdmixtureEmMap(model), &settings.referenceCluster, run.K};
    const EmMap map{held.inner.size, &HeldStep, &HeldProject, &held};
    HeldProject(&held, theta.data(), accelerator.epsilon);
    const AcceleratedRun admixture =
        RunBlockSquarem(map, AdmixtureBlocks(model), kAdmixtureStopCycles, theta, accelerator);
    RecordAdmixtureFit(model, theta, admixture, run);
  }
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  return run;
}

void ApplySupervision(const std::vector<std::string>& names, SweepSettings& settings) {
  Supervision s =
      ReadSupervisionText(settings.supervisedFile, ReadWholeFile(settings.supervisedFile), names);
  const int32_t K = static_cast<int32_t>(s.populations.size());
  if (settings.clusterCountsGiven &&
      (settings.clusterCounts.size() != 1 || settings.clusterCounts[0] != K)) {
    FailRun("emclade-sweep: --k: a supervised sweep has K = " + std::to_string(K) + ", the " +
            "reference populations of " + settings.supervisedFile + " (give --k " +
            std::to_string(K) + " or leave --k out)");
  }
  settings.clusterCounts = {K};
  settings.referenceCluster = std::move(s.cluster);
  settings.referencePopulations = std::move(s.populations);
}
