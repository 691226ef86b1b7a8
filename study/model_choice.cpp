#include "study/model_choice.h"

#include <cmath>
#include <limits>

#include "study/alignment.h"
#include "study/model.h"

int64_t FreeParameters(int32_t K, const std::vector<int32_t>& J) {
  int64_t frequencies = 0;
  for (int32_t Jl : J) frequencies += Jl > 1 ? Jl - 1 : 0;
  return (K - 1) + static_cast<int64_t>(K) * frequencies;
}

double MembershipEntropy(const Vector2D<double>& Q) {
  double entropy = 0.0;
  for (const std::vector<double>& row : Q) {
    for (double q : row) {
      if (q > 0.0) entropy -= q * std::log(q);
    }
  }
  return entropy;
}

const char* ChoiceCriterion(const SweepSettings& settings) {
  return settings.cvFolds > 0 ? "lowest cross-validation error" : "lowest BIC";
}

void ChooseK(StudyRecord& study) {
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  std::vector<KSummary>& summaries = study.summaries;
  for (KSummary& s : summaries) {
    const std::vector<int32_t> ofK = RunsOfK(study, s.K);
    s.replicates = static_cast<int32_t>(ofK.size());
    s.converged = 0;
    double sum = 0.0;
    for (int32_t i : ofK) {
      s.converged += study.runs[i].converged ? 1 : 0;
      sum += study.runs[i].loglik;
    }
    s.loglikMean = ofK.empty() ? kNaN : sum / static_cast<double>(ofK.size());
    double squares = 0.0;
    for (int32_t i : ofK) {
      const double d = study.runs[i].loglik - s.loglikMean;
      squares += d * d;
    }
    s.loglikSd = ofK.size() >= 2 ? std::sqrt(squares / static_cast<double>(ofK.size() - 1)) : kNaN;
    const RunRecord& best = study.runs[s.best];
    s.loglikBest = best.loglik;
    s.parameters = FindModel(study.settings.model)->parameters(study.N, s.K, study.J);
    const double p = static_cast<double>(s.parameters);
    s.AIC = -2.0 * s.loglikBest + 2.0 * p;
    s.BIC = -2.0 * s.loglikBest + p * std::log(static_cast<double>(study.N));
    s.ICL = s.BIC + 2.0 * MembershipEntropy(best.Q);
    s.chosen = false;
  }
  for (size_t i = 0; i < summaries.size(); ++i) {
    KSummary& s = summaries[i];
    s.deltaK = kNaN;
    if (i == 0 || i + 1 == summaries.size() || s.replicates < 2) continue;
    if (summaries[i - 1].K != s.K - 1 || summaries[i + 1].K != s.K + 1) continue;
    const double bend =
        std::fabs(summaries[i + 1].loglikMean - 2.0 * s.loglikMean + summaries[i - 1].loglikMean);
    s.deltaK = bend / s.loglikSd;
  }
  study.chosenK = 0;
  const bool byCv = study.settings.cvFolds > 0;
  KSummary* chosen = nullptr;
  for (KSummary& s : summaries) {
    const double criterion = byCv ? s.cvError : s.BIC;
    if (std::isnan(criterion)) continue;
    if (chosen == nullptr || criterion < (byCv ? chosen->cvError : chosen->BIC)) chosen = &s;
  }
  if (chosen != nullptr) {
    chosen->chosen = true;
    study.chosenK = chosen->K;
  }
}
