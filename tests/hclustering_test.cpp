// Hierarchical clustering: the dissimilarities and the merge sequence against the literal
// versions in reference_hclustering.h (bit for bit), a replay proving every merge was the
// closest pair by the tie rule, the worked examples, degenerate distances and the failures.
#include <gsl/gsl_rng.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "cluster/hclustering.h"
#include "data/allele_coding.h"
#include "reference_hclustering.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Random table: values 1..alleles, a share of missing codes (-9), and a share of
// individuals copied from an earlier one, so that ties and zero distances are common.
GenotypeValues RandomTable(unsigned long seed, int32_t N, int32_t A, int32_t L, int32_t alleles,
                           double missingShare = 0.0, double copyShare = 0.0) {
  gsl_rng* g = gsl_rng_alloc(gsl_rng_mt19937);
  gsl_rng_set(g, seed);
  GenotypeValues X;
  InitVctr3D(X, N, A, L, 0);
  for (int32_t n = 0; n < N; ++n) {
    if (n > 0 && gsl_rng_uniform(g) < copyShare) {
      X[n] = X[gsl_rng_uniform_int(g, n)];
      continue;
    }
    for (int32_t a = 0; a < A; ++a) {
      for (int32_t l = 0; l < L; ++l) {
        X[n][a][l] = gsl_rng_uniform(g) < missingShare
                         ? -9
                         : 1 + static_cast<int32_t>(gsl_rng_uniform_int(g, alleles));
      }
    }
  }
  gsl_rng_free(g);
  return X;
}

// Random condensed matrix of small integers (many ties), with a share of unusable entries
// (NaN, infinity, 1e300, just under 1e300) when asked.
CondensedDistances RandomDistances(unsigned long seed, int32_t N, int32_t values,
                                   double unusableShare) {
  gsl_rng* g = gsl_rng_alloc(gsl_rng_mt19937);
  gsl_rng_set(g, seed);
  CondensedDistances D(static_cast<size_t>(N) * (N - 1) / 2);
  const double unusable[] = {kNaN, kInf, kNoDistance, std::nextafter(kNoDistance, 0.0)};
  for (double& v : D) {
    v = gsl_rng_uniform(g) < unusableShare ? unusable[gsl_rng_uniform_int(g, 4)]
                                           : static_cast<double>(gsl_rng_uniform_int(g, values));
  }
  gsl_rng_free(g);
  return D;
}

// Bit for bit, except that every NaN equals every NaN: the compiler may swap the operands
// of a sum, and which NaN payload or sign survives then differs.
bool SameBits(const CondensedDistances& a, const CondensedDistances& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::isnan(a[i]) && std::isnan(b[i])) continue;
    if (std::memcmp(&a[i], &b[i], sizeof(double)) != 0) return false;
  }
  return true;
}

struct Merges {
  std::vector<int32_t> kept, absorbed;
  CondensedDistances D;  // the matrix as the engine left it
};

Merges RunFast(int32_t N, const CondensedDistances& D, int32_t method) {
  Merges m{{}, {}, D};
  HClusteringEngine(N, m.D, method, m.kept, m.absorbed);
  return m;
}

Merges RunReference(int32_t N, const CondensedDistances& D, int32_t method) {
  Merges m{{}, {}, D};
  ReferenceHClusteringEngine(N, m.D, method, m.kept, m.absorbed);
  return m;
}

// Replays the merges on D and checks that each joined the closest live pair: no live pair
// (j, k) is closer, and none at the same distance comes first in (j, k) order. When no pair
// is usable, the two smallest live indices must have been joined.
void ExpectEveryMergeIsClosest(int32_t N, CondensedDistances D, int32_t method, const Merges& m) {
  std::vector<bool> live(N, true);
  std::vector<int32_t> S(N, 1);
  for (int32_t t = 0; t + 1 < N; ++t) {
    int32_t bestJ = -1, bestK = -1;
    double best = kNoDistance;
    for (int32_t j = 0; j < N; ++j) {
      for (int32_t k = j + 1; k < N && live[j]; ++k) {
        if (live[k] && D[CondensedIndex(N, j, k)] < best) {
          best = D[CondensedIndex(N, j, k)];
          bestJ = j;
          bestK = k;
        }
      }
    }
    if (bestJ < 0) {
      for (bestJ = 0; !live[bestJ]; ++bestJ) {
      }
      for (bestK = bestJ + 1; !live[bestK]; ++bestK) {
      }
    }
    ASSERT_EQ(m.kept[t], bestJ) << "merge " << t;
    ASSERT_EQ(m.absorbed[t], bestK) << "merge " << t;
    live[bestK] = false;
    for (int32_t e = 0; e < N; ++e) {
      if (!live[e] || e == bestJ) continue;
      ReferenceAt(D, N, bestJ, e) =
          LinkageUpdate(method, ReferenceAt(D, N, bestJ, e), ReferenceAt(D, N, bestK, e),
                        ReferenceAt(D, N, bestJ, bestK), S[bestJ], S[bestK], S[e]);
    }
    S[bestJ] += S[bestK];
  }
}

// The fast engine against the literal one: same merges, same final matrix bits.
void ExpectSameAsReference(int32_t N, const CondensedDistances& D, int32_t method,
                           bool replay = false) {
  const Merges fast = RunFast(N, D, method);
  const Merges reference = RunReference(N, D, method);
  ASSERT_EQ(fast.kept, reference.kept);
  ASSERT_EQ(fast.absorbed, reference.absorbed);
  ASSERT_TRUE(SameBits(fast.D, reference.D));
  if (replay) ExpectEveryMergeIsClosest(N, D, method, fast);
}

}  // namespace

TEST(CondensedLayout, IndexFollowsRowByRowOrder) {
  for (int32_t N : {2, 3, 7, 100}) {
    int64_t position = 0;
    for (int32_t i = 0; i < N; ++i)
      for (int32_t j = i + 1; j < N; ++j) ASSERT_EQ(CondensedIndex(N, i, j), position++);
    EXPECT_EQ(position, static_cast<int64_t>(0.5 * (N - 1) * N));
  }
  // Row 0 holds (0,1)..(0,N-1) at 0..N-2, and row 1 follows.
  EXPECT_EQ(CondensedIndex(5, 0, 4), 3);
  EXPECT_EQ(CondensedIndex(5, 1, 2), 4);
  // Large N: no 32-bit overflow.
  EXPECT_EQ(CondensedIndex(100000, 99998, 99999), 100000LL * 99999 / 2 - 1);
}

TEST(HClusteringDistance, WorkedExamples) {
  const int32_t kMin = std::numeric_limits<int32_t>::min();
  const int32_t kMax = std::numeric_limits<int32_t>::max();
  struct Case {
    const char* what;
    GenotypeValues X;  // two individuals
    double sharing, euclidean;
  };
  // All by hand. Sharing: 1 - s / (A*A*L); Euclidean: copy a against copy a.
  const Case cases[] = {
      {"homozygous for the same alleles", {{{3, 5}, {3, 5}}, {{3, 5}, {3, 5}}}, 0.0, 0.0},
      {"identical heterozygous diploids", {{{1, 2}, {2, 1}}, {{1, 2}, {2, 1}}}, 0.5, 0.0},
      // Locus 0: {1,2} vs {2,2} -> 2 matches; locus 1: {3,3} vs {3,4} -> 2; s = 4 of 8.
      {"partly shared", {{{1, 3}, {2, 3}}, {{2, 3}, {2, 4}}}, 0.5, std::sqrt(2.0)},
      {"nothing shared", {{{1, 1}, {1, 1}}, {{2, 2}, {2, 2}}}, 1.0, 2.0},
      // Missing codes are compared like any value.
      {"both missing", {{{-9, 7}}, {{-9, 8}}}, 0.5, 1.0},
      {"triploid, one locus", {{{1}, {1}, {2}}, {{1}, {2}, {2}}}, 1.0 - 4.0 / 9.0, 1.0},
      // |difference| = 2^32 - 1; its square rounds to 2^64 - 2^33 as a double.
      {"extreme values", {{{kMin}}, {{kMax}}}, 1.0, std::sqrt(18446744065119617024.0)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const CondensedDistances sharing = HClusteringDistance(CodeGenotypeValues(c.X), true);
    const CondensedDistances euclidean = HClusteringDistance(CodeGenotypeValues(c.X), false);
    ASSERT_EQ(sharing.size(), 1u);
    EXPECT_DOUBLE_EQ(sharing[0], c.sharing);
    EXPECT_DOUBLE_EQ(euclidean[0], c.euclidean);
  }
  EXPECT_TRUE(HClusteringDistance(CodeGenotypeValues(GenotypeValues{{{1, 2}}}), true).empty());
}

TEST(HClusteringDistance, SameBitsAsLiteralOnRandomTables) {
  struct Case {
    int32_t N, A, L, alleles;
    double missing, copies;
  };
  const Case cases[] = {
      {2, 1, 1, 2, 0.0, 0.0},
      {3, 2, 1, 2, 0.0, 0.5},
      {40, 2, 10, 10, 0.1, 0.2},
      {61, 3, 7, 3, 0.2, 0.1},
      {50, 4, 5, 2, 0.0, 0.0},
      {200, 2, 50, 10, 0.05, 0.1},
      {37, 1, 33, 4, 0.0, 0.3},
      {300, 2, 3, 400, 0.0, 0.0},  // over 256 distinct values
      {6, 4, 4100, 3, 0.0, 0.0},   // s above 65,535
      // Several blocks of loci for each ploidy, and a ploidy of 5.
      {20, 1, 600, 2, 0.0, 0.2},
      {40, 2, 130, 2, 0.0, 0.2},
      {30, 3, 61, 3, 0.1, 0.1},
      {20, 4, 40, 2, 0.0, 0.2},
      {20, 5, 3, 3, 0.1, 0.2},
  };
  unsigned long seed = 1;
  for (const Case& c : cases) {
    for (int repeat = 0; repeat < 3; ++repeat, ++seed) {
      SCOPED_TRACE("seed " + std::to_string(seed) + ", N " + std::to_string(c.N));
      const GenotypeValues X = RandomTable(seed, c.N, c.A, c.L, c.alleles, c.missing, c.copies);
      for (bool sharing : {true, false}) {
        ASSERT_TRUE(SameBits(HClusteringDistance(CodeGenotypeValues(X), sharing),
                             ReferenceHClusteringDistance(X, sharing)))
            << (sharing ? "allele sharing" : "Euclidean");
      }
    }
  }
  // Wide Euclidean values (differences up to about 2^31).
  GenotypeValues X = RandomTable(99, 30, 2, 6, 1000);
  for (auto& individual : X)
    for (auto& copy : individual)
      for (int32_t& v : copy) v = (v - 500) * 2000000;
  EXPECT_TRUE(SameBits(HClusteringDistance(CodeGenotypeValues(X), false),
                       ReferenceHClusteringDistance(X, false)));
}

TEST(HClusteringEngine, SameMergesAsLiteralOnGenotypeDistances) {
  // Allele-sharing distances take few values, so ties are the normal case here.
  struct Case {
    int32_t N, A, L, alleles;
    double copies;
    int repeats;
  };
  const Case cases[] = {
      {2, 2, 1, 2, 0.0, 3},  {3, 2, 1, 2, 0.0, 5},    {5, 1, 1, 2, 0.3, 10},
      {12, 2, 2, 2, 0.2, 8}, {30, 2, 3, 3, 0.3, 6},   {60, 2, 10, 10, 0.1, 3},
      {90, 1, 2, 2, 0.5, 2}, {150, 2, 20, 5, 0.1, 1},
  };
  unsigned long seed = 1000;
  for (const Case& c : cases) {
    for (int repeat = 0; repeat < c.repeats; ++repeat, ++seed) {
      const GenotypeValues X = RandomTable(seed, c.N, c.A, c.L, c.alleles, 0.05, c.copies);
      for (bool sharing : {true, false}) {
        const CondensedDistances D = HClusteringDistance(CodeGenotypeValues(X), sharing);
        for (int32_t method = 0; method <= 6; ++method) {
          SCOPED_TRACE("seed " + std::to_string(seed) + ", N " + std::to_string(c.N) + ", method " +
                       std::to_string(method) + (sharing ? ", sharing" : ", Euclid"));
          ExpectSameAsReference(c.N, D, method, /*replay=*/c.N <= 60);
        }
      }
    }
  }
}

TEST(HClusteringEngine, SameMergesAsLiteralOnLargeInputs) {
  // Ward on allele sharing is the run's case; the others check the caches at size.
  const GenotypeValues X = RandomTable(7, 400, 2, 50, 10, 0.0, 0.05);
  const CondensedDistances sharing = HClusteringDistance(CodeGenotypeValues(X), true);
  for (int32_t method : {6, 0, 5}) {
    SCOPED_TRACE("seed 7, N 400, method " + std::to_string(method));
    ExpectSameAsReference(400, sharing, method);
  }
  const GenotypeValues Y = RandomTable(8, 300, 2, 4, 3, 0.0, 0.2);
  const CondensedDistances fewLoci = HClusteringDistance(CodeGenotypeValues(Y), true);
  const CondensedDistances euclidean = HClusteringDistance(CodeGenotypeValues(Y), false);
  for (int32_t method = 0; method <= 6; ++method) {
    SCOPED_TRACE("seed 8, N 300, method " + std::to_string(method));
    ExpectSameAsReference(300, fewLoci, method);
    ExpectSameAsReference(300, euclidean, method);
  }
}

TEST(HClusteringEngine, SameMergesAsLiteralOnTiedAndUnusableDistances) {
  // Integer distances from a small range, some NaN, infinite or at 1e300, every method.
  unsigned long seed = 5000;
  for (int32_t N : {2, 3, 4, 6, 9, 17, 40, 80}) {
    for (double unusable : {0.0, 0.1, 0.5, 0.95, 1.0}) {
      for (int32_t values : {1, 3, 20}) {
        ++seed;
        const CondensedDistances D = RandomDistances(seed, N, values, unusable);
        for (int32_t method = 0; method <= 6; ++method) {
          SCOPED_TRACE("seed " + std::to_string(seed) + ", N " + std::to_string(N) + ", method " +
                       std::to_string(method));
          ExpectSameAsReference(N, D, method, /*replay=*/true);
        }
      }
    }
  }
}

TEST(HClusteringEngine, UnusableDistancesAreMergedInIndexOrder) {
  // Single linkage; D(2,3) is the only usable distance, D(0,1) is NaN, the rest 1e300.
  // Merge 0 joins (2, 3); then no pair is usable and the smallest live indices are joined.
  const CondensedDistances mixed = {kNaN, kNoDistance, kNoDistance, kNoDistance, kNoDistance, 0.5};
  Merges m = RunFast(4, mixed, 5);
  EXPECT_EQ(m.kept, (std::vector<int32_t>{2, 0, 0}));
  EXPECT_EQ(m.absorbed, (std::vector<int32_t>{3, 1, 2}));
  // Nothing usable at all, every method: (0,1), (0,2), ... (0,N-1).
  for (double bad : {kNaN, kInf, kNoDistance}) {
    for (int32_t method = 0; method <= 6; ++method) {
      m = RunFast(6, CondensedDistances(15, bad), method);
      EXPECT_EQ(m.kept, std::vector<int32_t>(5, 0));
      EXPECT_EQ(m.absorbed, (std::vector<int32_t>{1, 2, 3, 4, 5}));
    }
  }
  // Euclidean on extreme values goes through the whole routine.
  const GenotypeValues X = {
      {{std::numeric_limits<int32_t>::min()}}, {{std::numeric_limits<int32_t>::max()}}, {{0}}};
  // D(1,2) = 2^31 - 1 is the smallest: groups {0} and {1, 2}.
  EXPECT_EQ(HClustering(CodeGenotypeValues(X), 6, 2, false), (std::vector<int32_t>{0, 1, 1}));
}

TEST(HClusteringEngine, WorkedExamples) {
  // Three items at equal distances: (0,1) then (0,2).
  Merges m = RunFast(3, {1.0, 1.0, 1.0}, 6);
  EXPECT_EQ(m.kept, (std::vector<int32_t>{0, 0}));
  EXPECT_EQ(m.absorbed, (std::vector<int32_t>{1, 2}));
  EXPECT_EQ(HClusteringCut(m.kept, m.absorbed, 2), (std::vector<int32_t>{0, 0, 1}));
  // D(0,2) = 0.1, the others 1: labels follow first appearance, not merge order.
  m = RunFast(3, {1.0, 0.1, 1.0}, 6);
  EXPECT_EQ(m.kept, (std::vector<int32_t>{0, 0}));
  EXPECT_EQ(m.absorbed, (std::vector<int32_t>{2, 1}));
  EXPECT_EQ(HClusteringCut(m.kept, m.absorbed, 2), (std::vector<int32_t>{0, 1, 0}));
  // Ward, D(0,1) = D(2,3) = 0.1, the rest 1. Merge 0 sets D(0,2) and D(0,3) to
  // (2*1 + 2*1 - 0.1) / 3 = 1.3; D(0,3) keeps it, as 3 is absorbed by merge 1.
  m = RunFast(4, {0.1, 1.0, 1.0, 1.0, 1.0, 0.1}, 6);
  EXPECT_EQ(m.kept, (std::vector<int32_t>{0, 2, 0}));
  EXPECT_EQ(m.absorbed, (std::vector<int32_t>{1, 3, 2}));
  EXPECT_NEAR(m.D[CondensedIndex(4, 0, 3)], 1.3, 1e-15);
  EXPECT_EQ(HClusteringCut(m.kept, m.absorbed, 2), (std::vector<int32_t>{0, 0, 1, 1}));
  // One item: no merges. kept and absorbed already sized are filled in place.
  m = RunFast(1, {}, 6);
  EXPECT_TRUE(m.kept.empty());
  std::vector<int32_t> kept(2, 0), absorbed(2, 0);
  CondensedDistances D = {1.0, 1.0, 1.0};
  HClusteringEngine(3, D, 0, kept, absorbed);
  EXPECT_EQ(absorbed, (std::vector<int32_t>{1, 2}));
}

TEST(HClusteringCut, LabelsByFirstAppearance) {
  // Merges of 6 items: (4,5), (1,3), (0,4), (1,2), (0,1).
  const std::vector<int32_t> kept = {4, 1, 0, 1, 0};
  const std::vector<int32_t> absorbed = {5, 3, 4, 2, 1};
  struct Case {
    int32_t K;
    std::vector<int32_t> labels;
  };
  const Case cases[] = {
      {6, {0, 1, 2, 3, 4, 5}}, {9, {0, 1, 2, 3, 4, 5}}, {5, {0, 1, 2, 3, 4, 4}},
      {4, {0, 1, 2, 1, 3, 3}}, {3, {0, 1, 2, 1, 0, 0}}, {2, {0, 1, 1, 1, 0, 0}},
      {1, {0, 0, 0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(HClusteringCut(kept, absorbed, c.K), c.labels) << "K " << c.K;
  }
  EXPECT_EQ(HClusteringCut({}, {}, 3), (std::vector<int32_t>{0}));
}

TEST(HClustering, WholeRoutineExamples) {
  const GenotypeValues X = RandomTable(3, 25, 2, 6, 3, 0.0, 0.3);
  for (int32_t K : {25, 30}) {
    std::vector<int32_t> identity(25);
    for (int32_t i = 0; i < 25; ++i) identity[i] = i;
    EXPECT_EQ(HClustering(CodeGenotypeValues(X), 6, K, true), identity);
  }
  EXPECT_EQ(HClustering(CodeGenotypeValues(X), 6, 1, true), std::vector<int32_t>(25, 0));
  EXPECT_EQ(HClustering(CodeGenotypeValues(GenotypeValues{{{4, 4}}}), 6, 3, true),
            std::vector<int32_t>{0});
  // Two clear groups of identical individuals, interleaved.
  const GenotypeValues groups = {
      {{1, 1}, {1, 1}}, {{2, 2}, {2, 2}}, {{1, 1}, {1, 1}}, {{2, 2}, {2, 2}}, {{1, 1}, {1, 2}}};
  for (int32_t method = 0; method <= 6; ++method) {
    EXPECT_EQ(HClustering(CodeGenotypeValues(groups), method, 2, true),
              (std::vector<int32_t>{0, 1, 0, 1, 0}));
  }
  // The labels are those of the literal engine's merges.
  const GenotypeValues Y = RandomTable(4, 70, 2, 5, 4, 0.0, 0.1);
  CondensedDistances D = ReferenceHClusteringDistance(Y, true);
  std::vector<int32_t> kept, absorbed;
  ReferenceHClusteringEngine(70, D, 6, kept, absorbed);
  for (int32_t K : {2, 3, 10}) {
    EXPECT_EQ(HClustering(CodeGenotypeValues(Y), 6, K, true), HClusteringCut(kept, absorbed, K));
  }
}

TEST(HClusteringDeathTest, FailureLines) {
  EXPECT_EXIT(HClustering(GenotypeTable(), 6, 2, true), testing::ExitedWithCode(1),
              "^Empty Data - HClustering\n$");
  for (int32_t method : {7, -1, 1000}) {
    CondensedDistances D = {1.0, 1.0, 1.0};
    std::vector<int32_t> kept, absorbed;
    EXPECT_EXIT(HClusteringEngine(3, D, method, kept, absorbed), testing::ExitedWithCode(1),
                "^Unsupported Clustering Method - HClusteringEngine\n$");
  }
  EXPECT_EXIT(MakeCondensedDistances(2000000), testing::ExitedWithCode(1),
              "^Not enough memory for the distances of 2000000 individuals .*- "
              "HClusteringDistance\n$");
}

TEST(HClusteringEngine, UnsupportedMethodNeedsADistanceUpdate) {
  // Two items: the single merge leaves nothing to update, so no method is looked at.
  CondensedDistances D = {0.3};
  std::vector<int32_t> kept, absorbed;
  HClusteringEngine(2, D, 9, kept, absorbed);
  EXPECT_EQ(kept, std::vector<int32_t>{0});
  EXPECT_EQ(absorbed, std::vector<int32_t>{1});
}
