// One run of the admixture model in a sweep: the replicate's mixture-model run (same seed,
// start and stopping rule) gives the start, its memberships as ancestry proportions and its
// frequencies as P; then the admixture model's EM (cluster/admixture_em.h) with the sweep's
// --acceleration and --stop.
#pragma once

#include <cstdint>
#include <vector>

#include "cluster/accelerated_em.h"
#include "cluster/admixture_em.h"
#include "study/accelerated_run.h"
#include "study/starts.h"
#include "study/study.h"

// The start's values are first clamped into [epsilon, 1 - epsilon] and renormalised (the
// mixture's memberships are often exactly 0 or 1, which EM could never move). The record's
// history, iterations, converged and loglik are those of the admixture EM (one entry per EM
// step); seconds cover both; proportions are the mean ancestry proportions.
RunRecord RunAdmixtureRun(const StartContext& context, const StartMethod& start,
                          const RunRecord& planned, const SweepSettings& settings, int32_t A,
                          const std::vector<int32_t>& J, int32_t engineThreads);

// The mixture run's memberships are 0 or 1 at many loci, a corner of the admixture model where
// EM barely moves (measured: a 300 x 2,000 SNP run stopped after 11 steps, ancestry RMSE 0.167;
// drawn 0.2 of the way to the flat row first, 587 steps to the optimum, RMSE 0.075; shares
// 0.01, 0.1, 0.3 and 0.5 took 1,513, 581, 695 and 795 steps). Each row of the start's Q becomes
// (1 - s) q + s / K.
constexpr double kAdmixtureStartShrink = 0.2;
void ShrinkAdmixtureStart(Vector2D<double>& Q);

// The admixture EM of a run from its estimates run.Q and run.P on X (clamped and renormalised
// first, as above), with the sweep's --acceleration, --stop, --tolerance and
// --max-iterations: RecordAdmixtureFit of its outcome. The second half of RunAdmixtureRun.
void FitAdmixture(const GenotypeTable& X, const SweepSettings& settings, const RunEmSettings& em,
                  int32_t engineThreads, RunRecord& run);

// The accelerator's settings for the admixture EM of a sweep's run: the sweep's acceleration,
// stopping rule, tolerance and iterations, the model's observed copies.
AcceleratorSettings AdmixtureAccelerator(const SweepSettings& settings, const RunEmSettings& em,
                                         const AdmixtureModel& model);

// Puts the admixture EM's outcome into run: Q and P from theta, the history, iterations,
// converged and loglik of the fit, and as proportions the mean ancestry proportions.
void RecordAdmixtureFit(const AdmixtureModel& model, const std::vector<double>& theta,
                        const AcceleratedRun& fit, RunRecord& run);

// The admixture model's log-likelihood of run.Q and run.P on X: that of the EM step from them
// (AdmixtureStep), as the run's EM computed it for its final estimates.
double AdmixtureLogLikelihood(const GenotypeTable& X, const RunRecord& run);
