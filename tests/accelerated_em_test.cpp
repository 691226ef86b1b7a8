// The accelerator on a toy EM map (a mixture of binomials): plain EM reproduced step for
// step, SQUAREM reaching plain EM's optimum in fewer steps, the stopping rules and the bounds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "cluster/accelerated_em.h"

namespace {

// Counts x_i out of m, from K binomials; theta = (pi_1..pi_K, then p_k, 1 - p_k per k).
struct BinomialMixture {
  int32_t K = 3, m = 20;
  std::vector<int32_t> x;
  int64_t calls = 0;
};

BinomialMixture MakeMixture() {
  BinomialMixture b;
  // Three weakly separated groups (p 0.3, 0.4, 0.55), a fixed congruential sequence.
  uint64_t s = 12345;
  auto uniform = [&s] {
    s = s * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<double>(s >> 11) * 0x1.0p-53;
  };
  const double p[3] = {0.3, 0.4, 0.55};
  for (int32_t i = 0; i < 600; ++i) {
    const double pk = p[i % 3];
    int32_t count = 0;
    for (int32_t j = 0; j < b.m; ++j) count += uniform() < pk;
    b.x.push_back(count);
  }
  return b;
}

double Step(void* model, const double* from, double* to) {
  auto& b = *static_cast<BinomialMixture*>(model);
  ++b.calls;
  const int32_t K = b.K;
  std::vector<double> weight(K, 0.0), success(K, 0.0);
  double loglik = 0.0;
  for (int32_t xi : b.x) {
    std::vector<double> f(K);
    double s = 0.0;
    for (int32_t k = 0; k < K; ++k) {
      const double p = from[K + 2 * k];
      f[k] = from[k] * std::pow(p, xi) * std::pow(1.0 - p, b.m - xi);
      s += f[k];
    }
    loglik += std::log(s);
    for (int32_t k = 0; k < K; ++k) {
      weight[k] += f[k] / s;
      success[k] += f[k] / s * xi;
    }
  }
  for (int32_t k = 0; k < K; ++k) {
    to[k] = weight[k] / static_cast<double>(b.x.size());
    to[K + 2 * k] = success[k] / (weight[k] * b.m);
    to[K + 2 * k + 1] = 1.0 - to[K + 2 * k];
  }
  return loglik;
}

void Project(void* model, double* theta, double epsilon) {
  const int32_t K = static_cast<BinomialMixture*>(model)->K;
  auto block = [epsilon](double* v, int32_t n) {
    double sum = 0.0;
    for (int32_t i = 0; i < n; ++i) {
      v[i] = std::clamp(v[i], epsilon, 1.0 - epsilon);
      sum += v[i];
    }
    for (int32_t i = 0; i < n; ++i) v[i] /= sum;
  };
  block(theta, K);
  for (int32_t k = 0; k < K; ++k) block(theta + K + 2 * k, 2);
}

std::vector<double> Start() { return {0.2, 0.3, 0.5, 0.25, 0.75, 0.5, 0.5, 0.7, 0.3}; }

AcceleratedRun RunToy(BinomialMixture& b, std::vector<double>& theta, Acceleration method,
                   double tolerance, int32_t maxSteps = 100000) {
  EmMap map{static_cast<int64_t>(theta.size()), Step, Project, &b};
  AcceleratorSettings settings;
  settings.method = method;
  settings.tolerance = tolerance;
  settings.maxSteps = maxSteps;
  return RunAcceleratedEm(map, theta, settings);
}

TEST(AcceleratedEm, NoneIsPlainIterationBitForBit) {
  BinomialMixture b = MakeMixture();
  std::vector<double> theta = Start(), plain = Start(), next(plain.size());
  const AcceleratedRun run = RunToy(b, theta, Acceleration::kNone, 1e-6);
  ASSERT_TRUE(run.converged);
  std::vector<double> history;
  for (;;) {
    history.push_back(Step(&b, plain.data(), next.data()));
    const size_t t = history.size() - 1;
    if (t >= 1 && history[t] - history[t - 1] < 1e-6) break;
    plain.swap(next);
  }
  EXPECT_EQ(run.history, history);
  EXPECT_EQ(run.steps, static_cast<int32_t>(history.size()));
  EXPECT_EQ(theta, plain);
  EXPECT_EQ(run.loglik, history.back());
}

TEST(AcceleratedEm, SquaremReachesPlainOptimumInFewerSteps) {
  BinomialMixture b = MakeMixture();
  std::vector<double> plain = Start(), fast = Start();
  const AcceleratedRun slow = RunToy(b, plain, Acceleration::kNone, 1e-10);
  b.calls = 0;
  const AcceleratedRun quick = RunToy(b, fast, Acceleration::kSquarem, 1e-10);
  ASSERT_TRUE(slow.converged);
  ASSERT_TRUE(quick.converged);
  EXPECT_EQ(b.calls, quick.steps);
  EXPECT_EQ(quick.steps, static_cast<int32_t>(quick.history.size()));
  EXPECT_LT(quick.steps * 5, slow.steps) << quick.steps << " vs " << slow.steps;
  RecordProperty("steps", std::to_string(quick.steps) + " vs " + std::to_string(slow.steps));
  EXPECT_GE(quick.loglik, slow.loglik - 1e-6);
  for (size_t i = 0; i < plain.size(); ++i) EXPECT_NEAR(fast[i], plain[i], 2e-3) << i;
  // The returned loglik is that of the returned theta.
  std::vector<double> next(fast.size());
  EXPECT_EQ(Step(&b, fast.data(), next.data()), quick.loglik);
  // Accepted points never fall: the best seen so far never exceeds the end.
  for (double l : quick.history) EXPECT_LE(l, quick.loglik);
}

TEST(AcceleratedEm, StepsRunOutAndToleranceZeroRunsEveryStep) {
  for (Acceleration method : {Acceleration::kNone, Acceleration::kSquarem}) {
    BinomialMixture b = MakeMixture();
    std::vector<double> theta = Start();
    const AcceleratedRun run = RunToy(b, theta, method, 0.0, 37);
    EXPECT_FALSE(run.converged);
    EXPECT_EQ(run.steps, 37);
    EXPECT_EQ(b.calls, 37);
    std::vector<double> next(theta.size());
    EXPECT_EQ(Step(&b, theta.data(), next.data()), run.loglik);
    std::vector<double> none = Start();
    EXPECT_EQ(RunToy(b, none, method, 1e-4, 0).steps, 0);
    EXPECT_EQ(none, Start());
  }
}

TEST(AcceleratedEm, PerCopyThresholdScalesTheTolerance) {
  AcceleratorSettings settings;
  settings.tolerance = 1e-9;
  settings.observedCopies = 2e6;
  EXPECT_EQ(StoppingThreshold(settings), 1e-9);
  settings.rule = StoppingRule::kPerCopy;
  EXPECT_DOUBLE_EQ(StoppingThreshold(settings), 2e-3);
  BinomialMixture b = MakeMixture();
  std::vector<double> loose = Start(), strict = Start();
  EmMap map{9, Step, Project, &b};
  settings.method = Acceleration::kNone;
  const AcceleratedRun perCopy = RunAcceleratedEm(map, loose, settings);
  settings.rule = StoppingRule::kAbsolute;
  const AcceleratedRun absolute = RunAcceleratedEm(map, strict, settings);
  EXPECT_LT(perCopy.steps, absolute.steps);
  const size_t t = perCopy.history.size() - 1;
  EXPECT_LT(perCopy.history[t] - perCopy.history[t - 1], 2e-3);
  EXPECT_GE(perCopy.history[t - 1] - perCopy.history[t - 2], 2e-3);
}

TEST(AcceleratedEm, Names) {
  Acceleration a = Acceleration::kNone;
  EXPECT_TRUE(ParseAcceleration("squarem", a));
  EXPECT_EQ(a, Acceleration::kSquarem);
  EXPECT_STREQ(AccelerationName(a), "squarem");
  EXPECT_TRUE(ParseAcceleration("none", a));
  EXPECT_STREQ(AccelerationName(a), "none");
  EXPECT_FALSE(ParseAcceleration("SQUAREM", a));
  StoppingRule rule = StoppingRule::kAbsolute;
  EXPECT_TRUE(ParseStoppingRule("per-copy", rule));
  EXPECT_STREQ(StoppingRuleName(rule), "per-copy");
  EXPECT_TRUE(ParseStoppingRule("absolute", rule));
  EXPECT_EQ(rule, StoppingRule::kAbsolute);
  EXPECT_FALSE(ParseStoppingRule("relative", rule));
}

}  // namespace
