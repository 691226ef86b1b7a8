#include "study/model.h"

#include "cluster/em.h"
#include "study/accelerated_run.h"
#include "study/admixture_run.h"
#include "study/model_choice.h"
#include "study/model_refit.h"
#include "study/run_check.h"
#include "study/sweep_run.h"

namespace {

RunRecord RunMixture(const StartContext& context, const StartMethod& start,
                     const RunRecord& planned, const SweepSettings& settings, int32_t A,
                     const std::vector<int32_t>& J, int32_t engineThreads) {
  return RunSweepRun(context, start, planned.K, planned.replicate, planned.seed,
                     settings.maxIterations, settings.tolerance, A, J, engineThreads,
                     SweepRunEmSettings(settings, context.observedCopies), settings.search);
}

int64_t MixtureParameters(int32_t, int32_t K, const std::vector<int32_t>& J) {
  return FreeParameters(K, J);
}

int64_t AdmixtureParameters(int32_t N, int32_t K, const std::vector<int32_t>& J) {
  int64_t frequencies = 0;
  for (int32_t Jl : J) frequencies += Jl > 1 ? Jl - 1 : 0;
  return static_cast<int64_t>(N) * (K - 1) + static_cast<int64_t>(K) * frequencies;
}

}  // namespace

const std::vector<StudyModel>& StudyModels() {
  static const std::vector<StudyModel> models = {
      {"mixture", &RunMixture, &MixtureParameters, &MixtureLogLikelihood, &RefitMixture,
       "the probability that the individual comes from each cluster",
       "every individual from one of K clusters (Q: membership probabilities)"},
      {"admixture", &RunAdmixtureRun, &AdmixtureParameters, &AdmixtureLogLikelihood,
       &RefitAdmixture,
       "the individual's ancestry proportions: the share of its allele copies from each cluster",
       "every allele copy from one of K clusters (Q: ancestry proportions)"},
  };
  return models;
}

const StudyModel* FindModel(const std::string& name) {
  for (const StudyModel& model : StudyModels()) {
    if (name == model.name) return &model;
  }
  return nullptr;
}

std::string ModelNames() {
  std::string names;
  for (const StudyModel& model : StudyModels()) {
    if (!names.empty()) names += '|';
    names += model.name;
  }
  return names;
}
