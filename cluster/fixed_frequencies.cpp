#include "cluster/fixed_frequencies.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kLogFloor = -707.0;
constexpr double kRatioCap = 707.0;

struct QOnlyModel {
  const GenotypeTable* X = nullptr;
  const FixedFrequencies* f = nullptr;
  int32_t N = 0, K = 0, threads = 1;
  std::vector<double> copies;  // M_n
  std::vector<double> terms;   // the log-likelihood term of every individual
  std::vector<double> sums;    // N x K: the A sums
};

// One step over individual n: writes q' into to, its term into m.terms[n].
void StepIndividual(QOnlyModel& m, int32_t n, const double* from, double* to) {
  const GenotypeTable& X = *m.X;
  const FixedFrequencies& f = *m.f;
  const int32_t K = m.K;
  const double* q = from + static_cast<size_t>(n) * K;
  double* sum = m.sums.data() + static_cast<size_t>(n) * K;
  std::fill_n(sum, K, 0.0);
  double product = 1.0, exponents = 0.0;
  for (int32_t l = 0; l < X.L; ++l) {
    const int32_t* rows = f.rowOfCode.data() + f.alleleStart[l];
    const uint32_t J = static_cast<uint32_t>(f.alleleStart[l + 1] - f.alleleStart[l]);
    for (int32_t a = 0; a < X.A; ++a) {
      const uint32_t code = GenotypeCode(X, n, a, l);
      if (code >= J || rows[code] < 0) continue;
      const double* p = f.F.data() + static_cast<size_t>(rows[code]) * K;
      double h = q[0] * p[0];
      for (int32_t k = 1; k < K; ++k) h += q[k] * p[k];
      const double w = 1.0 / h;
      for (int32_t k = 0; k < K; ++k) sum[k] += w * p[k];
      product *= h;
    }
    int exponent = 0;
    product = std::frexp(product, &exponent);
    exponents += exponent;
  }
  m.terms[n] = exponents * std::log(2.0) + std::log(product);
  double* next = to + static_cast<size_t>(n) * K;
  if (m.copies[n] == 0.0) {
    std::copy_n(q, K, next);
    return;
  }
  const double inverse = 1.0 / m.copies[n];
  for (int32_t k = 0; k < K; ++k) next[k] = q[k] * sum[k] * inverse;
}

double Step(void* model, const double* from, double* to) {
  QOnlyModel& m = *static_cast<QOnlyModel*>(model);
#pragma omp parallel for num_threads(m.threads) schedule(dynamic, 16) if (m.threads > 1)
  for (int32_t n = 0; n < m.N; ++n) StepIndividual(m, n, from, to);
  double loglik = 0.0;
  for (double term : m.terms) loglik += term;
  return loglik;
}

void Project(void* model, double* theta, double epsilon) {
  const QOnlyModel& m = *static_cast<const QOnlyModel*>(model);
  for (int32_t n = 0; n < m.N; ++n) {
    double* q = theta + static_cast<size_t>(n) * m.K;
    double total = 0.0;
    for (int32_t k = 0; k < m.K; ++k) {
      q[k] = std::clamp(q[k], epsilon, 1.0 - epsilon);
      total += q[k];
    }
    for (int32_t k = 0; k < m.K; ++k) q[k] /= total;
  }
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

AcceleratedRun AdmixtureFixedFrequencies(const GenotypeTable& X, const FixedFrequencies& f,
                                         AcceleratorSettings settings, int32_t threads,
                                         Vector2D<double>& Q) {
  QOnlyModel m;
  m.X = &X;
  m.f = &f;
  m.N = X.N;
  m.K = f.K;
  m.threads = std::max(threads, 1);
  m.copies.assign(m.N, 0.0);
  m.terms.assign(m.N, 0.0);
  m.sums.assign(static_cast<size_t>(m.N) * m.K, 0.0);
  double observed = 0.0;
  for (int32_t n = 0; n < m.N; ++n) {
    for (int32_t l = 0; l < X.L; ++l) {
      const int32_t* rows = f.rowOfCode.data() + f.alleleStart[l];
      const uint32_t J = static_cast<uint32_t>(f.alleleStart[l + 1] - f.alleleStart[l]);
      for (int32_t a = 0; a < X.A; ++a) {
        const uint32_t code = GenotypeCode(X, n, a, l);
        if (code < J && rows[code] >= 0) m.copies[n] += 1.0;
      }
    }
    observed += m.copies[n];
  }
  std::vector<double> theta(static_cast<size_t>(m.N) * m.K, 1.0 / m.K);
  settings.observedCopies = observed;
  EmMap map;
  map.size = static_cast<int64_t>(theta.size());
  map.step = &Step;
  map.project = &Project;
  map.model = &m;
  const AcceleratedRun run = RunAcceleratedEm(map, theta, settings);
  InitVctr2D(Q, m.N, m.K, 0.0);
  for (int32_t n = 0; n < m.N; ++n) {
    std::copy_n(theta.data() + static_cast<size_t>(n) * m.K, m.K, Q[n].data());
  }
  return run;
}
