// The study command's choice of EM after a run's annealing (--acceleration, --stop): plain EM
// as the classic command runs it, or the accelerated EM of cluster/accelerated_em.h over the
// mixture model's EM map (cluster/mixture_em_map.h).
#pragma once

#include <cstdint>
#include <string>

#include "cluster/accelerated_em.h"
#include "cluster/em.h"
#include "study/study.h"

struct RunEmSettings {
  Acceleration acceleration = Acceleration::kNone;
  StoppingRule rule = StoppingRule::kAbsolute;
  double observedCopies = 0.0;  // allele copies not missing, for the per-copy rule
};

// The settings of the sweep's runs: the names in settings, the copies of the input.
RunEmSettings SweepRunEmSettings(const SweepSettings& settings, double observedCopies);

// The report's sentence on the runs' EM: the acceleration and the stopping rule, with the
// tolerance as `tolerance` reads.
std::string EmDescription(const SweepSettings& settings, const std::string& tolerance);

// The gain below which a plain iteration stops the run: tolerance, or tolerance x copies.
double RunStoppingThreshold(const RunEmSettings& em, double tolerance);

// The accelerated EM of a run after its annealing: from the memberships run.Q (the annealing's
// last), at most maxSteps EM steps; appends one entry per step to run.history and leaves
// run.proportions, run.P, run.Q (the E-step of the final estimates), run.loglik and
// run.converged.
void RunAcceleratedSweepEm(EmWorkspace& w, const RunEmSettings& em, int32_t maxSteps,
                           double tolerance, Vector2D<double>& ratios, RunRecord& run);
