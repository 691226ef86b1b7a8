// Split-and-merge moves on a case whose answer is known: three separated populations, with
// population 0 shared by clusters 0 and 1 and populations 1 and 2 together in cluster 2.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "cluster/allele_counts.h"
#include "cluster/split_merge.h"
#include "data/population_sample.h"
#include "study/rand_index.h"

namespace {

std::vector<int32_t> Hard(const Vector2D<double>& Q) {
  std::vector<int32_t> labels(Q.size());
  for (size_t n = 0; n < Q.size(); ++n) {
    labels[n] = static_cast<int32_t>(std::max_element(Q[n].begin(), Q[n].end()) - Q[n].begin());
  }
  return labels;
}

struct PoorOptimum {
  PopulationSample sample;
  AlleleCountSpace space;
  Vector2D<double> Q;  // one-hot
};

void MakePoorOptimum(PoorOptimum& p) {
  PopulationSampleSettings settings;
  settings.N = 150, settings.L = 30, settings.K = 3, settings.Fst = 0.3;
  settings.sizes = {50, 50, 50};
  RandomGenerator rng(4);
  SimulatePopulationSample(settings, rng, p.sample);
  PrepareAlleleCountSpace(p.sample.X, 1, p.space);
  InitVctr2D(p.Q, 150, 3, 0.0);
  for (int32_t n = 0; n < 150; ++n) p.Q[n][n < 50 ? n % 2 : 2] = 1.0;
}

}  // namespace

TEST(SplitMerge, MergesTheSharedPopulationAndSplitsTheMixedCluster) {
  PoorOptimum p;
  MakePoorOptimum(p);
  const std::vector<SplitMergeMove> moves = RankSplitMergeMoves(p.space, p.Q, 3, 5, 1);
  // Each pair with the one cluster outside it; first the pair that shares a population (no
  // overlap breaks the tie of one-hot memberships: the lowest pair) with the mixed cluster.
  ASSERT_EQ(moves.size(), 3u);
  EXPECT_EQ(moves[0].merged[0], 0);
  EXPECT_EQ(moves[0].merged[1], 1);
  EXPECT_EQ(moves[0].split, 2);
  Vector2D<double> Q = p.Q;
  RandomGenerator rng(9);
  ApplySplitMerge(p.space, moves[0], rng, 1, Q);
  EXPECT_EQ(AdjustedRandIndex(Hard(Q), p.sample.population), 1.0);
  for (const auto& row : Q) EXPECT_EQ(row[0] + row[1] + row[2], 1.0);
  EXPECT_TRUE(RankSplitMergeMoves(p.space, p.Q, 2, 5, 1).empty());  // K < 3: no move
}

TEST(SplitMerge, SearchKeepsOnlyMovesThatPayAndIsTheSameOnAnyThreads) {
  // "EM" here leaves the memberships as they are and scores them by the Rand index: the
  // search keeps a reassignment that raises it, then the move to the truth, then finds
  // nothing better and stops.
  PoorOptimum p;
  MakePoorOptimum(p);
  Vector2D<double> first;
  for (int32_t threads : {1, 2, 3, 8}) {
    Vector2D<double> Q = p.Q;
    int32_t converged = 0, kept = 0;
    SplitMergeEm em;
    em.converge = [&](Vector2D<double>& candidate) {
      ++converged;
      return AdjustedRandIndex(Hard(candidate), p.sample.population);
    };
    em.keep = [&]() { ++kept; };
    double score = AdjustedRandIndex(Hard(Q), p.sample.population);
    RandomGenerator rng(9);
    const SplitMergeOutcome outcome = SplitMergeSearch(p.space, 3, 4, rng, threads, em, Q, score);
    EXPECT_EQ(score, 1.0);
    EXPECT_EQ(outcome.kept, 2);
    EXPECT_EQ(kept, 2);
    EXPECT_EQ(outcome.tried, converged);
    EXPECT_LE(outcome.tried, 4);
    if (first.empty()) first = Q;
    EXPECT_EQ(Q, first) << threads;
  }
}

namespace {

// The classification log-likelihood of labels, literally: sum over k of g(n_k) and over k, l
// of sum over alleles g(S) - g(T), g(x) = x log x, from the genotype codes.
double ClassificationLoglik(const GenotypeTable& X, const std::vector<int32_t>& labels, int32_t K) {
  auto g = [](double x) { return x > 0.0 ? x * std::log(x) : 0.0; };
  double total = 0.0;
  for (int32_t k = 0; k < K; ++k) {
    total += g(static_cast<double>(std::count(labels.begin(), labels.end(), k)));
    for (int32_t l = 0; l < X.L; ++l) {
      const int32_t J = static_cast<int32_t>(X.alleleValues[l].size());
      std::vector<double> S(J, 0.0);
      for (int32_t n = 0; n < X.N; ++n) {
        for (int32_t a = 0; a < X.A; ++a) {
          const uint32_t code = GenotypeCode(X, n, a, l);
          if (labels[n] == k && code < static_cast<uint32_t>(J)) S[code] += 1.0;
        }
      }
      double T = 0.0;
      for (double s : S) total += g(s), T += s;
      total -= g(T);
    }
  }
  return total;
}

}  // namespace

TEST(Reassign, MovesStrayIndividualsHomeAndLeavesNoSingleMoveThatPays) {
  // Two separated populations (2 % missing genotypes) with every seventh individual in the
  // other cluster: the passes bring them all home. From random labels of a weakly separated
  // sample, the labels left are a local optimum of the literal likelihood: no single move
  // raises it.
  PopulationSample separated, weak;
  PopulationSampleSettings settings;
  settings.N = 80, settings.L = 40, settings.K = 2, settings.Fst = 0.2;
  RandomGenerator rng(17);
  SimulatePopulationSample(settings, rng, separated);
  settings.N = 40, settings.L = 8, settings.K = 3, settings.Fst = 0.02;
  SimulatePopulationSample(settings, rng, weak);
  AlleleCountSpace space;
  PrepareAlleleCountSpace(separated.X, 1, space);
  std::vector<int32_t> labels = separated.population;
  for (size_t n = 0; n < labels.size(); n += 7) labels[n] = 1 - labels[n];
  EXPECT_EQ(ReassignLabels(space, 2, 20, labels), 12);
  EXPECT_EQ(labels, separated.population);

  PrepareAlleleCountSpace(weak.X, 1, space);
  labels.assign(40, 0);
  for (int32_t n = 0; n < 40; ++n) labels[n] = UniformIntDraw(rng, 3);
  const double before = ClassificationLoglik(weak.X, labels, 3);
  EXPECT_GT(ReassignLabels(space, 3, 100, labels), 0);
  const double after = ClassificationLoglik(weak.X, labels, 3);
  EXPECT_GT(after, before);
  for (int32_t n = 0; n < 40; ++n) {
    for (int32_t k = 0; k < 3; ++k) {
      std::vector<int32_t> moved = labels;
      moved[n] = k;
      if (std::count(labels.begin(), labels.end(), labels[n]) > 1) {
        EXPECT_LE(ClassificationLoglik(weak.X, moved, 3), after + 1e-6) << n << " to " << k;
      }
    }
  }
}
