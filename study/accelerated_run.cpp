#include "study/accelerated_run.h"

#include "cluster/mixture_em_map.h"

RunEmSettings SweepRunEmSettings(const SweepSettings& settings, double observedCopies) {
  RunEmSettings em;
  ParseAcceleration(settings.acceleration, em.acceleration);
  ParseStoppingRule(settings.stop, em.rule);
  em.observedCopies = observedCopies;
  return em;
}

std::string EmDescription(const SweepSettings& settings, const std::string& tolerance) {
  RunEmSettings em = SweepRunEmSettings(settings, 0.0);
  std::string text =
      em.acceleration == Acceleration::kNone
          ? "After the annealing, plain EM (--acceleration none): iterations are EM iterations. "
          : "After the annealing, accelerated EM (--acceleration squarem: SQUAREM, each cycle "
            "two EM steps extrapolated along their path, kept only when the log-likelihood is "
            "no lower than after the two plain steps): iterations count the EM steps, and the "
            "convergence plot shows the log-likelihood of every one, extrapolated points "
            "included. ";
  text += "A run converged when an EM step raised the log-likelihood by less than " + tolerance;
  text += em.rule == StoppingRule::kPerCopy ? " per observed allele copy (--stop per-copy)." : ".";
  return text;
}

double RunStoppingThreshold(const RunEmSettings& em, double tolerance) {
  AcceleratorSettings settings;
  settings.rule = em.rule;
  settings.tolerance = tolerance;
  settings.observedCopies = em.observedCopies;
  return StoppingThreshold(settings);
}

void RunAcceleratedSweepEm(EmWorkspace& w, const RunEmSettings& em, int32_t maxSteps,
                           double tolerance, Vector2D<double>& ratios, RunRecord& run) {
  AcceleratorSettings settings;
  settings.method = em.acceleration;
  settings.rule = em.rule;
  settings.tolerance = tolerance;
  settings.observedCopies = em.observedCopies;
  settings.maxSteps = maxSteps;
  const AcceleratedRun result =
      RunMixtureAcceleratedEm(w, settings, run.proportions, run.P, run.Q, ratios);
  run.history.insert(run.history.end(), result.history.begin(), result.history.end());
  run.converged = result.converged;
  run.loglik = result.loglik;
}
