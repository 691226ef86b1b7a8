// The parts of the study command: seeds, the K list, the assignment, the alignment and modes,
// the model choice and the rounding of memberships, against hand-worked or brute-force answers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "app/sweep_command_line.h"
#include "study/alignment.h"
#include "study/assignment.h"
#include "study/model_choice.h"
#include "study/rand_index.h"
#include "study/run_schedule.h"
#include "study/run_seeds.h"
#include "study/study_files.h"

namespace {

// A study of runs with the given memberships (one K), best first by log-likelihood.
StudyRecord StudyOf(const std::vector<Vector2D<double>>& memberships,
                    const std::vector<double>& logliks) {
  StudyRecord study;
  study.N = static_cast<int32_t>(memberships[0].size());
  for (size_t r = 0; r < memberships.size(); ++r) {
    RunRecord run;
    run.K = static_cast<int32_t>(memberships[r][0].size());
    run.replicate = static_cast<int32_t>(r) + 1;
    run.Q = memberships[r];
    run.loglik = logliks[r];
    study.runs.push_back(run);
  }
  KSummary summary;
  summary.K = study.runs[0].K;
  study.summaries.push_back(summary);
  return study;
}

Vector2D<double> Permuted(const Vector2D<double>& Q, const std::vector<int32_t>& columns) {
  Vector2D<double> P = Q;
  for (size_t n = 0; n < Q.size(); ++n) {
    for (size_t c = 0; c < columns.size(); ++c) P[n][c] = Q[n][columns[c]];
  }
  return P;
}

Vector2D<double> RandomMemberships(std::mt19937& generator, int32_t N, int32_t K) {
  std::gamma_distribution<double> gamma(0.3, 1.0);
  Vector2D<double> Q(N, std::vector<double>(K));
  for (auto& row : Q) {
    double sum = 0.0;
    for (double& q : row) sum += q = gamma(generator) + 1e-9;
    for (double& q : row) q /= sum;
  }
  return Q;
}

}  // namespace

TEST(RunSeed, DerivedFromSeedKAndReplicate) {
  // Golden values from an independent Python transcription of the documented SplitMix64 rule.
  EXPECT_EQ(RunSeed(1, 1, 1), 949023678u);
  EXPECT_EQ(RunSeed(1, 2, 1), 833025732u);
  EXPECT_EQ(RunSeed(1, 2, 2), 24055412u);
  EXPECT_EQ(RunSeed(42, 16, 10), 114658329u);
  EXPECT_EQ(RunSeed(0, 1, 1), 476922432u);
  EXPECT_EQ(RunSeed(18446744073709551615ull, 100, 1000), 1503850872u);
  std::vector<uint32_t> seen;
  for (int32_t K = 1; K <= 30; ++K) {
    for (int32_t r = 1; r <= 30; ++r) {
      const uint32_t s = RunSeed(5, K, r);
      EXPECT_GE(s, 1u);
      EXPECT_LE(s, 2147483647u);
      seen.push_back(s);
    }
  }
  std::sort(seen.begin(), seen.end());
  EXPECT_EQ(std::unique(seen.begin(), seen.end()), seen.end());
}

TEST(ParseClusterCounts, RangesListsAndErrors) {
  struct Case {
    const char* text;
    bool ok;
    std::vector<int32_t> K;
  };
  const Case cases[] = {
      {"3", true, {3}},           {"2-5", true, {2, 3, 4, 5}},
      {"6,2,4", true, {2, 4, 6}}, {"1-3,8,2", true, {1, 2, 3, 8}},
      {"4-4", true, {4}},         {"", false, {}},
      {"0", false, {}},           {"5-2", false, {}},
      {"2,", false, {}},          {"-3", false, {}},
      {"a", false, {}},           {"2-", false, {}},
      {"1 2", false, {}},         {"100001", false, {}},
      {"2.5", false, {}},
  };
  for (const Case& c : cases) {
    std::vector<int32_t> K;
    std::string why;
    EXPECT_EQ(ParseClusterCounts(c.text, K, why), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(K, c.K) << c.text;
    } else {
      EXPECT_FALSE(why.empty());
    }
  }
}

TEST(ThreadPlan, RunsInParallelOnSmallTablesEnginesOnLarge) {
  struct Case {
    int64_t copies;
    int32_t runs, threads, parallel, engine;
  };
  const Case cases[] = {{42000, 160, 2, 2, 1},
                        {42000, 1, 8, 1, 8},
                        {42000, 3, 8, 3, 2},
                        {42000, 160, 1, 1, 1},
                        {int64_t{1} << 25, 160, 4, 1, 4},
                        {kLargeTableCopies, 20, 2, 2, 1}};
  for (const Case& c : cases) {
    const ThreadPlan plan = PlanThreads(c.copies, c.runs, c.threads);
    EXPECT_EQ(plan.parallelRuns, c.parallel) << c.copies << " " << c.runs << " " << c.threads;
    EXPECT_EQ(plan.engineThreads, c.engine) << c.copies << " " << c.runs << " " << c.threads;
  }
}

TEST(Assignment, OptimalAgainstEveryPermutation) {
  std::mt19937 generator(17);
  for (int trial = 0; trial < 300; ++trial) {
    const int32_t rows = 1 + trial % 6;
    const int32_t cols = rows + (trial / 6) % 3;
    std::vector<double> cost(static_cast<size_t>(rows) * cols);
    // Small integer costs force ties; real ones the general case.
    std::uniform_int_distribution<int> small(0, 3);
    std::uniform_real_distribution<double> real(-5.0, 5.0);
    for (double& c : cost) c = trial % 2 ? small(generator) : real(generator);
    const std::vector<int32_t> found = MinimumCostAssignment(cost, rows, cols);
    ASSERT_EQ(found.size(), static_cast<size_t>(rows));
    std::vector<int32_t> sorted = found;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(std::unique(sorted.begin(), sorted.end()), sorted.end());
    double foundCost = 0.0;
    for (int32_t i = 0; i < rows; ++i) foundCost += cost[static_cast<size_t>(i) * cols + found[i]];
    // Brute force: every ordered choice of rows distinct columns.
    std::vector<int32_t> columns(cols);
    std::iota(columns.begin(), columns.end(), 0);
    double best = INFINITY;
    do {
      double total = 0.0;
      for (int32_t i = 0; i < rows; ++i) total += cost[static_cast<size_t>(i) * cols + columns[i]];
      best = std::min(best, total);
    } while (std::next_permutation(columns.begin(), columns.end()));
    EXPECT_NEAR(foundCost, best, 1e-9) << "trial " << trial;
  }
}

TEST(Alignment, RecoversPermutationsAndGroupsModes) {
  std::mt19937 generator(5);
  const Vector2D<double> Q = RandomMemberships(generator, 60, 4);
  const Vector2D<double> other = RandomMemberships(generator, 60, 4);
  // Replicates: the best, two relabellings of it, and an unrelated solution.
  StudyRecord study = StudyOf({Q, Permuted(Q, {2, 0, 3, 1}), Permuted(Q, {3, 2, 1, 0}), other},
                              {-10.0, -10.5, -11.0, -20.0});
  AlignStudy(study);
  EXPECT_EQ(study.summaries[0].best, 0);
  EXPECT_EQ(study.runs[0].order, (std::vector<int32_t>{0, 1, 2, 3}));
  // Aligned column c of run 1 must be Q's column c: run 1's column j holds Q's column
  // {2,0,3,1}[j], so Q's column c sits at the j with that value.
  EXPECT_EQ(study.runs[1].order, (std::vector<int32_t>{1, 3, 0, 2}));
  EXPECT_EQ(study.runs[2].order, (std::vector<int32_t>{3, 2, 1, 0}));
  EXPECT_NEAR(study.runs[1].similarityToBest, 1.0, 1e-12);
  EXPECT_LT(study.runs[3].similarityToBest, kModeSimilarity);
  EXPECT_EQ(study.summaries[0].modes, 2);
  EXPECT_EQ(study.summaries[0].bestModeSize, 3);
  EXPECT_EQ(study.runs[3].mode, 2);
  // The similarity is 1 - half the mean L1 distance of matched rows.
  double distance = 0.0;
  const auto& order = study.runs[3].order;
  for (int32_t n = 0; n < 60; ++n) {
    for (int32_t c = 0; c < 4; ++c) distance += std::fabs(Q[n][c] - other[n][order[c]]);
  }
  EXPECT_NEAR(study.runs[3].similarityToBest, 1.0 - distance / 120.0, 1e-12);
}

TEST(Alignment, ClustersKeepTheirNumberAsKGrows) {
  // K = 2 splits individuals 0-9 | 10-19; K = 3 splits the second group 10-16 | 17-19 and lists
  // its clusters in another order: the groups of K = 2 keep numbers 0 and 1, the new one is 2.
  Vector2D<double> two(20, std::vector<double>(2, 0.0)), three(20, std::vector<double>(3, 0.0));
  for (int32_t n = 0; n < 20; ++n) {
    two[n][n < 10 ? 0 : 1] = 1.0;
    three[n][n < 10 ? 2 : (n < 17 ? 1 : 0)] = 1.0;
  }
  StudyRecord study = StudyOf({two}, {-5.0});
  RunRecord run;
  run.K = 3;
  run.replicate = 1;
  run.Q = three;
  study.runs.push_back(run);
  KSummary summary;
  summary.K = 3;
  study.summaries.push_back(summary);
  AlignStudy(study);
  EXPECT_EQ(study.runs[1].order, (std::vector<int32_t>{2, 1, 0}));
}

TEST(ChooseK, CriteriaByHand) {
  // Three K, two replicates each; J = {3, 2} so p = (K-1) + K * 3; N = 10.
  StudyRecord study;
  study.N = 10;
  study.J = {3, 2};
  const double logliks[3][2] = {{-100.0, -100.0}, {-80.0, -82.0}, {-79.0, -79.5}};
  for (int32_t K = 1; K <= 3; ++K) {
    for (int32_t r = 1; r <= 2; ++r) {
      RunRecord run;
      run.K = K;
      run.replicate = r;
      run.loglik = logliks[K - 1][r - 1];
      run.converged = r == 1;
      run.Q.assign(10, std::vector<double>(K, 1.0 / K));
      study.runs.push_back(run);
    }
    KSummary summary;
    summary.K = K;
    study.summaries.push_back(summary);
  }
  AlignStudy(study);
  ChooseK(study);
  const KSummary& k2 = study.summaries[1];
  EXPECT_EQ(k2.parameters, 7);
  EXPECT_DOUBLE_EQ(k2.loglikBest, -80.0);
  EXPECT_DOUBLE_EQ(k2.loglikMean, -81.0);
  EXPECT_DOUBLE_EQ(k2.loglikSd, std::sqrt(2.0));
  EXPECT_DOUBLE_EQ(k2.AIC, 160.0 + 14.0);
  EXPECT_DOUBLE_EQ(k2.BIC, 160.0 + 7.0 * std::log(10.0));
  // Uniform memberships: entropy N ln K.
  EXPECT_NEAR(k2.ICL, k2.BIC + 2.0 * 10.0 * std::log(2.0), 1e-12);
  // |m(3) - 2 m(2) + m(1)| / sd(2) = |-79.25 + 162 - 100| / sqrt(2).
  EXPECT_NEAR(k2.deltaK, 17.25 / std::sqrt(2.0), 1e-12);
  EXPECT_TRUE(std::isnan(study.summaries[0].deltaK));
  EXPECT_TRUE(std::isnan(study.summaries[2].deltaK));
  EXPECT_EQ(k2.converged, 1);
  // BIC: K1 200 + 3 ln 10 = 206.9, K2 160 + 7 ln 10 = 176.1, K3 158 + 11 ln 10 = 183.3.
  EXPECT_EQ(study.chosenK, 2);
  EXPECT_TRUE(k2.chosen);
  EXPECT_FALSE(study.summaries[0].chosen);
}

TEST(MembershipRows, SixDecimalsSummingToOne) {
  struct Case {
    std::vector<double> q;
    const char* text;
  };
  // By hand: floor every value to millionths, then give the missing millionths to the largest
  // remainders.
  const Case cases[] = {
      {{1.0 / 3, 1.0 / 3, 1.0 / 3}, "0.333334 0.333333 0.333333"},
      {{0.5, 0.5}, "0.500000 0.500000"},
      {{1.0, 0.0}, "1.000000 0.000000"},
      {{0.1234567, 0.8765433}, "0.123457 0.876543"},
      {{0.9999996, 0.0000004}, "1.000000 0.000000"},
      {{1e-300, 1.0}, "0.000000 1.000000"},
  };
  for (const Case& c : cases) {
    std::vector<int32_t> order(c.q.size());
    std::iota(order.begin(), order.end(), 0);
    std::string text;
    AppendMembershipRow(c.q.data(), order, text);
    EXPECT_EQ(text, c.text);
  }
  // A permuted order writes the columns in that order.
  const double q[] = {0.2, 0.3, 0.5};
  std::string text;
  AppendMembershipRow(q, {2, 0, 1}, text);
  EXPECT_EQ(text, "0.500000 0.200000 0.300000");
  // Random rows of many clusters still sum to exactly one million millionths.
  std::mt19937 generator(9);
  const Vector2D<double> Q = RandomMemberships(generator, 200, 16);
  std::vector<int32_t> order(16);
  std::iota(order.begin(), order.end(), 0);
  for (const auto& row : Q) {
    std::string line;
    AppendMembershipRow(row.data(), order, line);
    int64_t total = 0;
    for (size_t at = 0; at < line.size(); at += 9) {
      total += std::stoll(line.substr(at, 1)) * 1000000 + std::stoll(line.substr(at + 2, 6));
    }
    EXPECT_EQ(total, 1000000) << line;
  }
}

TEST(AdjustedRandIndex, KnownValues) {
  // Same partition under other labels: 1. The other values from an independent Python script
  // over the contingency tables (8/33 = 0.242424..., and a negative index for crossed halves).
  EXPECT_DOUBLE_EQ(AdjustedRandIndex({0, 0, 1, 1, 2}, {5, 5, 3, 3, 9}), 1.0);
  EXPECT_NEAR(AdjustedRandIndex({1, 1, 1, 2, 2, 2}, {1, 1, 2, 2, 3, 3}), 8.0 / 33.0, 1e-12);
  EXPECT_DOUBLE_EQ(AdjustedRandIndex({0, 0, 0}, {1, 1, 1}), 1.0);
  EXPECT_LT(AdjustedRandIndex({0, 1, 0, 1, 0, 1, 0, 1}, {0, 0, 1, 1, 0, 0, 1, 1}), 0.0);
}
