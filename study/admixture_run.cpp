#include "study/admixture_run.h"

#include <chrono>

#include "cluster/accelerated_em.h"
#include "cluster/admixture_em.h"
#include "study/accelerated_run.h"
#include "study/sweep_run.h"

RunRecord RunAdmixtureRun(const StartContext& context, const StartMethod& start,
                          const RunRecord& planned, const SweepSettings& settings, int32_t A,
                          const std::vector<int32_t>& J, int32_t engineThreads) {
  const auto began = std::chrono::steady_clock::now();
  const RunEmSettings em = SweepRunEmSettings(settings, context.observedCopies);
  RunRecord run = RunSweepRun(context, start, planned.K, planned.replicate, planned.seed,
                              settings.maxIterations, settings.tolerance, A, J, engineThreads, em);
  AdmixtureModel model;
  PrepareAdmixtureModel(*context.X, run.K, engineThreads, model);
  std::vector<double> theta;
  PackAdmixture(model, run.Q, run.P, theta);
  AcceleratorSettings accelerator;
  accelerator.method = em.acceleration;
  accelerator.rule = em.rule;
  accelerator.tolerance = settings.tolerance;
  accelerator.observedCopies = model.observedCopies;
  accelerator.maxSteps = settings.maxIterations;
  ProjectAdmixture(model, theta.data(), accelerator.epsilon);
  const AcceleratedRun admixture = RunAcceleratedEm(AdmixtureEmMap(model), theta, accelerator);
  UnpackAdmixture(model, theta, run.Q, run.P);
  run.history = admixture.history;
  run.iterations = static_cast<int32_t>(run.history.size());
  run.converged = admixture.converged;
  run.loglik = admixture.loglik;
  run.proportions.assign(run.K, 0.0);
  for (const std::vector<double>& row : run.Q) {
    for (int32_t k = 0; k < run.K; ++k) run.proportions[k] += row[k];
  }
  for (double& share : run.proportions) share /= static_cast<double>(run.Q.size());
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  return run;
}
