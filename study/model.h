// The models a sweep can fit, each one routine chosen by name (--model): how a run is made,
// how many free parameters BIC counts, and what the memberships Q of its files mean.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "study/starts.h"
#include "study/study.h"

// Makes one planned run (K, replicate, seed) as RunSweepRun does, filling the same fields.
using ModelRunRoutine = RunRecord (*)(const StartContext& context, const StartMethod& start,
                                      const RunRecord& planned, const SweepSettings& settings,
                                      int32_t A, const std::vector<int32_t>& J,
                                      int32_t engineThreads);

struct StudyModel {
  const char* name;
  ModelRunRoutine run;
  // Free parameters of K clusters over N individuals and loci of J[l] alleles (BIC, AIC).
  int64_t (*parameters)(int32_t N, int32_t K, const std::vector<int32_t>& J);
  // The log-likelihood of a run's estimates on X, as its EM computed it (collect's check).
  double (*logLikelihood)(const GenotypeTable& X, const RunRecord& run);
  // The model's EM on X (of the run's shape: some genotypes made missing, or loci drawn
  // again) from the run's estimates Q and P, to convergence by the sweep's EM after the
  // annealing (--acceleration, --stop, --tolerance, --max-iterations), on engineThreads threads
  // (the same bits on any number). Leaves in run.Q and run.P the fit's estimates: for the
  // mixture model Q holds the memberships given X (the E-step of the final estimates), for the
  // admixture model the ancestry proportions (study/model_refit.h).
  void (*refit)(const GenotypeTable& X, const SweepSettings& settings, int32_t engineThreads,
                RunRecord& run);
  const char* memberships;  // what a row of Q is, for the report
  const char* summary;      // one line for --help
};

// Every model, in the order --help lists them (the first is the default):
// - "mixture": every individual from one cluster; Q holds the probabilities of each cluster
//   (RunSweepRun); parameters (K - 1) + K sum_l (J_l - 1).
// - "admixture": every allele copy from a cluster drawn by the individual's ancestry
//   proportions; Q holds those proportions (RunAdmixtureRun); parameters
//   N (K - 1) + K sum_l (J_l - 1).
const std::vector<StudyModel>& StudyModels();

// The model of that name, or nullptr.
const StudyModel* FindModel(const std::string& name);

// The names of every model, separated by "|".
std::string ModelNames();
