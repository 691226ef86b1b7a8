// The admixture model's EM step: bit-for-bit agreement with a literal copy-by-copy version on
// random tables (SNP-like packed codes, many alleles, other ploidies, missing copies and
// negative alleles), the same bits on 1, 2, 3 and 8 threads, and plain EM rising; the model's
// accelerated EM (cluster/block_squarem.h) stopping within 0.1 of the optimum, the same on
// any thread count.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "cluster/admixture_em.h"
#include "data/allele_coding.h"
#include "data/population_sample.h"

namespace {

// The step as documented in cluster/admixture_em.h, one copy and one sum at a time.
double LiteralStep(const GenotypeTable& X, int32_t K, const std::vector<double>& from,
                   std::vector<double>& to) {
  const int32_t N = X.N, A = X.A, L = X.L;
  std::vector<int32_t> start(L + 1, 0);
  for (int32_t l = 0; l < L; ++l)
    start[l + 1] = start[l] + static_cast<int32_t>(X.alleleValues[l].size());
  const size_t alleles = start[L];
  const double* Q = from.data();
  const double* P = from.data() + static_cast<size_t>(N) * K;
  auto p = [&](int32_t k, size_t slot) { return P[k * alleles + slot]; };
  const int32_t tiles = (N + 127) / 128;  // tiles of 128 individuals, four lane sums each
  std::vector<double> B(static_cast<size_t>(tiles) * 4 * alleles * K, 0.0);
  to.assign(from.size(), 0.0);
  double loglik = 0.0;
  for (int32_t n = 0; n < N; ++n) {
    std::vector<double> sumA(K, 0.0);
    double m = 1.0, E = 0.0, M = 0.0;
    for (int32_t l = 0; l < L; ++l) {
      const int32_t Jl = start[l + 1] - start[l];
      std::vector<int32_t> count(Jl, 0);
      for (int32_t a = 0; a < A; ++a) {
        const uint32_t code = GenotypeCode(X, n, a, l);
        if (code < static_cast<uint32_t>(Jl) && X.alleleValues[l][code] >= 0) {
          ++count[code];
          ++M;
        }
      }
      for (int32_t x = 0; x < Jl; ++x) {
        if (count[x] == 0) continue;
        const size_t slot = start[l] + x;
        double h = Q[n * K] * p(0, slot);
        for (int32_t k = 1; k < K; ++k) h += Q[n * K + k] * p(k, slot);
        double w = count[x] / h;
        if (Jl == 2 && X.alleleValues[l][0] >= 0 && X.alleleValues[l][1] >= 0) {
          auto hOf = [&](size_t at) {
            double sum = Q[n * K] * p(0, at);
            for (int32_t k = 1; k < K; ++k) sum += Q[n * K + k] * p(k, at);
            return sum;
          };
          const double h0 = hOf(start[l]), h1 = hOf(start[l] + 1);
          w = count[x] * ((x == 0 ? h1 : h0) * (1.0 / (h0 * h1)));
        }
        for (int32_t k = 0; k < K; ++k) {
          sumA[k] += w * p(k, slot);
          B[(((n / 128) * 4 + n % 4) * alleles + slot) * K + k] += w * Q[n * K + k];
        }
        for (int32_t c = 0; c < count[x]; ++c) m *= h;
      }
      int e = 0;
      m = std::frexp(m, &e);
      E += e;
    }
    for (int32_t k = 0; k < K; ++k)
      to[n * K + k] = M > 0 ? (Q[n * K + k] * sumA[k]) / M : Q[n * K + k];
    loglik += E * 0.693147180559945309417232121458176568 + std::log(m);
  }
  for (int32_t k = 0; k < K; ++k) {
    for (int32_t l = 0; l < L; ++l) {
      double D = 0.0;
      double* out = to.data() + static_cast<size_t>(N) * K + k * alleles;
      for (int32_t s = start[l]; s < start[l + 1]; ++s) {
        auto b = [&](int32_t t, int32_t r) { return B[((t * 4 + r) * alleles + s) * K + k]; };
        double sum = ((b(0, 0) + b(0, 1)) + b(0, 2)) + b(0, 3);
        for (int32_t t = 1; t < tiles; ++t) sum += ((b(t, 0) + b(t, 1)) + b(t, 2)) + b(t, 3);
        out[s] = p(k, s) * sum;
        D += out[s];
      }
      for (int32_t s = start[l]; s < start[l + 1]; ++s) {
        out[s] = D > 0.0 && std::isfinite(D) ? out[s] / D : p(k, s);
      }
    }
  }
  return loglik;
}

struct Case {
  int32_t N, A, L, K, maxAlleles;
  double missing, negative;
};

// A random coded table (allele values 1.., -9 missing, -1 a negative allele at every third
// locus) and a random theta of positive blocks.
void MakeCase(const Case& c, unsigned seed, GenotypeTable& X, std::vector<double>& theta) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  GenotypeValues values;
  InitVctr3D(values, c.N, c.A, c.L, 0);
  for (int32_t l = 0; l < c.L; ++l) {
    const int32_t J = 1 + static_cast<int32_t>(u(rng) * c.maxAlleles);
    for (int32_t n = 0; n < c.N; ++n) {
      for (int32_t a = 0; a < c.A; ++a) {
        const double v = u(rng);
        values[n][a][l] = v < c.missing ? -9
                          : l % 3 == 0 && v < c.missing + c.negative
                              ? -1
                              : 1 + static_cast<int32_t>(u(rng) * J);
      }
    }
  }
  X = CodeGenotypeValues(values);
  AdmixtureModel m;
  PrepareAdmixtureModel(X, c.K, 1, m);
  theta.resize(AdmixtureThetaSize(X.N, c.K, m.J));
  for (double& v : theta) v = 0.01 + u(rng);
  ProjectAdmixture(m, theta.data(), 0.0);
}

bool SameBits(const std::vector<double>& a, const std::vector<double>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

const Case kCases[] = {
    {37, 2, 1100, 4, 2, 0.02, 0.0},   // SNP-like: packed codes over three blocks
    {9, 2, 70, 3, 3, 0.1, 0.05},      // up to three alleles in 2 bits, negative alleles
    {23, 2, 40, 10, 14, 0.05, 0.05},  // many alleles, more clusters than the unrolled kernels
    {13, 3, 50, 2, 6, 0.1, 0.0},      // triploid
    {11, 1, 200, 5, 2, 0.0, 0.0},     // haploid
    {6, 9, 30, 3, 4, 0.1, 0.0},       // more copies than the packed kernel takes
    {300, 2, 70, 3, 3, 0.05, 0.0},    // three tiles of individuals, each its own B sums
};

TEST(AdmixtureEm, StepMatchesTheLiteralVersionOnEveryThreadCount) {
  unsigned seed = 11;
  for (const Case& c : kCases) {
    GenotypeTable X;
    std::vector<double> theta;
    MakeCase(c, ++seed, X, theta);
    // A few steps, each checked, so that the estimates drift from the random start.
    for (int32_t step = 0; step < 3; ++step) {
      std::vector<double> expected;
      const double loglik = LiteralStep(X, c.K, theta, expected);
      for (const int32_t threads : {1, 2, 3, 8}) {
        AdmixtureModel m;
        PrepareAdmixtureModel(X, c.K, threads, m);
        std::vector<double> to(theta.size());
        const double got = AdmixtureStep(m, theta.data(), to.data());
        EXPECT_EQ(std::memcmp(&got, &loglik, sizeof got), 0)
            << "case N=" << c.N << " threads " << threads;
        EXPECT_TRUE(SameBits(to, expected)) << "case N=" << c.N << " threads " << threads;
      }
      theta = expected;
    }
  }
}

TEST(AdmixtureEm, PlainStepsRiseAndKeepEveryBlockASimplex) {
  GenotypeTable X;
  std::vector<double> theta;
  const Case c{40, 2, 300, 3, 2, 0.05, 0.0};
  MakeCase(c, 5, X, theta);
  AdmixtureModel m;
  PrepareAdmixtureModel(X, c.K, 2, m);
  EXPECT_EQ(m.observedCopies, [&] {
    double copies = 0.0;
    for (int32_t n = 0; n < X.N; ++n)
      for (int32_t a = 0; a < X.A; ++a)
        for (int32_t l = 0; l < X.L; ++l)
          copies += GenotypeCode(X, n, a, l) < static_cast<uint32_t>(m.J[l]);
    return copies;
  }());
  std::vector<double> next(theta.size());
  double previous = -INFINITY;
  for (int32_t t = 0; t < 20; ++t) {
    const double loglik = AdmixtureStep(m, theta.data(), next.data());
    EXPECT_GE(loglik, previous - 1e-9);
    previous = loglik;
    theta.swap(next);
  }
  Vector2D<double> Q;
  Vector3D<double> P;
  UnpackAdmixture(m, theta, Q, P);
  for (const auto& row : Q) {
    double sum = 0.0;
    for (double q : row) sum += q;
    EXPECT_NEAR(sum, 1.0, 1e-12);
  }
  for (int32_t l = 0; l < X.L; ++l) {
    double sum = 0.0;
    for (double p : P[1][l]) sum += p;
    EXPECT_NEAR(sum, 1.0, 1e-12);
  }
}

TEST(AdmixtureEm, AcceleratedRunStopsNearTheOptimumWithTheSameBitsOnEveryThreadCount) {
  PopulationSampleSettings settings;
  settings.N = 40;
  settings.L = 100;
  settings.fewestAlleles = settings.mostAlleles = 2;
  settings.Fst = 0.05;
  settings.admixedShare = 0.3;
  RandomGenerator rng(3);
  PopulationSample sample;
  SimulatePopulationSample(settings, rng, sample);
  AdmixtureModel m;
  PrepareAdmixtureModel(sample.X, 3, 1, m);
  // A start near a fit, as the mixture run gives: Q halfway between the true ancestry and
  // flat, P the Q-weighted allele shares. (From a random start runs can stall near a saddle
  // for longer than any stopping rule waits.)
  std::vector<double> start(AdmixtureThetaSize(m.N, m.K, m.J), 0.0);
  const size_t alleles = m.alleleStart[m.L];
  for (int32_t n = 0; n < m.N; ++n) {
    for (int32_t k = 0; k < 3; ++k) start[n * 3 + k] = 0.5 * sample.ancestry[n][k] + 0.5 / 3;
    for (int32_t a = 0; a < 2; ++a) {
      for (int32_t l = 0; l < m.L; ++l) {
        const uint32_t code = GenotypeCode(sample.X, n, a, l);
        if (code >= 2) continue;
        for (int32_t k = 0; k < 3; ++k)
          start[m.N * 3 + k * alleles + m.alleleStart[l] + code] += start[n * 3 + k];
      }
    }
  }
  ProjectAdmixture(m, start.data(), 1e-5);

  // The optimum as far as known: the same scheme run for 2,000 steps (plain EM needs more
  // than 100,000 here).
  AcceleratorSettings longer;
  longer.tolerance = 0.0;
  longer.maxSteps = 2000;
  std::vector<double> optimum = start;
  const AcceleratedRun reference = RunAdmixtureEm(m, optimum, longer);

  std::vector<double> theta = start;
  const AcceleratedRun run = RunAdmixtureEm(m, theta, AcceleratorSettings{});
  EXPECT_TRUE(run.converged);
  EXPECT_GT(run.loglik, reference.loglik - 0.1);
  EXPECT_LT(run.steps, 1000);

  // The accelerator's own sums run on one thread: 100 steps on 1, 2 and 8 threads.
  AcceleratorSettings few;
  few.tolerance = 0.0;
  few.maxSteps = 100;
  std::vector<double> first;
  AcceleratedRun firstRun;
  for (const int32_t threads : {1, 2, 8}) {
    AdmixtureModel model;
    PrepareAdmixtureModel(sample.X, 3, threads, model);
    theta = start;
    const AcceleratedRun some = RunAdmixtureEm(model, theta, few);
    if (threads == 1) {
      first = theta;
      firstRun = some;
      continue;
    }
    EXPECT_TRUE(SameBits(theta, first)) << threads << " threads";
    EXPECT_TRUE(SameBits(some.history, firstRun.history)) << threads << " threads";
  }
}

}  // namespace
