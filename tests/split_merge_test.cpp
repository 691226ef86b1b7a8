// Split-and-merge moves on a case whose answer is known: three separated populations, with
// population 0 shared by clusters 0 and 1 and populations 1 and 2 together in cluster 2.
#include <gtest/gtest.h>

#include <algorithm>
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
  // search keeps the move to the truth, then finds nothing better and stops.
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
    EXPECT_EQ(outcome.kept, 1);
    EXPECT_EQ(kept, 1);
    EXPECT_EQ(outcome.tried, converged);
    EXPECT_LE(outcome.tried, 4);
    if (first.empty()) first = Q;
    EXPECT_EQ(Q, first) << threads;
  }
}
