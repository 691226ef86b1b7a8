// The EM iteration: bit-for-bit agreement with the literal version on random tables,
// the model's properties, the degenerate cases (underflow, empty clusters, draws that
// reach no cluster), the frequency floor and the progress lines.
#include <gsl/gsl_randist.h>
#include <gsl/gsl_rng.h>
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "cluster/em.h"
#include "data/allele_coding.h"
#include "reference_em.h"

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// A coded random table with its starting memberships.
struct Data {
  int32_t N, A, L, K;
  GenotypeValues X;     // the values, for the literal version
  GenotypeTable coded;  // the same table coded, for the program
  Vector2D<int32_t> V;
  std::vector<int32_t> J;
  int32_t Jmax = 0;
  Vector2D<double> Q;  // starting memberships
};

// Random allele values (minAlleles to maxAlleles[l % size] per locus, 1 to 5 unless given;
// the drawn value count is an upper bound of the alleles that appear). missingRate:
// share of copies holding the missing code -9; negativeRate: share of copies holding -1, an
// allele of its own, at every third locus. Rows of Q are one-hot (so clusters may start
// empty) or Dirichlet.
Data MakeData(int32_t N, int32_t A, int32_t L, int32_t K, double missingRate, double negativeRate,
              bool oneHot, unsigned long seed, const std::vector<int32_t>& maxAlleles = {5},
              int32_t minAlleles = 1) {
  Data d{N, A, L, K, {}, {}, {}, {}, 0, {}};
  RandomGenerator rng(seed);
  InitVctr3D(d.X, N, A, L, 0);
  std::vector<int32_t> alleles(L);
  for (int32_t l = 0; l < L; ++l) {
    alleles[l] =
        minAlleles + UniformIntDraw(rng, maxAlleles[l % maxAlleles.size()] - minAlleles + 1);
  }
  for (int32_t n = 0; n < N; ++n) {
    for (int32_t a = 0; a < A; ++a) {
      for (int32_t l = 0; l < L; ++l) {
        const double u = gsl_rng_uniform(rng.handle());
        int32_t& x = d.X[n][a][l];
        if (u < missingRate) {
          x = -9;
        } else if (l % 3 == 0 && u < missingRate + negativeRate) {
          x = -1;
        } else {
          x = 100 + 7 * UniformIntDraw(rng, alleles[l]);
        }
      }
    }
  }
  d.coded = CodeGenotypeValues(d.X);
  CodeAlleles(d.coded, L, d.V, d.J, d.Jmax);
  InitVctr2D(d.Q, N, K, 0.0);
  const std::vector<double> ones(K, 1.0);
  for (int32_t n = 0; n < N; ++n) {
    if (oneHot) {
      d.Q[n][UniformIntDraw(rng, K)] = 1.0;
    } else {
      DirichletDraw(rng, ones, d.Q[n].data());
    }
  }
  return d;
}

// The estimates of one EM run.
struct Estimates {
  std::vector<double> pi;
  Vector3D<double> P;
  Vector2D<double> Q;
  Vector2D<double> R;
  double beta = 0.0;
};

Estimates StartEstimates(const Data& d, int32_t T) {
  Estimates e;
  e.pi.assign(d.K, 1.0 / d.K);
  InitVctr3D(e.P, d.K, d.L, d.J, 0.0);
  e.Q = d.Q;
  InitVctr2D(e.R, d.K, d.K, 0.0);
  e.beta = std::pow(1.2, -T);
  return e;
}

bool SameBits(double a, double b) {
  return std::bit_cast<uint64_t>(a) == std::bit_cast<uint64_t>(b);
}

// Empty when every value has the same bits; otherwise names the first difference.
std::string FirstDifference(const Estimates& x, const Estimates& y) {
  auto show = [](const std::string& what, double a, double b) {
    char text[160];
    std::snprintf(text, sizeof(text), "%s: %.17g vs %.17g", what.c_str(), a, b);
    return std::string(text);
  };
  for (size_t k = 0; k < x.pi.size(); ++k) {
    if (!SameBits(x.pi[k], y.pi[k])) return show("pi[" + std::to_string(k) + "]", x.pi[k], y.pi[k]);
  }
  for (size_t k = 0; k < x.P.size(); ++k)
    for (size_t l = 0; l < x.P[k].size(); ++l)
      for (size_t j = 0; j < x.P[k][l].size(); ++j)
        if (!SameBits(x.P[k][l][j], y.P[k][l][j]))
          return show(
              "P[" + std::to_string(k) + "][" + std::to_string(l) + "][" + std::to_string(j) + "]",
              x.P[k][l][j], y.P[k][l][j]);
  for (size_t n = 0; n < x.Q.size(); ++n)
    for (size_t k = 0; k < x.Q[n].size(); ++k)
      if (!SameBits(x.Q[n][k], y.Q[n][k]))
        return show("Q[" + std::to_string(n) + "][" + std::to_string(k) + "]", x.Q[n][k],
                    y.Q[n][k]);
  for (size_t k = 0; k < x.R.size(); ++k)
    for (size_t m = 0; m < x.R[k].size(); ++m)
      if (!SameBits(x.R[k][m], y.R[k][m]))
        return show("R[" + std::to_string(k) + "][" + std::to_string(m) + "]", x.R[k][m],
                    y.R[k][m]);
  if (!SameBits(x.beta, y.beta)) return show("beta", x.beta, y.beta);
  return "";
}

bool AllFinite(const Estimates& e) {
  for (double v : e.pi)
    if (!std::isfinite(v)) return false;
  for (const auto& cluster : e.P)
    for (const auto& locus : cluster)
      for (double v : locus)
        if (!std::isfinite(v)) return false;
  for (const auto& row : e.Q)
    for (double v : row)
      if (!std::isfinite(v)) return false;
  return true;
}

// Runs I iterations of the literal and the fast version side by side from the same start
// (each with its own generator, seeded alike) and returns the first difference, if any.
std::string CompareRuns(const Data& d, char variant, int32_t I, int32_t T, unsigned long seed) {
  Estimates slow = StartEstimates(d, T), fast = StartEstimates(d, T);
  RandomGenerator slowRng(seed), fastRng(seed);
  EmWorkspace w;
  PrepareEmWorkspace(d.coded, d.V, d.J, d.N, d.A, d.L, d.K, w);
  for (int32_t t = 0; t < I; ++t) {
    const double slowLL =
        reference::EmIteration(t, d.X, d.V, d.J, d.N, d.A, d.L, d.K, variant, T, slowRng, slow.pi,
                               slow.P, slow.Q, slow.R, slow.beta);
    const double fastLL =
        EmIteration(t, variant, T, fastRng, w, fast.pi, fast.P, fast.Q, fast.R, fast.beta);
    const std::string where = "iteration " + std::to_string(t) + ", ";
    if (!SameBits(slowLL, fastLL)) {
      return where + "LL: " + std::to_string(slowLL) + " vs " + std::to_string(fastLL);
    }
    const std::string difference = FirstDifference(slow, fast);
    if (!difference.empty()) return where + difference;
    if (!AllFinite(fast)) return where + "a value is not finite";
  }
  // Both generators made the same number of draws.
  if (gsl_rng_get(slowRng.handle()) != gsl_rng_get(fastRng.handle())) return "draw counts differ";
  return "";
}

// The estimates after I iterations, every log-likelihood and the generator's next draw.
struct RunResult {
  Estimates e;
  std::vector<double> H;
  unsigned long nextDraw = 0;
};

// I iterations of the literal version (threads = 0) or of the program on `threads` threads.
RunResult RunIterations(const Data& d, char variant, int32_t I, int32_t T, unsigned long seed,
                        int32_t threads) {
  RunResult run{StartEstimates(d, T), {}, 0};
  Estimates& e = run.e;
  RandomGenerator rng(seed);
  EmWorkspace w;
  if (threads > 0) PrepareEmWorkspace(d.coded, d.V, d.J, d.N, d.A, d.L, d.K, w, threads);
  for (int32_t t = 0; t < I; ++t) {
    run.H.push_back(threads > 0
                        ? EmIteration(t, variant, T, rng, w, e.pi, e.P, e.Q, e.R, e.beta)
                        : reference::EmIteration(t, d.X, d.V, d.J, d.N, d.A, d.L, d.K, variant, T,
                                                 rng, e.pi, e.P, e.Q, e.R, e.beta));
  }
  run.nextDraw = gsl_rng_get(rng.handle());
  return run;
}

}  // namespace

TEST(EmIteration, SameBitsAsLiteralVersionOnRandomTables) {
  unsigned long seed = 1;
  for (const char variant : {'c', 'a', 's'}) {
    for (int32_t A = 1; A <= 4; ++A) {
      for (int32_t K = 1; K <= 8; ++K) {
        ++seed;
        // Alternate sizes so that some runs have fewer individuals than clusters, and
        // alternate missing data, the extra negative allele and the kind of start.
        const int32_t N = (seed % 3 == 0) ? 4 : 17 + static_cast<int32_t>(seed % 9);
        const double missing = (seed % 2 == 0) ? 0.12 : 0.0;
        const double negative = (seed % 4 < 2) ? 0.15 : 0.0;
        const Data d = MakeData(N, A, 7, K, missing, negative, seed % 5 != 0, seed);
        SCOPED_TRACE(std::string("variant ") + variant + ", A " + std::to_string(A) + ", K " +
                     std::to_string(K) + ", N " + std::to_string(N) + ", seed " +
                     std::to_string(seed));
        EXPECT_EQ(CompareRuns(d, variant, 9, 4, seed * 7919), "");
      }
    }
  }
}

TEST(EmIteration, SameBitsAsLiteralVersionWithMoreThanEightClusters) {
  // Clusters beyond eight are summed eight at a time; from 18 clusters on, a sum of
  // capped exponentials can overflow and give a cluster a probability of exactly 0.
  unsigned long seed = 500;
  for (const char variant : {'c', 'a', 's'}) {
    for (const int32_t A : {2, 3}) {
      for (const int32_t K : {9, 11, 16, 18}) {
        ++seed;
        const Data d = MakeData(30, A, 40, K, 0.1, 0.1, seed % 2 == 0, seed);
        SCOPED_TRACE(std::string("variant ") + variant + ", A " + std::to_string(A) + ", K " +
                     std::to_string(K));
        EXPECT_EQ(CompareRuns(d, variant, 6, 3, seed), "");
      }
    }
  }
}

TEST(EmIteration, SameBitsOnEveryThreadCount) {
  // Loci over several blocks of the table: blocks of biallelic loci (2-bit codes) and of 8
  // to 12 alleles (4-bit codes), decoded a word at a time, and blocks that mix them with loci
  // of up to 120 alleles (8-bit); missing copies and the extra negative allele throughout.
  // Every thread count must give the literal bits.
  struct Case {
    char variant;
    int32_t N, A, L, K;
    std::vector<int32_t> maxAlleles;
    int32_t minAlleles;
  };
  const Case cases[] = {
      {'c', 23, 2, 600, 4, {2}, 1},        {'s', 19, 2, 600, 3, {2}, 1},
      {'a', 17, 1, 1100, 7, {2}, 1},       {'c', 13, 4, 600, 2, {2}, 1},
      {'s', 21, 3, 300, 9, {2, 2, 12}, 1}, {'a', 18, 2, 200, 16, {2, 12, 120}, 1},
      {'c', 5, 2, 200, 18, {2, 120}, 1},   {'c', 25, 2, 300, 5, {12}, 8},
      {'s', 21, 1, 300, 6, {12}, 8},
  };
  unsigned long seed = 900;
  for (const Case& c : cases) {
    ++seed;
    const Data d =
        MakeData(c.N, c.A, c.L, c.K, 0.04, 0.03, seed % 2 == 0, seed, c.maxAlleles, c.minAlleles);
    const RunResult literal = RunIterations(d, c.variant, 3, 1, seed, 0);
    for (const int32_t threads : {1, 2, 3, 8}) {
      SCOPED_TRACE(std::string("variant ") + c.variant + ", A " + std::to_string(c.A) + ", K " +
                   std::to_string(c.K) + ", threads " + std::to_string(threads));
      const RunResult program = RunIterations(d, c.variant, 3, 1, seed, threads);
      EXPECT_EQ(FirstDifference(literal.e, program.e), "");
      for (int32_t t = 0; t < 3; ++t) EXPECT_TRUE(SameBits(literal.H[t], program.H[t])) << t;
      EXPECT_EQ(literal.nextDraw, program.nextDraw);
    }
  }
}

TEST(EmIteration, SameBitsAsLiteralVersionWhenLikelihoodsUnderflow) {
  // 300 loci: every product f_k underflows, so every individual takes the log-space path.
  for (const char variant : {'c', 'a', 's'}) {
    const Data d = MakeData(12, 2, 300, 3, 0.05, 0.05, false, 77);
    SCOPED_TRACE(std::string("variant ") + variant);
    EXPECT_EQ(CompareRuns(d, variant, 4, 2, 5), "");
  }
}

TEST(EmIteration, RunEMMatchesLiteralRunAndWritesProgressLines) {
  struct Case {
    int32_t I;
    char variant;
    const char* lines;
  };
  const Case cases[] = {
      {99, 'c', ""},
      {100, 's', "100 Iterations Completed\n"},
      {250, 'a', "100 Iterations Completed\n200 Iterations Completed\n"},
  };
  for (const Case& c : cases) {
    const Data d = MakeData(6, 2, 3, 2, 0.1, 0.1, true, 11);
    const int32_t T = static_cast<int32_t>(c.I * 0.1);
    Estimates slow = StartEstimates(d, T), fast = StartEstimates(d, T);
    std::vector<double> slowH(c.I, 0.0), fastH(c.I, 0.0);
    RandomGenerator slowRng(3), fastRng(3);
    reference::RunEM(d.X, d.V, d.J, d.N, d.A, d.L, d.K, c.I, c.variant, T, slowRng, slow.pi, slow.P,
                     slow.Q, slow.R, slowH);
    testing::internal::CaptureStdout();
    RunEM(d.coded, d.V, d.J, d.N, d.A, d.L, d.K, c.I, c.variant, T, fastRng, fast.pi, fast.P,
          fast.Q, fast.R, fastH);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.lines) << "I = " << c.I;
    fast.beta = slow.beta;  // RunEM keeps its exponent to itself
    EXPECT_EQ(FirstDifference(slow, fast), "") << "I = " << c.I;
    for (int32_t t = 0; t < c.I; ++t) {
      ASSERT_TRUE(SameBits(slowH[t], fastH[t])) << "I = " << c.I << ", t = " << t;
    }
  }
}

TEST(EmIteration, EstimatesSumToOne) {
  for (const char variant : {'c', 'a', 's'}) {
    for (int32_t K : {1, 2, 5}) {
      const Data d = MakeData(30, 2, 6, K, 0.1, 0.1, false, 100 + K);
      Estimates e = StartEstimates(d, 3);
      RandomGenerator rng(9);
      EmWorkspace w;
      PrepareEmWorkspace(d.coded, d.V, d.J, d.N, d.A, d.L, d.K, w);
      for (int32_t t = 0; t < 6; ++t) {
        EmIteration(t, variant, 3, rng, w, e.pi, e.P, e.Q, e.R, e.beta);
        double piSum = 0.0;
        for (double v : e.pi) piSum += v;
        EXPECT_NEAR(piSum, 1.0, 1e-12);
        for (const auto& row : e.Q) {
          double sum = 0.0;
          for (double v : row) sum += v;
          EXPECT_NEAR(sum, 1.0, 1e-12);
          if (K == 1) {
            EXPECT_EQ(row[0], 1.0);
          }
        }
        for (const auto& cluster : e.P) {
          for (const auto& locus : cluster) {
            double sum = 0.0;
            for (double v : locus) sum += v;
            EXPECT_NEAR(sum, 1.0, 1e-12);
          }
        }
      }
    }
  }
}

TEST(EmIteration, PlainEmNeverLowersTheLikelihood) {
  const Data d = MakeData(40, 2, 8, 3, 0.05, 0.0, false, 21);
  Estimates e = StartEstimates(d, 0);
  std::vector<double> H(60, 0.0);
  RandomGenerator rng(1);
  testing::internal::CaptureStdout();
  RunEM(d.coded, d.V, d.J, d.N, d.A, d.L, d.K, 60, 'c', 0, rng, e.pi, e.P, e.Q, e.R, H);
  testing::internal::GetCapturedStdout();
  for (size_t t = 1; t < H.size(); ++t) {
    EXPECT_GE(H[t], H[t - 1] - 1e-9 * std::fabs(H[t - 1])) << "iteration " << t;
  }
  EXPECT_GT(H.back(), H.front());
}

TEST(EmIteration, RecoversWellSeparatedClusters) {
  // Three groups of 15 individuals whose alleles never overlap (group c carries values
  // 10c + 1 .. 10c + 3). The start is the true grouping with every third individual moved
  // to a random cluster; every variant must return each group to a cluster of its own.
  constexpr int32_t kGroups = 3, kPerGroup = 15, A = 2, L = 8;
  constexpr int32_t N = kGroups * kPerGroup;
  for (const char variant : {'c', 'a', 's'}) {
    for (unsigned long seed : {1ul, 2ul, 3ul}) {
      RandomGenerator rng(seed);
      Data d{N, A, L, kGroups, {}, {}, {}, {}, 0, {}};
      InitVctr3D(d.X, N, A, L, 0);
      for (int32_t n = 0; n < N; ++n)
        for (int32_t a = 0; a < A; ++a)
          for (int32_t l = 0; l < L; ++l)
            d.X[n][a][l] = 10 * (n / kPerGroup) + 1 + UniformIntDraw(rng, 3);
      d.coded = CodeGenotypeValues(d.X);
      CodeAlleles(d.coded, L, d.V, d.J, d.Jmax);
      InitVctr2D(d.Q, N, kGroups, 0.0);
      for (int32_t n = 0; n < N; ++n) {
        d.Q[n][n % 3 == 0 ? UniformIntDraw(rng, kGroups) : n / kPerGroup] = 1.0;
      }

      Estimates e = StartEstimates(d, 4);
      std::vector<double> H(40, 0.0);
      RunEM(d.coded, d.V, d.J, N, A, L, kGroups, 40, variant, 4, rng, e.pi, e.P, e.Q, e.R, H);
      for (int32_t n = 0; n < N; ++n) {
        EXPECT_GT(e.Q[n][n / kPerGroup], 0.999)
            << "variant " << variant << ", seed " << seed << ", individual " << n;
      }
    }
  }
}

TEST(EmIteration, LikelihoodStaysFiniteWhenProductsUnderflow) {
  // One cluster: pi = 1 and P is the sample's allele frequencies, so the log-likelihood is
  // the sum of ln P over all copies, about -1,800 per individual here, while every plain
  // product is far below the smallest double.
  constexpr int32_t N = 4, A = 2, L = 800;
  const Data d = MakeData(N, A, L, 1, 0.0, 0.0, true, 8);
  Estimates e = StartEstimates(d, 0);
  RandomGenerator rng(1);
  EmWorkspace w;
  PrepareEmWorkspace(d.coded, d.V, d.J, N, A, L, 1, w);
  const double LL = EmIteration(0, 'c', 0, rng, w, e.pi, e.P, e.Q, e.R, e.beta);

  double expected = 0.0, product = 1.0;
  for (int32_t n = 0; n < N; ++n) {
    for (int32_t a = 0; a < A; ++a) {
      for (int32_t l = 0; l < L; ++l) {
        const int32_t j = reference::AlleleIndex(d.V[l], d.J[l], d.X[n][a][l]);
        expected += std::log(e.P[0][l][j]);
        if (n == 0) product *= e.P[0][l][j];
      }
    }
  }
  EXPECT_EQ(product, 0.0);  // the plain computation would give -inf
  ASSERT_TRUE(std::isfinite(LL));
  EXPECT_NEAR(LL, expected, 1e-9 * std::fabs(expected));
}

TEST(EmIteration, LogSumExp) {
  struct Case {
    std::vector<double> t;
    double expected;
  };
  const Case cases[] = {
      {{-kInf, -kInf}, -kInf},                  // impossible under every cluster
      {{-kInf, std::log(0.5)}, std::log(0.5)},  // impossible under one cluster only
      {{-1000.0, -1000.0}, -1000.0 + std::log(2.0)},
      {{-2000.0, -2000.0 + std::log(3.0)}, -2000.0 + std::log(4.0)},
      {{std::log(0.2), std::log(0.3)}, std::log(0.5)},
      {{-5.25}, -5.25},
  };
  for (const Case& c : cases) {
    const double got = LogSumExp(c.t.data(), static_cast<int32_t>(c.t.size()));
    if (std::isinf(c.expected)) {
      EXPECT_EQ(got, c.expected);
    } else {
      EXPECT_NEAR(got, c.expected, 1e-15 * std::fabs(c.expected) + 1e-15);
    }
  }
}

TEST(EmIteration, EmptyClustersAndWhollyMissingLociGetUniformFrequencies) {
  // Three individuals, one-hot on clusters 0, 1, 0 of four: clusters 2 and 3 are empty.
  // Individual 1, alone in cluster 1, has both copies missing at locus 0.
  Data d{3, 2, 3, 4, {}, {}, {}, {}, 0, {}};
  d.X = {{{1, 5, 8}, {2, 5, 9}}, {{-9, 6, 8}, {-9, 6, 8}}, {{3, 7, 9}, {1, 5, -9}}};
  d.coded = CodeGenotypeValues(d.X);
  CodeAlleles(d.coded, d.L, d.V, d.J, d.Jmax);
  d.Q = {{1, 0, 0, 0}, {0, 1, 0, 0}, {1, 0, 0, 0}};
  for (const char variant : {'c', 'a', 's'}) {
    Estimates e = StartEstimates(d, 5);
    RandomGenerator rng(4);
    EmWorkspace w;
    PrepareEmWorkspace(d.coded, d.V, d.J, d.N, d.A, d.L, d.K, w);
    const double LL = EmIteration(0, variant, 5, rng, w, e.pi, e.P, e.Q, e.R, e.beta);
    EXPECT_TRUE(std::isfinite(LL));
    EXPECT_EQ(e.pi[2], 0.0);
    for (int32_t l = 0; l < d.L; ++l) {
      for (int32_t j = 0; j < d.J[l]; ++j) {
        EXPECT_EQ(e.P[2][l][j], 1.0 / d.J[l]);
        EXPECT_EQ(e.P[3][l][j], 1.0 / d.J[l]);
      }
    }
    for (int32_t j = 0; j < d.J[0]; ++j) EXPECT_EQ(e.P[1][0][j], 1.0 / d.J[0]);
    for (int32_t t = 1; t < 8; ++t) EmIteration(t, variant, 5, rng, w, e.pi, e.P, e.Q, e.R, e.beta);
    EXPECT_TRUE(AllFinite(e)) << "variant " << variant;
  }
}

TEST(EmIteration, StochasticDrawAlwaysFindsACluster) {
  struct Case {
    std::vector<double> q;
    int32_t belowHalf, aboveHalf;  // expected cluster for u <= 0.5 and for u > 0.5
  };
  // Rows summing to less than 1 stand in for rounding gone wrong; a u beyond the sum
  // goes to the last cluster of positive probability.
  const Case cases[] = {
      {{0.5, 0.5}, 0, 1},
      {{0.25, 0.25, 0.0, 0.0}, -1, 1},
      {{0.0, 0.0, 0.0}, 0, 0},
  };
  for (const Case& c : cases) {
    RandomGenerator rng(12), twin(12);
    for (int i = 0; i < 200; ++i) {
      const double u = gsl_rng_uniform_pos(twin.handle());
      const int32_t drawn = DrawCluster(rng, c.q.data(), static_cast<int32_t>(c.q.size()));
      int32_t expected = u <= 0.5 ? c.belowHalf : c.aboveHalf;
      if (expected < 0) expected = u <= 0.25 ? 0 : 1;
      ASSERT_EQ(drawn, expected) << "u = " << u;
    }
  }
}

TEST(FinishAlleleFrequencies, LiftsSmallFrequenciesAndRenormalises) {
  struct Case {
    int32_t Jmax;
    double low, sigma, lift, floor;
  };
  const Case cases[] = {{4, 0.001, 0.001, 0.01, 0.002}, {100, 0.0001, 0.0001, 0.001, 0.0002}};
  // One entry of each kind in both regimes: zero, below the low threshold of either,
  // between the two lows, between low and floor of either, and ordinary.
  const std::vector<double> row0 = {0.0, 0.00005, 0.0005, 0.0015, 0.99795};
  const std::vector<double> row1 = {0.00015, 0.4, 0.59985};
  const std::vector<double> row0Reversed(row0.rbegin(), row0.rend());
  const std::vector<double> row1Reversed(row1.rbegin(), row1.rend());
  for (const Case& c : cases) {
    Vector3D<double> P = {{row0, row1}, {row0Reversed, row1Reversed}};
    const std::vector<int32_t> J = {5, 3};
    RandomGenerator rng(31), twin(31);
    FinishAlleleFrequencies(P, J, c.Jmax, rng);

    // The same rules by hand, drawing from the twin in k, l, j order.
    Vector3D<double> expected = {{row0, row1}, {row0Reversed, row1Reversed}};
    for (auto& cluster : expected) {
      for (auto& locus : cluster) {
        double sum = 0.0;
        for (double& p : locus) {
          if (p < c.low) p = gsl_ran_gaussian(twin.handle(), c.sigma) + c.lift;
          if (p < c.floor) p = c.floor;
          sum += p;
        }
        for (double& p : locus) p *= 1.0 / sum;
      }
    }
    EXPECT_EQ(P, expected) << "Jmax " << c.Jmax;
    EXPECT_EQ(gsl_rng_get(rng.handle()), gsl_rng_get(twin.handle())) << "one draw per lift";
    for (const auto& cluster : P) {
      for (const auto& locus : cluster) {
        double sum = 0.0;
        for (double p : locus) {
          EXPECT_GE(p, c.floor * 0.9);
          sum += p;
        }
        EXPECT_NEAR(sum, 1.0, 1e-15);
      }
    }
  }
  // Jmax below 100: 0.0005 is lifted to about 0.01; from 100 on it is kept.
  Vector3D<double> P = {{row0}};
  RandomGenerator rng(2);
  FinishAlleleFrequencies(P, {5}, 4, rng);
  EXPECT_GT(P[0][0][2], 0.005);
}

TEST(EmIteration, RefusesTablesLargerThanMemory) {
  // Two billion individuals' running sums alone would take 192 GB.
  const Data d = MakeData(4, 2, 3, 4, 0.0, 0.0, true, 3);
  EmWorkspace w;
  EXPECT_EXIT(PrepareEmWorkspace(d.coded, d.V, d.J, 2000000000, 2, 3, 4, w),
              testing::ExitedWithCode(1),
              "^Not enough memory for the EM tables of 4 clusters over 3 loci and 2000000000 "
              "individuals .* - RunEM\n$");
}
