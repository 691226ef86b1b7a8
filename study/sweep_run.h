// One run of a sweep: a start, then plain EM until the log-likelihood stops rising by the
// tolerance or the iterations run out.
#pragma once

#include <cstdint>

#include "study/accelerated_run.h"
#include "study/starts.h"
#include "study/study.h"

// Runs K clusters from seed: the generator (ranlxs2) is seeded with it, the start draws from
// it, then EM iterations t = 0, 1, ... (EmIteration): plain (variant 'c') for a start without
// annealing; otherwise variant 'a' for the first AnnealingIterations(start, K, replicate), plain
// after. The run stops after the first iteration t >= 1 (t > annealing) whose log-likelihood rises
// by less than tolerance over that of iteration t - 1 (converged), or after maxIterations;
// with tolerance 0 every iteration runs. The log-likelihoods are those of the plain model in
// every iteration (annealing changes only the memberships the next iteration starts from).
// engineThreads go to the EM workspace; the record does not depend on them. Every field of
// the record but order, mode and similarityToBest is filled.
//
// With an acceleration (--acceleration; study/accelerated_run.h) the EM after the annealing
// runs through RunMixtureAcceleratedEm instead: history then holds one entry per EM step,
// iterations counts the steps, and Q is the E-step of the final (pi, P).
//
// search (--search; context.counts prepared unless "none"): "reassign" (K >= 2) then moves
// single individuals between the run's hard clusters (ReassignSearch), "split-merge" (K >= 3)
// does that and then the split-and-merge moves (SplitMergeSearch); at most kSplitMergeTries
// candidates, each converged by the same EM from its memberships, the 2-means of the splits
// drawing from the run's generator. A candidate of higher log-likelihood replaces the
// estimates; the kept candidates' steps follow in the history.
RunRecord RunSweepRun(const StartContext& context, const StartMethod& start, int32_t K,
                      int32_t replicate, uint32_t seed, int32_t maxIterations, double tolerance,
                      int32_t A, const std::vector<int32_t>& J, int32_t engineThreads,
                      const RunEmSettings& em = {}, const std::string& search = "none");

constexpr int32_t kSplitMergeTries = 4;
