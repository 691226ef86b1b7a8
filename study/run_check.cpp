#include "study/run_check.h"

#include <cmath>
#include <vector>

#include "cluster/em.h"

double MixtureLogLikelihood(const GenotypeTable& X, const RunRecord& run) {
  const int32_t K = run.K;
  std::vector<double> logPi(K), terms(K);
  for (int32_t k = 0; k < K; ++k) logPi[k] = std::log(run.proportions[k]);
  double loglik = 0.0;
  for (int32_t n = 0; n < X.N; ++n) {
    terms = logPi;
    for (int32_t a = 0; a < X.A; ++a) {
      for (int32_t l = 0; l < X.L; ++l) {
        const uint32_t code = GenotypeCode(X, n, a, l);
        if (code >= X.alleleValues[l].size() || X.alleleValues[l][code] < 0) continue;
        for (int32_t k = 0; k < K; ++k) terms[k] += std::log(run.P[k][l][code]);
      }
    }
    loglik += LogSumExp(terms.data(), K);
  }
  return loglik;
}

bool SameLogLikelihood(double recorded, double computed) {
  if (recorded == computed) return true;  // -inf too
  return std::fabs(recorded - computed) <= 1e-9 * std::fmax(1.0, std::fabs(computed));
}
