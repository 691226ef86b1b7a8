// The k-means start: the allele-count products against a literal version on every code width
// and thread count, well-separated populations recovered, seedings, determinism, and the
// degenerate cases (one cluster, identical individuals).
#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <vector>

#include "cluster/allele_counts.h"
#include "cluster/kmeans_start.h"
#include "data/allele_coding.h"
#include "data/population_sample.h"
#include "data/random.h"
#include "study/rand_index.h"

namespace {

// N individuals of A copies at loci of J[l] values 1..J[l], with about 1 in 10 copies -9
// (missing), seeded.
GenotypeTable RandomTable(unsigned long seed, int32_t N, int32_t A, const std::vector<int32_t>& J) {
  RandomGenerator rng(seed);
  const int32_t L = static_cast<int32_t>(J.size());
  GenotypeValues values(N, Vector2D<int32_t>(A, std::vector<int32_t>(L)));
  for (auto& individual : values) {
    for (auto& copy : individual) {
      for (int32_t l = 0; l < L; ++l) {
        copy[l] = UniformIntDraw(rng, 10) == 0 ? -9 : 1 + UniformIntDraw(rng, J[l]);
      }
    }
  }
  return CodeGenotypeValues(values);
}

// The counts of individual n at locus l (missing copies left out), literally.
std::vector<int32_t> Counts(const GenotypeTable& X, int32_t n, int32_t l) {
  std::vector<int32_t> c(X.alleleValues[l].size(), 0);
  for (int32_t a = 0; a < X.A; ++a) {
    const uint32_t code = GenotypeCode(X, n, a, l);
    if (code < c.size()) ++c[code];
  }
  return c;
}

PopulationSample Separated(unsigned long seed, int32_t N, int32_t L, int32_t K, int32_t alleles) {
  PopulationSampleSettings settings;
  settings.N = N, settings.L = L, settings.K = K, settings.Fst = 0.3;
  settings.fewestAlleles = 2, settings.mostAlleles = alleles;
  RandomGenerator rng(seed);
  PopulationSample sample;
  SimulatePopulationSample(settings, rng, sample);
  return sample;
}

}  // namespace

TEST(AlleleCounts, ProductsCountsAndNormsEqualTheLiteralOnesOnEveryWidthAndThreadCount) {
  // Loci of 2, 5, 20 and 300 alleles: 2-, 4-, 8- and 16-bit codes; ploidy 1 to 3; more loci
  // than one block holds.
  const struct {
    int32_t N, A;
    std::vector<int32_t> J;
  } cases[] = {{37, 2, std::vector<int32_t>(700, 2)},
               {25, 1, {2, 5, 20, 300, 5, 2}},
               {19, 3, {20, 2, 2, 5, 300, 20, 20}},
               {8, 2, std::vector<int32_t>(90, 20)}};
  for (const auto& c : cases) {
    SCOPED_TRACE("N " + std::to_string(c.N) + " A " + std::to_string(c.A));
    const GenotypeTable X = RandomTable(c.N * 7 + c.A, c.N, c.A, c.J);
    const int32_t K = 3;
    std::vector<int32_t> labels(X.N);
    for (int32_t n = 0; n < X.N; ++n) labels[n] = n % 4 == 3 ? -1 : n % K;
    std::vector<std::vector<double>> firstDots;
    for (int32_t threads : {1, 2, 3, 8}) {
      AlleleCountSpace space;
      PrepareAlleleCountSpace(X, threads, space);
      std::vector<double> W, dots;
      CountByLabel(space, labels, K, threads, W);
      DotWithColumns(space, W, K, threads, dots);
      for (int32_t n = 0; n < X.N; ++n) {
        double norm = 0.0;
        std::vector<double> dot(K, 0.0);
        for (int32_t l = 0; l < X.L; ++l) {
          const std::vector<int32_t> own = Counts(X, n, l);
          for (size_t j = 0; j < own.size(); ++j) {
            norm += own[j] * own[j];
            for (int32_t m = 0; m < X.N; ++m) {
              if (labels[m] >= 0) dot[labels[m]] += own[j] * Counts(X, m, l)[j];
            }
          }
        }
        ASSERT_EQ(space.squaredNorm[n], norm) << n;
        for (int32_t k = 0; k < K; ++k) ASSERT_EQ(dots[n * K + k], dot[k]) << n << " " << k;
      }
      // The missing rows of W stay 0.
      for (int32_t l = 0; l < X.L; ++l) {
        const size_t missingRow = space.codeStart[l] + X.alleleValues[l].size();
        for (int32_t k = 0; k < K; ++k) ASSERT_EQ(W[missingRow * K + k], 0.0);
      }
      firstDots.push_back(dots);
      ASSERT_EQ(dots, firstDots.front()) << threads << " threads";
    }
  }
}

TEST(KmeansStart, RecoversWellSeparatedPopulations) {
  // F_ST 0.3: every population is far from every other; microsatellite-like and SNP-like.
  const struct {
    int32_t N, L, K, alleles;
  } cases[] = {{150, 12, 3, 12}, {200, 20, 5, 8}, {120, 200, 4, 2}, {60, 300, 2, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE("K " + std::to_string(c.K) + " L " + std::to_string(c.L));
    const PopulationSample sample = Separated(c.N + c.K, c.N, c.L, c.K, c.alleles);
    AlleleCountSpace space;
    PrepareAlleleCountSpace(sample.X, 1, space);
    RandomGenerator rng(c.L);
    std::vector<int32_t> labels;
    KmeansLabels(space, c.K, KmeansSettings(), rng, 1, labels);
    EXPECT_EQ(AdjustedRandIndex(labels, sample.population), 1.0);
  }
}

TEST(KmeansStart, KeepsTheBestSeedingAndEndsAtAFixedPointTheSameOnAnyThreadCount) {
  PopulationSampleSettings settings;  // F_ST 0.03: several local optima
  settings.N = 300, settings.L = 15, settings.K = 4;
  RandomGenerator simulator(11);
  PopulationSample sample;
  SimulatePopulationSample(settings, simulator, sample);
  AlleleCountSpace space;
  PrepareAlleleCountSpace(sample.X, 1, space);

  KmeansSettings one, five;
  one.seedings = 1;
  five.seedings = 5;
  std::vector<int32_t> first, best;
  RandomGenerator a(3), b(3);
  const double firstSquares = KmeansLabels(space, 4, one, a, 1, first);
  const double bestSquares = KmeansLabels(space, 4, five, b, 1, best);
  EXPECT_LE(bestSquares, firstSquares);  // the first of the five is the single seeding
  EXPECT_EQ(bestSquares, WithinClusterSquares(space, best, 4, 1));
  EXPECT_EQ(std::set<int32_t>(best.begin(), best.end()).size(), 4u);

  // A fixed point: one more Lloyd pass moves no one.
  std::vector<int32_t> again = best;
  EXPECT_EQ(RefineKmeans(space, 4, 1, 1, again), bestSquares);
  EXPECT_EQ(again, best);

  for (int32_t threads : {2, 3, 8}) {
    RandomGenerator c(3);
    std::vector<int32_t> labels;
    EXPECT_EQ(KmeansLabels(space, 4, five, c, threads, labels), bestSquares);
    EXPECT_EQ(labels, best) << threads << " threads";
  }
}

TEST(KmeansStart, OneClusterAndIdenticalIndividuals) {
  // K = 1 draws nothing; identical individuals still give K non-empty clusters.
  GenotypeValues values(6, Vector2D<int32_t>(2, std::vector<int32_t>{1, 2, 2}));
  const GenotypeTable X = CodeGenotypeValues(values);
  AlleleCountSpace space;
  PrepareAlleleCountSpace(X, 1, space);
  RandomGenerator rng(5), fresh(5);
  std::vector<int32_t> labels;
  EXPECT_EQ(KmeansLabels(space, 1, KmeansSettings(), rng, 1, labels), 0.0);
  EXPECT_EQ(labels, std::vector<int32_t>(6, 0));
  EXPECT_EQ(UniformDraw(rng), UniformDraw(fresh));

  EXPECT_EQ(KmeansLabels(space, 3, KmeansSettings(), rng, 1, labels), 0.0);
  EXPECT_EQ(std::set<int32_t>(labels.begin(), labels.end()).size(), 3u);
}

TEST(KmeansStart, MissingGenotypesPullNoOneTogether) {
  // Two populations at F_ST 0.1; a third of the individuals miss 50-60 % of their loci, the
  // same loci in one batch. K = 2 finds the populations, not the missingness; K = 3 makes no
  // cluster of the individuals who miss most.
  PopulationSampleSettings settings;
  settings.N = 300, settings.L = 60, settings.K = 2, settings.Fst = 0.1;
  settings.sizes = {150, 150};
  settings.batches = 1;
  settings.heavyShare = 0.33;
  settings.heavyMissing[0] = 0.5, settings.heavyMissing[1] = 0.6;
  RandomGenerator simulator(12);
  PopulationSample sample;
  SimulatePopulationSample(settings, simulator, sample);
  AlleleCountSpace space;
  PrepareAlleleCountSpace(sample.X, 1, space);
  std::vector<bool> heavy(300);
  for (int32_t n = 0; n < 300; ++n) {
    int32_t missing = 0;
    for (int32_t l = 0; l < 60; ++l) {
      missing += GenotypeCode(sample.X, n, 0, l) >= sample.X.alleleValues[l].size() ? 1 : 0;
    }
    heavy[n] = missing >= 30;
  }
  RandomGenerator rng(2);
  std::vector<int32_t> labels;
  KmeansLabels(space, 2, KmeansSettings(), rng, 1, labels);
  EXPECT_GE(AdjustedRandIndex(labels, sample.population), 0.9);
  KmeansLabels(space, 3, KmeansSettings(), rng, 1, labels);
  for (int32_t k = 0; k < 3; ++k) {
    int32_t members = 0, heavyMembers = 0;
    for (int32_t n = 0; n < 300; ++n) {
      members += labels[n] == k;
      heavyMembers += labels[n] == k && heavy[n];
    }
    EXPECT_LT(heavyMembers, 0.66 * members) << "cluster " << k;
  }
}
