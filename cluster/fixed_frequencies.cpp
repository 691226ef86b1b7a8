#include "cluster/fixed_frequencies.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kLogFloor = -707.0;
constexpr double kRatioCap = 707.0;

// One individual: the rows of F of its known copies (copies a outer, loci inner).
struct OneIndividual {
  const double* F = nullptr;
  int32_t K = 0;
  std::vector<int32_t> rows;
  std::vector<double> sum;  // the A sums
};

double StepOne(void* model, const double* q, double* next) {
  OneIndividual& m = *static_cast<OneIndividual*>(model);
  const int32_t K = m.K;
  double* sum = m.sum.data();
  std::fill_n(sum, K, 0.0);
  double product = 1.0, exponents = 0.0;
  // Invariant: product * 2^exponents is the product of h over the copies so far, product
  // kept in [0.5, 1) by frexp after every copy.
  for (size_t i = 0; i < m.rows.size(); ++i) {
    const double* p = m.F + static_cast<size_t>(m.rows[i]) * K;
    double h = q[0] * p[0];
    for (int32_t k = 1; k < K; ++k) h += q[k] * p[k];
    const double w = 1.0 / h;
    for (int32_t k = 0; k < K; ++k) sum[k] += w * p[k];
    int exponent = 0;
    product = std::frexp(product * h, &exponent);
    exponents += exponent;
  }
  const double loglik = exponents * std::log(2.0) + std::log(product);
  if (m.rows.empty()) {
    std::copy_n(q, K, next);
    return 0.0;
  }
  const double inverse = 1.0 / static_cast<double>(m.rows.size());
  for (int32_t k = 0; k < K; ++k) next[k] = q[k] * sum[k] * inverse;
  return loglik;
}

void ProjectOne(void* model, double* q, double epsilon) {
  const int32_t K = static_cast<const OneIndividual*>(model)->K;
  double total = 0.0;
  for (int32_t k = 0; k < K; ++k) {
    q[k] = std::clamp(q[k], epsilon, 1.0 - epsilon);
    total += q[k];
  }
  for (int32_t k = 0; k < K; ++k) q[k] /= total;
}

}  // namespace

void MixturePosterior(const GenotypeTable& X, const FixedFrequencies& f,
                      const std::vector<double>& pi, int32_t threads, Vector2D<double>& Q) {
  const int32_t N = X.N, K = f.K;
  std::vector<double> logF(f.F.size());
  for (size_t i = 0; i < f.F.size(); ++i) logF[i] = std::max(std::log(f.F[i]), kLogFloor);
  std::vector<double> logPi(K);
  for (int32_t k = 0; k < K; ++k) logPi[k] = std::max(std::log(pi[k]), kLogFloor);
  InitVctr2D(Q, N, K, 0.0);
#pragma omp parallel for num_threads(threads) schedule(dynamic, 16) if (threads > 1)
  for (int32_t n = 0; n < N; ++n) {
    double* q = Q[n].data();
    std::vector<double> ratio(static_cast<size_t>(K) * K, 0.0);
    for (int32_t a = 0; a < X.A; ++a) {
      for (int32_t l = 0; l < X.L; ++l) {
        const int32_t* rows = f.rowOfCode.data() + f.alleleStart[l];
        const uint32_t J = static_cast<uint32_t>(f.alleleStart[l + 1] - f.alleleStart[l]);
        const uint32_t code = GenotypeCode(X, n, a, l);
        if (code >= J || rows[code] < 0) continue;
        const double* t = logF.data() + static_cast<size_t>(rows[code]) * K;
        for (int32_t k = 0; k < K; ++k) q[k] += t[k];
      }
    }
    for (int32_t k = 0; k < K; ++k) q[k] = q[k] + logPi[k];
    for (int32_t k = 0; k < K; ++k) {
      for (int32_t m = k + 1; m < K; ++m) {
        const double r = q[m] - q[k];
        ratio[static_cast<size_t>(k) * K + m] = std::min(r, kRatioCap);
        ratio[static_cast<size_t>(m) * K + k] = std::min(0.0 - r, kRatioCap);
      }
    }
    for (int32_t k = 0; k < K; ++k) {
      double sum = 0.0;
      for (int32_t m = 0; m < K; ++m) sum += std::exp(ratio[static_cast<size_t>(k) * K + m]);
      q[k] = 1.0 / sum;
    }
  }
}

FixedFrequencyRun AdmixtureFixedFrequencies(const GenotypeTable& X, const FixedFrequencies& f,
                                            const AcceleratorSettings& settings, int32_t threads,
                                            Vector2D<double>& Q) {
  const int32_t N = X.N, K = f.K;
  InitVctr2D(Q, N, K, 0.0);
  std::vector<double> logliks(N, 0.0);
  std::vector<int32_t> steps(N, 0);
  std::vector<uint8_t> converged(N, 0);
#pragma omp parallel num_threads(threads) if (threads > 1)
  {
    OneIndividual m;
    m.F = f.F.data();
    m.K = K;
    m.sum.assign(K, 0.0);
    m.rows.reserve(static_cast<size_t>(X.A) * X.L);
    std::vector<double> theta(K);
#pragma omp for schedule(dynamic, 4)
    for (int32_t n = 0; n < N; ++n) {
      m.rows.clear();
      for (int32_t a = 0; a < X.A; ++a) {
        for (int32_t l = 0; l < X.L; ++l) {
          const int32_t* rows = f.rowOfCode.data() + f.alleleStart[l];
          const uint32_t J = static_cast<uint32_t>(f.alleleStart[l + 1] - f.alleleStart[l]);
          const uint32_t code = GenotypeCode(X, n, a, l);
          if (code < J && rows[code] >= 0) m.rows.push_back(rows[code]);
        }
      }
      AcceleratorSettings own = settings;
      own.observedCopies = static_cast<double>(m.rows.size());
      std::fill(theta.begin(), theta.end(), 1.0 / K);
      const EmMap map{K, &StepOne, &ProjectOne, &m};
      const AcceleratedRun run = RunAcceleratedEm(map, theta, own);
      std::copy(theta.begin(), theta.end(), Q[n].begin());
      logliks[n] = run.loglik;
      steps[n] = run.steps;
      converged[n] = run.converged || m.rows.empty();
    }
  }
  FixedFrequencyRun total;
  for (int32_t n = 0; n < N; ++n) {
    total.steps += steps[n];
    total.unconverged += converged[n] ? 0 : 1;
    total.loglik += logliks[n];
  }
  return total;
}
