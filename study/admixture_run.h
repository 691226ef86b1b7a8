// One run of the admixture model in a sweep: the replicate's mixture-model run (same seed,
// start and stopping rule) gives the start, its memberships as ancestry proportions and its
// frequencies as P; then the admixture model's EM (cluster/admixture_em.h) with the sweep's
// --acceleration and --stop.
#pragma once

#include <cstdint>
#include <vector>

#include "study/starts.h"
#include "study/study.h"

// The start's values are first clamped into [epsilon, 1 - epsilon] and renormalised (the
// mixture's memberships are often exactly 0 or 1, which EM could never move). The record's
// history, iterations, converged and loglik are those of the admixture EM (one entry per EM
// step); seconds cover both; proportions are the mean ancestry proportions.
RunRecord RunAdmixtureRun(const StartContext& context, const StartMethod& start,
                          const RunRecord& planned, const SweepSettings& settings, int32_t A,
                          const std::vector<int32_t>& J, int32_t engineThreads);
