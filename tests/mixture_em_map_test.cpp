// The mixture model's EM map: plain EM over theta is EmIteration's sequence to the bit,
// SQUAREM over it gives the same bits on any thread count and reaches plain EM's optimum in
// fewer steps, and the estimates it leaves are consistent (Q the E-step of (pi, P)).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "cluster/mixture_em_map.h"
#include "data/simulator.h"

namespace {

// N individuals of 2 copies in K weakly separated clusters: every cluster's frequencies
// a Dirichlet draw around the locus's shared frequencies (J alleles). The start: a Dirichlet
// draw for each individual, a fifth of the way to its true cluster.
struct Sample {
  GenotypeTable X;
  std::vector<int32_t> J;
  Vector2D<double> Q;  // a random start
};

Sample MakeSample(int32_t N, int32_t L, int32_t J, int32_t K, double concentration) {
  Sample s;
  RandomGenerator rng(7);
  SimulatedModel model;
  model.sizes.assign(K, N / K);
  model.sizes[0] += N - K * (N / K);
  model.w.assign(K, 1.0 / K);
  InitVctr3D(model.P, K, L, std::vector<int32_t>(L, J), 0.0);
  std::vector<double> shared(J), alpha(J);
  for (int32_t l = 0; l < L; ++l) {
    DirichletDraw(rng, std::vector<double>(J, 2.0), shared.data());
    for (int32_t j = 0; j < J; ++j) alpha[j] = concentration * std::max(shared[j], 0.02);
    for (int32_t k = 0; k < K; ++k) DirichletDraw(rng, alpha, model.P[k][l].data());
  }
  DrawGenotypes(rng, model, 2, L, std::vector<int32_t>(L, J), s.X);
  for (int32_t l = 0; l < L; ++l) s.J.push_back(static_cast<int32_t>(s.X.alleleValues[l].size()));
  InitVctr2D(s.Q, N, K, 0.0);
  for (int32_t n = 0, k = 0; k < K; ++k) {
    for (int32_t i = 0; i < model.sizes[k]; ++i, ++n) {
      DirichletDraw(rng, std::vector<double>(K, 1.0), s.Q[n].data());
      for (int32_t m = 0; m < K; ++m) s.Q[n][m] = 0.8 * s.Q[n][m] + (m == k ? 0.2 : 0.0);
    }
  }
  return s;
}

struct Result {
  AcceleratedRun run;
  std::vector<double> pi;
  Vector3D<double> P;
  Vector2D<double> Q;
};

Result RunMap(const Sample& s, int32_t K, Acceleration method, double tolerance, int32_t threads,
              int32_t maxSteps = 10000) {
  EmWorkspace w;
  PrepareEmWorkspace(s.X, s.X.alleleValues, s.J, s.X.N, 2, s.X.L, K, w, threads);
  Result r;
  r.Q = s.Q;
  r.pi.assign(K, 0.0);
  InitVctr3D(r.P, K, s.X.L, s.J, 0.0);
  Vector2D<double> ratios;
  InitVctr2D(ratios, K, K, 0.0);
  AcceleratorSettings settings;
  settings.method = method;
  settings.tolerance = tolerance;
  settings.maxSteps = maxSteps;
  r.run = RunMixtureAcceleratedEm(w, settings, r.pi, r.P, r.Q, ratios);
  return r;
}

TEST(MixtureEmMap, PlainEmOverThetaIsEmIterationBitForBit) {
  for (int32_t J : {2, 5}) {
    const Sample s = MakeSample(90, 150, J, 3, 20.0);
    const Result viaMap = RunMap(s, 3, Acceleration::kNone, 1e-4, 2);
    ASSERT_TRUE(viaMap.run.converged);

    EmWorkspace w;
    PrepareEmWorkspace(s.X, s.X.alleleValues, s.J, s.X.N, 2, s.X.L, 3, w, 1);
    std::vector<double> pi(3, 1.0 / 3);
    Vector3D<double> P;
    InitVctr3D(P, 3, s.X.L, s.J, 0.0);
    Vector2D<double> Q = s.Q, ratios;
    InitVctr2D(ratios, 3, 3, 0.0);
    RandomGenerator rng(1);
    double beta = 1.0;
    std::vector<double> history;
    for (int32_t t = 0; t < 10000; ++t) {
      history.push_back(EmIteration(t, 'c', 0, rng, w, pi, P, Q, ratios, beta));
      if (t >= 1 && history[t] - history[t - 1] < 1e-4) break;
    }
    EXPECT_EQ(viaMap.run.history, history) << "J " << J;
    EXPECT_EQ(viaMap.run.loglik, history.back());
    EXPECT_EQ(viaMap.pi, pi);
    EXPECT_EQ(viaMap.P, P);
    EXPECT_EQ(viaMap.Q, Q);
  }
}

TEST(MixtureEmMap, SquaremSameBitsOnEveryThreadCount) {
  const Sample s = MakeSample(101, 333, 2, 4, 30.0);
  const Result one = RunMap(s, 4, Acceleration::kSquarem, 1e-6, 1);
  EXPECT_TRUE(one.run.converged);
  for (int32_t threads : {2, 3, 8}) {
    const Result many = RunMap(s, 4, Acceleration::kSquarem, 1e-6, threads);
    EXPECT_EQ(many.run.history, one.run.history) << threads;
    EXPECT_EQ(many.pi, one.pi) << threads;
    EXPECT_EQ(many.P, one.P) << threads;
    EXPECT_EQ(many.Q, one.Q) << threads;
  }
}

TEST(MixtureEmMap, SquaremReachesPlainOptimumWithConsistentEstimates) {
  // Microsatellite-like: plain EM takes 66 steps to the optimum, SQUAREM 31.
  const Sample s = MakeSample(300, 40, 6, 3, 60.0);
  const Result plain = RunMap(s, 3, Acceleration::kNone, 1e-7, 1, 20000);
  const Result fast = RunMap(s, 3, Acceleration::kSquarem, 1e-7, 1, 20000);
  ASSERT_TRUE(plain.run.converged);
  ASSERT_TRUE(fast.run.converged);
  EXPECT_LT(fast.run.steps * 2, plain.run.steps) << fast.run.steps << " vs " << plain.run.steps;
  EXPECT_NEAR(fast.run.loglik, plain.run.loglik, 1e-5);
  // Q is the E-step of (pi, P), and the log-likelihood that of (pi, P).
  EmWorkspace w;
  PrepareEmWorkspace(s.X, s.X.alleleValues, s.J, s.X.N, 2, s.X.L, 3, w, 1);
  Vector2D<double> Q = s.Q, ratios;
  InitVctr2D(ratios, 3, 3, 0.0);
  EXPECT_EQ(EmEStep(w, fast.pi, fast.P, Q, ratios), fast.run.loglik);
  EXPECT_EQ(Q, fast.Q);
  double sum = 0.0;
  for (double p : fast.pi) sum += p;
  EXPECT_NEAR(sum, 1.0, 1e-12);
}

TEST(MixtureEmMap, ObservedCopies) {
  EXPECT_EQ(ObservedCopies({0.0, 0.25, 1.0 / 3}, 2, 6), 12.0 + 9.0 + 8.0);
}

}  // namespace
