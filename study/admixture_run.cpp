#include "study/admixture_run.h"

#include <chrono>

#include "cluster/accelerated_em.h"
#include "cluster/admixture_em.h"
#include "study/accelerated_run.h"
#include "study/sweep_run.h"

AcceleratorSettings AdmixtureAccelerator(const SweepSettings& settings, const RunEmSettings& em,
                                         const AdmixtureModel& model) {
  AcceleratorSettings accelerator;
  accelerator.method = em.acceleration;
  accelerator.rule = em.rule;
  accelerator.tolerance = settings.tolerance;
  accelerator.observedCopies = model.observedCopies;
  accelerator.maxSteps = settings.maxIterations;
  return accelerator;
}

void RecordAdmixtureFit(const AdmixtureModel& model, const std::vector<double>& theta,
                        const AcceleratedRun& fit, RunRecord& run) {
  UnpackAdmixture(model, theta, run.Q, run.P);
  run.history = fit.history;
  run.iterations = static_cast<int32_t>(run.history.size());
  run.converged = fit.converged;
  run.loglik = fit.loglik;
  run.proportions.assign(run.K, 0.0);
  for (const std::vector<double>& row : run.Q) {
    for (int32_t k = 0; k < run.K; ++k) run.proportions[k] += row[k];
  }
  for (double& share : run.proportions) share /= static_cast<double>(run.Q.size());
}

void ShrinkAdmixtureStart(Vector2D<double>& Q) {
  for (std::vector<double>& row : Q) {
    const double flat = kAdmixtureStartShrink / static_cast<double>(row.size());
    for (double& q : row) q = (1.0 - kAdmixtureStartShrink) * q + flat;
  }
}

void FitAdmixture(const GenotypeTable& X, const SweepSettings& settings, const RunEmSettings& em,
                  int32_t engineThreads, RunRecord& run) {
  AdmixtureModel model;
  PrepareAdmixtureModel(X, run.K, engineThreads, model);
  std::vector<double> theta;
  PackAdmixture(model, run.Q, run.P, theta);
  const AcceleratorSettings accelerator = AdmixtureAccelerator(settings, em, model);
  ProjectAdmixture(model, theta.data(), accelerator.epsilon);
  const AcceleratedRun admixture = RunAdmixtureEm(model, theta, accelerator);
  RecordAdmixtureFit(model, theta, admixture, run);
}

RunRecord RunAdmixtureRun(const StartContext& context, const StartMethod& start,
                          const RunRecord& planned, const SweepSettings& settings, int32_t A,
                          const std::vector<int32_t>& J, int32_t engineThreads) {
  const auto began = std::chrono::steady_clock::now();
  const RunEmSettings em = SweepRunEmSettings(settings, context.observedCopies);
  RunRecord run = RunSweepRun(context, start, planned.K, planned.replicate, planned.seed,
                              settings.maxIterations, settings.tolerance, A, J, engineThreads, em,
                              settings.search);
  // The mixture run's memberships are 0 or 1 on many loci, a corner of the admixture model
  // where EM barely moves: every row is drawn a share of the way towards the flat one first.
  ShrinkAdmixtureStart(run.Q);
  FitAdmixture(*context.X, settings, em, engineThreads, run);
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  return run;
}

double AdmixtureLogLikelihood(const GenotypeTable& X, const RunRecord& run) {
  AdmixtureModel model;
  PrepareAdmixtureModel(X, run.K, 1, model);
  std::vector<double> theta, next;
  PackAdmixture(model, run.Q, run.P, theta);
  next.resize(theta.size());
  return AdmixtureStep(model, theta.data(), next.data());
}
