#include "cluster/em.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <iostream>
#include <limits>

namespace {

// Floor of the E-step's logarithms and cap of its log ratios: e^707 is still finite, so
// no exponential of a capped ratio can overflow.
constexpr double kLogFloor = -707.0;
constexpr double kRatioCap = 707.0;

// The floored logarithm lambda(p) from ln p: -707 for p = 0 (ln p = -inf), else
// max(ln p, -707).
double FloorLog(double logP) {
  return std::max(logP, kLogFloor);
}

// The slots of every copy of individual n into w.copySlot.
const int32_t* IndividualSlots(EmWorkspace& w, int32_t n) {
  const GenotypeTable& X = *w.X;
  int32_t* slot = w.copySlot.data();
  for (int32_t a = 0; a < w.A; ++a) {
    for (int32_t l = 0; l < w.L; ++l) {
      const uint32_t code = GenotypeCode(X, n, a, l);
      *slot++ = code < static_cast<uint32_t>(w.J[l]) ? w.slotStart[l] + static_cast<int32_t>(code)
                                                     : w.missingSlot;
    }
  }
  return w.copySlot.data();
}

// Step 1: pi_k = (sum over n ascending of Q[n][k]) * (1/N).
void UpdateMixingProportions(const EmWorkspace& w, const Vector2D<double>& Q,
                             std::vector<double>& pi) {
  const int32_t K = w.K;
  std::fill(pi.begin(), pi.begin() + K, 0.0);
  for (int32_t n = 0; n < w.N; ++n) {
    const double* q = Q[n].data();
    for (int32_t k = 0; k < K; ++k) pi[k] += q[k];
  }
  const double inverseN = 1.0 / w.N;
  for (int32_t k = 0; k < K; ++k) pi[k] = pi[k] * inverseN;
}

// Step 2, first half: F[k][l][j] = sum over n ascending of c(n,l,j) * Q[n][k], where c
// is the number of copies of individual n carrying allele j at locus l. Individuals
// without the allele add exactly +0 in that sum, so only the alleles present are visited,
// each once per individual with its whole count c. KC is K when fixed at compile time
// (the row of Q then stays in registers), 0 otherwise.
template <int KC>
void AddAlleleCounts(EmWorkspace& w, const Vector2D<double>& Q) {
  const int32_t N = w.N, A = w.A, L = w.L, K = KC > 0 ? KC : w.K;
  const int32_t missing = w.missingSlot;
  double* F = w.alleleCounts.data();
  int32_t* slots = w.locusSlots.data();
  int32_t* copies = w.locusCopies.data();
  for (int32_t n = 0; n < N; ++n) {
    double qs[KC > 0 ? KC : 1];
    const double* q = Q[n].data();
    if constexpr (KC > 0) {
      for (int k = 0; k < KC; ++k) qs[k] = q[k];
      q = qs;
    }
    auto add = [&](int32_t slot, double c) {
      double* row = F + static_cast<size_t>(slot) * K;
      for (int32_t k = 0; k < K; ++k) row[k] += c * q[k];
    };
    const int32_t* copySlot = IndividualSlots(w, n);
    if (A == 2) {
      for (int32_t l = 0; l < L; ++l) {
        const int32_t first = copySlot[l], second = copySlot[L + l];
        if (first == second) {
          if (first != missing) add(first, 2.0);
        } else {
          if (first != missing) add(first, 1.0);
          if (second != missing) add(second, 1.0);
        }
      }
      continue;
    }
    for (int32_t l = 0; l < L; ++l) {
      int32_t distinct = 0;
      for (int32_t a = 0; a < A; ++a) {
        const int32_t slot = copySlot[static_cast<size_t>(a) * L + l];
        if (slot == missing) continue;
        int32_t i = 0;
        while (i < distinct && slots[i] != slot) ++i;
        if (i == distinct) {
          slots[distinct] = slot;
          copies[distinct++] = 0;
        }
        ++copies[i];
      }
      for (int32_t i = 0; i < distinct; ++i) add(slots[i], copies[i]);
    }
  }
}

// Step 2: the weighted allele counts F, then P = F * (1/S) with S = sum over j ascending
// of F.
void UpdateAlleleFrequencies(EmWorkspace& w, const Vector2D<double>& Q, Vector3D<double>& P) {
  const int32_t L = w.L, K = w.K;
  const double* F = w.alleleCounts.data();
  std::fill(w.alleleCounts.begin(), w.alleleCounts.end(), 0.0);
  using AddFunction = void (*)(EmWorkspace&, const Vector2D<double>&);
  constexpr AddFunction kAdd[] = {AddAlleleCounts<0>, AddAlleleCounts<1>, AddAlleleCounts<2>,
                                  AddAlleleCounts<3>, AddAlleleCounts<4>, AddAlleleCounts<5>,
                                  AddAlleleCounts<6>, AddAlleleCounts<7>, AddAlleleCounts<8>};
  kAdd[K <= 8 ? K : 0](w, Q);

  for (int32_t k = 0; k < K; ++k) {
    for (int32_t l = 0; l < L; ++l) {
      const int32_t start = w.slotStart[l];
      const int32_t Jl = w.J[l];
      double S = 0.0;
      for (int32_t j = 0; j < Jl; ++j) S += F[static_cast<size_t>(start + j) * K + k];
      const double inverseS = 1.0 / S;
      double* p = P[k][l].data();
      if (std::isinf(inverseS)) {
        // Nothing of cluster k was seen at locus l: uniform frequencies this iteration.
        for (int32_t j = 0; j < Jl; ++j) p[j] = 1.0 / Jl;
      } else {
        for (int32_t j = 0; j < Jl; ++j)
          p[j] = F[static_cast<size_t>(start + j) * K + k] * inverseS;
      }
    }
  }
}

// The logarithms of this iteration's pi and P, computed once for every cluster and slot
// instead of once for every copy.
void UpdateLogTerms(EmWorkspace& w, const std::vector<double>& pi, const Vector3D<double>& P) {
  const int32_t L = w.L, K = w.K;
  for (int32_t k = 0; k < K; ++k) {
    const double logPi = std::log(pi[k]);
    w.logPi[k] = logPi;
    w.floorLogPi[k] = FloorLog(logPi);
  }
  for (int32_t k = 0; k < K; ++k) {
    for (int32_t l = 0; l < L; ++l) {
      const double* p = P[k][l].data();
      for (int32_t j = 0; j < w.J[l]; ++j) {
        const int32_t slot = w.slotStart[l] + j;
        double* terms = w.slotTerms.data() + static_cast<size_t>(slot) * 3 * K;
        const double logP = std::log(p[j]);
        terms[k] = FloorLog(logP);
        // A negative allele value takes part in the counts and in g, but not in the
        // likelihood: factor 1 and log 0 leave its product and log sum unchanged.
        terms[K + k] = w.negativeSlot[slot] ? 1.0 : p[j];
        terms[2 * K + k] = w.negativeSlot[slot] ? 0.0 : logP;
      }
    }
  }
}

// The sums of one individual over its copies, for the KC clusters k0 .. k0 + KC - 1:
// g_k += lambda, f_k *= factor, h_k += log factor, each in copy order (a outer, l inner).
// With KC fixed at compile time the 3 KC running values stay in registers.
template <int KC>
void SumCopiesOfClusters(const int32_t* copySlot, size_t copies, const double* slotTerms, int32_t K,
                         int32_t k0, double* g, double* f, double* h) {
  double gs[KC], fs[KC], hs[KC];
  for (int k = 0; k < KC; ++k) {
    gs[k] = 0.0;
    fs[k] = 1.0;
    hs[k] = 0.0;
  }
  const size_t stride = static_cast<size_t>(3) * K;
  const double* base = slotTerms + k0;
  for (size_t c = 0; c < copies; ++c) {
    const double* terms = base + copySlot[c] * stride;
    for (int k = 0; k < KC; ++k) {
      gs[k] += terms[k];
      fs[k] *= terms[K + k];
      hs[k] += terms[2 * K + k];
    }
  }
  for (int k = 0; k < KC; ++k) {
    g[k0 + k] = gs[k];
    f[k0 + k] = fs[k];
    h[k0 + k] = hs[k];
  }
}

// All K clusters, at most eight at a time.
using SumFunction = void (*)(const int32_t*, size_t, const double*, int32_t, int32_t, double*,
                             double*, double*);
constexpr SumFunction kSum[] = {nullptr,
                                SumCopiesOfClusters<1>,
                                SumCopiesOfClusters<2>,
                                SumCopiesOfClusters<3>,
                                SumCopiesOfClusters<4>,
                                SumCopiesOfClusters<5>,
                                SumCopiesOfClusters<6>,
                                SumCopiesOfClusters<7>,
                                SumCopiesOfClusters<8>};

void SumCopies(const int32_t* copySlot, size_t copies, const double* slotTerms, int32_t K,
               double* g, double* f, double* h) {
  for (int32_t k0 = 0; k0 < K; k0 += 8) {
    kSum[std::min(K - k0, 8)](copySlot, copies, slotTerms, K, k0, g, f, h);
  }
}

}  // namespace

void PrepareEmWorkspace(const GenotypeTable& X, const Vector2D<int32_t>& AlleleValues,
                        const std::vector<int32_t>& J, int32_t N, int32_t A, int32_t L, int32_t K,
                        EmWorkspace& w, int32_t threads) {
  w.threads = threads > 0 ? threads : 1;
  w.N = N;
  w.A = A;
  w.L = L;
  w.K = K;
  w.J.assign(J.begin(), J.begin() + L);
  w.slotStart.assign(L + 1, 0);
  for (int32_t l = 0; l < L; ++l) w.slotStart[l + 1] = w.slotStart[l] + J[l];
  w.missingSlot = w.slotStart[L];
  const size_t slotCount = static_cast<size_t>(w.missingSlot) + 1;

  w.negativeSlot.assign(slotCount, 0);
  for (int32_t l = 0; l < L; ++l) {
    for (int32_t j = 0; j < J[l]; ++j) w.negativeSlot[w.slotStart[l] + j] = AlleleValues[l][j] < 0;
  }

  w.X = &X;
  w.copySlot.assign(static_cast<size_t>(A) * L, 0);

  w.alleleCounts.assign(slotCount * K, 0.0);
  w.slotTerms.assign(slotCount * 3 * K, 0.0);
  // A missing copy: no log term, factor 1.
  std::fill_n(w.slotTerms.begin() + (slotCount - 1) * 3 * K + K, K, 1.0);
  w.floorLogPi.assign(K, 0.0);
  w.logPi.assign(K, 0.0);
  w.g.assign(K, 0.0);
  w.f.assign(K, 0.0);
  w.h.assign(K, 0.0);
  w.locusSlots.assign(A, 0);
  w.locusCopies.assign(A, 0);
}

double EmIteration(int32_t t, char emVariant, int32_t settlingCount, RandomGenerator& rng,
                   EmWorkspace& w, std::vector<double>& MixingProportions,
                   Vector3D<double>& AlleleFrequencies, Vector2D<double>& ClusteringProbabilities,
                   Vector2D<double>& LogRatioMatrix, double& AnnealingExponent) {
  const int32_t N = w.N, K = w.K;
  const size_t copiesPerIndividual = static_cast<size_t>(w.A) * w.L;
  std::vector<double>& pi = MixingProportions;
  Vector2D<double>& Q = ClusteringProbabilities;
  Vector2D<double>& R = LogRatioMatrix;

  UpdateMixingProportions(w, Q, pi);
  UpdateAlleleFrequencies(w, Q, AlleleFrequencies);
  UpdateLogTerms(w, pi, AlleleFrequencies);

  const bool settling = t < settlingCount;
  const bool annealing = settling && emVariant == 'a';
  const bool stochastic = settling && emVariant == 's';
  const double beta = AnnealingExponent;
  double* g = w.g.data();
  double* f = w.f.data();
  double* h = w.h.data();
  double logLikelihood = 0.0;

  // Steps 3 to 5 for one individual at a time: the E-step and the variant step only
  // touch row n of Q, and the likelihood only needs this iteration's pi and P, so the
  // sums of every cluster, each in its documented order, share one pass over the copies.
  for (int32_t n = 0; n < N; ++n) {
    SumCopies(IndividualSlots(w, n), copiesPerIndividual, w.slotTerms.data(), K, g, f, h);

    // E-step: g_k (with lambda(pi_k) added last) in row n, pairwise ratios, posteriors.
    double* q = Q[n].data();
    for (int32_t k = 0; k < K; ++k) q[k] = g[k] + w.floorLogPi[k];
    for (int32_t k = 0; k < K; ++k) {
      for (int32_t m = k + 1; m < K; ++m) {
        const double ratio = q[m] - q[k];
        R[k][m] = std::min(ratio, kRatioCap);
        R[m][k] = std::min(0.0 - ratio, kRatioCap);
      }
    }
    for (int32_t k = 0; k < K; ++k) {
      const double* ratios = R[k].data();
      double sum = 0.0;
      for (int32_t m = 0; m < K; ++m) sum += std::exp(ratios[m]);
      q[k] = 1.0 / sum;
    }

    if (annealing) {
      double sum = 0.0;
      for (int32_t k = 0; k < K; ++k) {
        q[k] = std::pow(q[k], beta);
        sum += q[k];
      }
      const double inverseSum = 1.0 / sum;
      for (int32_t k = 0; k < K; ++k) q[k] *= inverseSum;
    } else if (stochastic) {
      const int32_t drawn = DrawCluster(rng, q, K);
      for (int32_t k = 0; k < K; ++k) q[k] = k == drawn ? 1.0 : 0.0;
    }

    // Log-likelihood term of individual n.
    double s = 0.0;
    for (int32_t k = 0; k < K; ++k) s += pi[k] * f[k];
    if (s >= DBL_MIN) {
      logLikelihood += std::log(s);
    } else {
      for (int32_t k = 0; k < K; ++k) h[k] = h[k] + w.logPi[k];
      logLikelihood += LogSumExp(h, K);
    }
  }
  if (annealing) AnnealingExponent = beta * 1.2;
  return logLikelihood;
}

void RunEM(const GenotypeTable& X, const Vector2D<int32_t>& AlleleValues,
           const std::vector<int32_t>& J, int32_t N, int32_t A, int32_t L, int32_t K, int32_t I,
           char emVariant, int32_t settlingCount, RandomGenerator& rng,
           std::vector<double>& MixingProportions, Vector3D<double>& AlleleFrequencies,
           Vector2D<double>& ClusteringProbabilities, Vector2D<double>& LogRatioMatrix,
           std::vector<double>& LogLikelihoodHistory) {
  EmWorkspace w;
  PrepareEmWorkspace(X, AlleleValues, J, N, A, L, K, w);
  double AnnealingExponent = std::pow(1.2, -settlingCount);
  for (int32_t t = 0; t < I; ++t) {
    LogLikelihoodHistory[t] =
        EmIteration(t, emVariant, settlingCount, rng, w, MixingProportions, AlleleFrequencies,
                    ClusteringProbabilities, LogRatioMatrix, AnnealingExponent);
    if ((t + 1) % 100 == 0) std::cout << t + 1 << " Iterations Completed" << std::endl;
  }
}

int32_t DrawCluster(RandomGenerator& rng, const double* q, int32_t K) {
  const int32_t drawn = CategoricalDraw(rng, q, K);
  if (drawn < K) return drawn;
  for (int32_t k = K - 1; k >= 0; --k) {
    if (q[k] > 0.0) return k;
  }
  return 0;
}

double LogSumExp(const double* t, int32_t K) {
  double largest = -std::numeric_limits<double>::infinity();
  for (int32_t k = 0; k < K; ++k) largest = std::max(largest, t[k]);
  if (std::isinf(largest) && largest < 0.0) return largest;
  double sum = 0.0;
  for (int32_t k = 0; k < K; ++k) sum += std::exp(t[k] - largest);
  return largest + std::log(sum);
}

void FinishAlleleFrequencies(Vector3D<double>& P, const std::vector<int32_t>& J, int32_t Jmax,
                             RandomGenerator& rng) {
  const bool manyAlleles = Jmax >= 100;
  const double low = manyAlleles ? 0.0001 : 0.001;
  const double sigma = low;
  const double lift = manyAlleles ? 0.001 : 0.01;
  const double floor = manyAlleles ? 0.0002 : 0.002;
  for (auto& cluster : P) {
    for (size_t l = 0; l < cluster.size(); ++l) {
      double* p = cluster[l].data();
      const int32_t Jl = J[l];
      for (int32_t j = 0; j < Jl; ++j) {
        if (p[j] < low) p[j] = GaussianDraw(rng, sigma) + lift;
        if (p[j] < floor) p[j] = floor;
      }
      double sum = 0.0;
      for (int32_t j = 0; j < Jl; ++j) sum += p[j];
      const double inverseSum = 1.0 / sum;
      for (int32_t j = 0; j < Jl; ++j) p[j] *= inverseSum;
    }
  }
}
