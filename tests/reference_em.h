// A literal, copy-by-copy version of one EM iteration, kept as the oracle for the fast
// one: every allele index is looked up by comparing the copy's value with each allele of
// its locus, every logarithm is taken where it is used, and every step runs over the
// whole table before the next begins. Slow on purpose; used by tests and benchmarks.
#pragma once

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <vector>

#include "cluster/em.h"
#include "data/random.h"
#include "data/vectors.h"

namespace reference {

// Position of x among the alleles of one locus, or -1 for a missing copy.
inline int32_t AlleleIndex(const std::vector<int32_t>& values, int32_t Jl, int32_t x) {
  for (int32_t j = 0; j < Jl; ++j) {
    if (values[j] == x) return j;
  }
  return -1;
}

inline double Lambda(double p) {
  return p == 0.0 ? -707.0 : std::max(std::log(p), -707.0);
}

inline double EmIteration(int32_t t, const GenotypeValues& X, const Vector2D<int32_t>& V,
                          const std::vector<int32_t>& J, int32_t N, int32_t A, int32_t L, int32_t K,
                          char variant, int32_t T, RandomGenerator& rng, std::vector<double>& pi,
                          Vector3D<double>& P, Vector2D<double>& Q, Vector2D<double>& R,
                          double& beta) {
  // 1. Mixing proportions.
  for (int32_t k = 0; k < K; ++k) {
    double sum = 0.0;
    for (int32_t n = 0; n < N; ++n) sum += Q[n][k];
    pi[k] = (1.0 / N) * sum;
  }

  // 2. Allele frequencies, with the uniform rule for a cluster and locus with S = 0.
  for (int32_t k = 0; k < K; ++k) {
    for (int32_t l = 0; l < L; ++l) {
      std::vector<double> F(J[l], 0.0);
      for (int32_t j = 0; j < J[l]; ++j) {
        for (int32_t n = 0; n < N; ++n) {
          int32_t c = 0;
          for (int32_t a = 0; a < A; ++a) {
            if (X[n][a][l] == V[l][j]) ++c;
          }
          F[j] += c * Q[n][k];
        }
      }
      double S = 0.0;
      for (int32_t j = 0; j < J[l]; ++j) S += F[j];
      for (int32_t j = 0; j < J[l]; ++j) {
        P[k][l][j] = std::isinf(1.0 / S) ? 1.0 / J[l] : F[j] * (1.0 / S);
      }
    }
  }

  // 3. Clustering probabilities.
  for (int32_t n = 0; n < N; ++n) {
    for (int32_t k = 0; k < K; ++k) {
      double g = 0.0;
      for (int32_t a = 0; a < A; ++a) {
        for (int32_t l = 0; l < L; ++l) {
          const int32_t j = AlleleIndex(V[l], J[l], X[n][a][l]);
          if (j >= 0) g += Lambda(P[k][l][j]);
        }
      }
      Q[n][k] = g + Lambda(pi[k]);
    }
    for (int32_t k = 0; k < K; ++k) {
      for (int32_t m = k + 1; m < K; ++m) {
        R[k][m] = Q[n][m] - Q[n][k];
        R[m][k] = 0 - R[k][m];
      }
    }
    for (int32_t k = 0; k < K; ++k) {
      for (int32_t m = 0; m < K; ++m) {
        if (R[k][m] > 707.0) R[k][m] = 707.0;
      }
    }
    for (int32_t k = 0; k < K; ++k) {
      double sum = 0.0;
      for (int32_t m = 0; m < K; ++m) sum += std::exp(R[k][m]);
      Q[n][k] = 1 / sum;
    }
  }

  // 4. Variant step of the settling phase.
  if (t < T && variant == 'a') {
    for (int32_t n = 0; n < N; ++n) {
      for (int32_t k = 0; k < K; ++k) Q[n][k] = std::pow(Q[n][k], beta);
      double sum = 0.0;
      for (int32_t k = 0; k < K; ++k) sum += Q[n][k];
      for (int32_t k = 0; k < K; ++k) Q[n][k] = Q[n][k] * (1 / sum);
    }
    beta = beta * 1.2;
  } else if (t < T && variant == 's') {
    for (int32_t n = 0; n < N; ++n) {
      int32_t drawn = CategoricalDraw(rng, Q[n]);
      if (drawn == K) {
        drawn = 0;
        for (int32_t k = 0; k < K; ++k) {
          if (Q[n][k] > 0.0) drawn = k;
        }
      }
      for (int32_t k = 0; k < K; ++k) Q[n][k] = k == drawn ? 1.0 : 0.0;
    }
  }

  // 5. Log-likelihood, in log space for an individual whose s_n is 0 or subnormal.
  double LL = 0.0;
  for (int32_t n = 0; n < N; ++n) {
    double s = 0.0;
    for (int32_t k = 0; k < K; ++k) {
      double f = 1.0;
      for (int32_t a = 0; a < A; ++a) {
        for (int32_t l = 0; l < L; ++l) {
          if (X[n][a][l] >= 0) f *= P[k][l][AlleleIndex(V[l], J[l], X[n][a][l])];
        }
      }
      s += pi[k] * f;
    }
    if (s >= DBL_MIN) {
      LL += std::log(s);
      continue;
    }
    std::vector<double> terms(K);
    for (int32_t k = 0; k < K; ++k) {
      double sumLog = 0.0;
      for (int32_t a = 0; a < A; ++a) {
        for (int32_t l = 0; l < L; ++l) {
          if (X[n][a][l] >= 0) sumLog += std::log(P[k][l][AlleleIndex(V[l], J[l], X[n][a][l])]);
        }
      }
      terms[k] = sumLog + std::log(pi[k]);
    }
    LL += LogSumExp(terms.data(), K);
  }
  return LL;
}

// I iterations from the starting Q, as RunEM runs them (without the progress lines).
inline void RunEM(const GenotypeValues& X, const Vector2D<int32_t>& V,
                  const std::vector<int32_t>& J, int32_t N, int32_t A, int32_t L, int32_t K,
                  int32_t I, char variant, int32_t T, RandomGenerator& rng, std::vector<double>& pi,
                  Vector3D<double>& P, Vector2D<double>& Q, Vector2D<double>& R,
                  std::vector<double>& H) {
  double beta = std::pow(1.2, -T);
  for (int32_t t = 0; t < I; ++t) {
    H[t] = EmIteration(t, X, V, J, N, A, L, K, variant, T, rng, pi, P, Q, R, beta);
  }
}

}  // namespace reference
