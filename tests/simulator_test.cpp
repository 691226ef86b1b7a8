// The simulator: its sequence of draws replayed with raw GSL calls on a twin generator, the
// size repair, block membership, the ground-truth layout, its failures, and modes o and s
// run through the real executable.
#include <gmock/gmock.h>
#include <gsl/gsl_randist.h>
#include <gsl/gsl_rng.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iomanip>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/run_driver.h"
#include "data/genotype_file.h"
#include "data/ground_truth_file.h"
#include "data/simulator.h"
#include "run_program.h"

namespace {

GenotypeTable Zeros(int32_t N, int32_t A, int32_t L) {
  GenotypeTable X;
  InitGenotypeTable(X, N, A, L);
  return X;
}

GenotypeValues ZeroValues(int32_t N, int32_t A, int32_t L) {
  GenotypeValues X;
  InitVctr3D(X, N, A, L, 0);
  return X;
}

// ---- The simulation written out literally with raw GSL calls -------------------------

struct ReferenceModel {
  std::vector<double> w;
  std::vector<int32_t> n;
  std::vector<std::vector<std::vector<double>>> P;
  bool repairedWithoutDraw = false;
};

ReferenceModel ReferenceDrawModel(gsl_rng* r, int32_t N, int32_t L, const std::vector<int32_t>& J,
                                  int32_t K) {
  ReferenceModel m;
  std::vector<double> alpha(K, 8.0);
  m.w.assign(K, 0.0);
  gsl_ran_dirichlet(r, K, alpha.data(), m.w.data());
  m.n.assign(K, 0);
  int32_t sum = 0;
  for (int32_t k = 0; k < K; ++k) {
    m.n[k] = static_cast<int32_t>(m.w[k] * N + 0.5);
    sum += m.n[k];
  }
  int32_t e = sum - N;
  if (e > 0) {
    bool someExceeds = false;
    for (int32_t k = 0; k < K; ++k) someExceeds = someExceeds || m.n[k] > e;
    if (someExceeds) {
      for (;;) {
        const int32_t k = static_cast<int32_t>(gsl_rng_uniform_int(r, K));
        if (m.n[k] > e) {
          m.n[k] -= e;
          break;
        }
      }
    } else {
      m.repairedWithoutDraw = true;
      for (; e > 0; --e) {
        int32_t biggest = 0;
        for (int32_t k = 1; k < K; ++k) {
          if (m.n[k] > m.n[biggest]) biggest = k;
        }
        --m.n[biggest];
      }
    }
  } else if (e < 0) {
    const int32_t k = static_cast<int32_t>(gsl_rng_uniform_int(r, K));
    m.n[k] -= e;
  }
  for (int32_t k = 0; k < K; ++k) m.w[k] = static_cast<double>(m.n[k]) / N;

  std::vector<std::vector<double>> rows(L);
  for (int32_t l = 0; l < L; ++l) {
    for (int32_t i = 0; i < J[l]; ++i) rows[l].push_back(i + 1.0);
  }
  m.P.assign(K, std::vector<std::vector<double>>(L));
  for (int32_t k = 0; k < K; ++k) {
    for (int32_t l = 0; l < L; ++l) {
      gsl_ran_shuffle(r, rows[l].data(), J[l], sizeof(double));
      m.P[k][l].assign(J[l], 0.0);
      gsl_ran_dirichlet(r, J[l], rows[l].data(), m.P[k][l].data());
    }
  }
  return m;
}

// The literal categorical rule; a draw that reaches no allele takes the last one of
// positive frequency (allele 0 when none has).
int32_t ReferenceAllele(gsl_rng* r, const std::vector<double>& p) {
  const double u = gsl_rng_uniform_pos(r);
  double s = 0.0;
  for (size_t i = 0; i < p.size(); ++i) {
    if (s < u && u <= s + p[i]) return static_cast<int32_t>(i);
    s += p[i];
  }
  for (size_t i = p.size(); i-- > 0;) {
    if (p[i] > 0.0) return static_cast<int32_t>(i);
  }
  return 0;
}

GenotypeValues ReferenceGenotypes(gsl_rng* r, const ReferenceModel& m, int32_t N, int32_t A,
                                  int32_t L) {
  GenotypeValues X(N, std::vector<std::vector<int32_t>>(A, std::vector<int32_t>(L)));
  for (int32_t ind = 0; ind < N; ++ind) {
    // The cluster whose block holds ind.
    int32_t k = 0;
    int32_t blockEnd = m.n[0];
    while (ind >= blockEnd) blockEnd += m.n[++k];
    for (int32_t a = 0; a < A; ++a) {
      for (int32_t l = 0; l < L; ++l) X[ind][a][l] = ReferenceAllele(r, m.P[k][l]);
    }
  }
  return X;
}

// The ground-truth layout written with iostream manipulators, apart from the program's printf.
std::string ReferenceGroundTruth(const ReferenceModel& m, int32_t N, int32_t A, int32_t L,
                                 const std::vector<int32_t>& J, int32_t K) {
  std::ostringstream out;
  out << std::fixed << std::setprecision(15) << std::setfill('0');
  out << "Number of Individuals: " << N << "\nA: " << A << "\nNumber of Loci: " << L
      << "\nNumber of Alleles per Locus: \n";
  for (int32_t l = 0; l < L; ++l) out << J[l] << "\n";
  out << "Number of Clusters: " << K << "\nWeight of Clusters:\n";
  for (int32_t k = 0; k < K; ++k) out << m.w[k] << "\n";
  out << "Number of Individuals in each Clusters:\n";
  for (int32_t k = 0; k < K; ++k) out << std::setw(4) << m.n[k] << "\n";
  out << "Allele Frequencies:\n";
  for (int32_t k = 0; k < K; ++k) {
    out << "Cluster " << std::setw(2) << k << "\n";
    for (int32_t l = 0; l < L; ++l) {
      out << "Locus " << std::setw(3) << l << "\n";
      for (int32_t i = 0; i < J[l]; ++i) {
        out << "Allele " << std::setw(3) << i << "\t" << m.P[k][l][i] << "\n";
      }
      out << "\n";
    }
    out << "\n";
  }
  return out.str();
}

class Simulator : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = MakeTempDir();
    twin_ = gsl_rng_alloc(gsl_rng_ranlxs2);
  }
  void TearDown() override { gsl_rng_free(twin_); }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  std::string dir_;
  gsl_rng* twin_ = nullptr;
};

struct Dimensions {
  int32_t N, A, L;
  std::vector<int32_t> J;
  int32_t K;
};

}  // namespace

TEST_F(Simulator, DrawSequenceMatchesRawGslReplay) {
  const Dimensions cases[] = {
      {150, 2, 10, std::vector<int32_t>(10, 10), 3},  // the usage text's defaults
      {37, 1, 4, {3, 1, 7, 2}, 5},                    // different allele counts per locus
      {10, 3, 3, {2, 2, 2}, 4},
      {3, 2, 2, {4, 4}, 6},  // N small next to K
      {1, 1, 1, {1}, 1},
      {500, 2, 20, std::vector<int32_t>(20, 5), 8},
      {7, 2, 5, std::vector<int32_t>(5, 3), 12},
  };
  for (unsigned long seed = 1; seed <= 3; ++seed) {
    for (const Dimensions& d : cases) {
      SCOPED_TRACE("seed " + std::to_string(seed) + ", N " + std::to_string(d.N) + ", K " +
                   std::to_string(d.K));
      RandomGenerator rng(seed);
      GenotypeTable X = Zeros(d.N, d.A, d.L);
      SimulateGenotypeData(Path("sim"), rng, d.N, d.A, d.L, d.J, d.K, X);

      gsl_rng_set(twin_, seed);
      const ReferenceModel m = ReferenceDrawModel(twin_, d.N, d.L, d.J, d.K);
      EXPECT_EQ(DecodeGenotypeTable(X), ReferenceGenotypes(twin_, m, d.N, d.A, d.L));
      EXPECT_EQ(ReadFile(Path("simGroundTruth.txt")),
                ReferenceGroundTruth(m, d.N, d.A, d.L, d.J, d.K));
      // Neither more nor fewer draws than the replay.
      EXPECT_EQ(gsl_rng_get(rng.handle()), gsl_rng_get(twin_));
    }
  }
}

TEST_F(Simulator, SizeRepair) {
  // Weights exact in binary (or the documented example), so the rounded sizes are known by
  // hand. delta != 0: one uniform draw over K picks the cluster that takes delta; delta == 0:
  // no draw, the sizes are `sizes` exactly.
  struct Case {
    int32_t N;
    std::vector<double> w;
    std::vector<int32_t> sizes;
    int32_t delta;
  };
  std::vector<double> mixed;  // [1/32, 1/16, 1/32] x 8: sizes [1, 2, 1] x 8 for N = 24
  for (int i = 0; i < 8; ++i) mixed.insert(mixed.end(), {1.0 / 32, 1.0 / 16, 1.0 / 32});
  const Case cases[] = {
      // 3.1, 3.1, 3.1, 2.7 truncated: excess 1, every size exceeds it.
      {10, {0.26, 0.26, 0.26, 0.22}, {3, 3, 3, 2}, -1},
      // 3.9, 3.8, 3.8 truncated: a shortfall of 1.
      {10, {0.34, 0.33, 0.33}, {3, 3, 3}, +1},
      // Sizes 2, 2 sum to N: no draw.
      {4, {0.5, 0.5}, {2, 2}, 0},
      // Sizes 2, 2, 2, 2, excess 2, none above 2: the first two largest give one each.
      {6, {0.25, 0.25, 0.25, 0.25}, {1, 1, 2, 2}, 0},
      // Sizes 1, 2, 1, 2, 0, excess 2: the largest give first.
      {4, {0.125, 0.375, 0.125, 0.375, 0.0}, {1, 1, 1, 1, 0}, 0},
      // Excess 8, taken from the eight clusters of 2.
      {24, mixed, std::vector<int32_t>(24, 1), 0},
      // Sizes all 1, excess 4: clusters 0..3 go empty.
      {20, mixed, {0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("N " + std::to_string(c.N) + ", K " + std::to_string(c.w.size()));
    RandomGenerator rng(11);
    const std::vector<int32_t> sizes = RoundClusterSizes(rng, c.w, c.N);
    gsl_rng_set(twin_, 11);
    std::vector<int32_t> expected = c.sizes;
    if (c.delta != 0) expected[gsl_rng_uniform_int(twin_, c.w.size())] += c.delta;
    EXPECT_EQ(sizes, expected);
    EXPECT_EQ(gsl_rng_get(rng.handle()), gsl_rng_get(twin_));
  }
}

TEST_F(Simulator, SizeRepairEndsWhenNoClusterExceedsTheExcess) {
  // Small N next to large K over many seeds: the repair ends, the sizes sum to N, none is
  // negative, and the whole model still matches the literal replay.
  int withoutDraw = 0;
  const std::vector<int32_t> J = {2};
  for (int32_t N = 1; N <= 6; ++N) {
    for (int32_t K = 1; K <= 14; ++K) {
      for (unsigned long seed = 0; seed < 30; ++seed) {
        RandomGenerator rng(seed);
        SimulatedModel model;
        DrawSimulatedModel(rng, N, 1, J, K, model);
        gsl_rng_set(twin_, seed);
        const ReferenceModel m = ReferenceDrawModel(twin_, N, 1, J, K);
        withoutDraw += m.repairedWithoutDraw ? 1 : 0;
        ASSERT_EQ(model.sizes, m.n) << "N " << N << ", K " << K << ", seed " << seed;
        ASSERT_EQ(model.w, m.w);
        ASSERT_EQ(model.P[K - 1][0], m.P[K - 1][0]);
        int32_t sum = 0;
        for (int32_t size : model.sizes) {
          ASSERT_GE(size, 0);
          sum += size;
        }
        ASSERT_EQ(sum, N);
      }
    }
  }
  EXPECT_GT(withoutDraw, 50);  // the case that used to hang did arise
  // Weights of exactly 1/6 for N = 3 round to sizes of 1 (or 0): an excess of up to 3.
  RandomGenerator rng(5);
  const std::vector<int32_t> sixths = RoundClusterSizes(rng, std::vector<double>(6, 1.0 / 6), 3);
  EXPECT_EQ(sixths.size(), 6u);
  EXPECT_EQ(std::count(sixths.begin(), sixths.end(), 1), 3) << testing::PrintToString(sixths);
  EXPECT_EQ(std::count(sixths.begin(), sixths.end(), 0), 3) << testing::PrintToString(sixths);
}

TEST_F(Simulator, BlockMembershipAndFallbackAllele) {
  // Cluster 0 carries only allele 0, cluster 1 (empty) only allele 1, cluster 2 only allele 2.
  SimulatedModel model;
  model.sizes = {40, 0, 60};
  model.w = {0.4, 0.0, 0.6};
  InitVctr3D(model.P, 3, 2, {3, 3}, 0.0);
  for (int32_t k = 0; k < 3; ++k) {
    for (int32_t l = 0; l < 2; ++l) model.P[k][l][k] = 1.0;
  }
  RandomGenerator rng(8);
  GenotypeTable X = Zeros(100, 2, 2);
  DrawGenotypes(rng, model, 2, 2, {3, 3}, X);
  const GenotypeValues drawn = DecodeGenotypeTable(X);
  for (int32_t n = 0; n < 100; ++n) {
    EXPECT_EQ(drawn[n], (Vector2D<int32_t>(2, std::vector<int32_t>(2, n < 40 ? 0 : 2)))) << n;
  }

  // Frequencies summing to 0.5: a uniform above 0.25 gives allele 1, the last of positive
  // frequency, never the out-of-range 4. A row of zeros gives allele 0.
  SimulatedModel shortfall;
  shortfall.sizes = {500};
  shortfall.w = {1.0};
  shortfall.P = {{{0.25, 0.25, 0.0, 0.0}, {0.0, 0.0, 0.0}}};
  RandomGenerator drawing(21);
  GenotypeTable Y = Zeros(500, 1, 2);
  DrawGenotypes(drawing, shortfall, 1, 2, {4, 3}, Y);
  const GenotypeValues drawnY = DecodeGenotypeTable(Y);
  gsl_rng_set(twin_, 21);
  int beyondSum = 0;
  for (int32_t n = 0; n < 500; ++n) {
    const double u = gsl_rng_uniform_pos(twin_);
    beyondSum += u > 0.5 ? 1 : 0;
    EXPECT_EQ(drawnY[n][0][0], u <= 0.25 ? 0 : 1) << n;
    gsl_rng_uniform_pos(twin_);
    EXPECT_EQ(drawnY[n][0][1], 0) << n;
  }
  EXPECT_GT(beyondSum, 100);
}

TEST_F(Simulator, CumulativeDrawMatchesCategoricalDraw) {
  // The simulator's draw over running sums against the literal CategoricalDraw, same stream.
  gsl_rng* shapes = gsl_rng_alloc(gsl_rng_mt19937);
  RandomGenerator literal(31);
  RandomGenerator fast(31);
  std::vector<double> p, c;
  for (int trial = 0; trial < 20000; ++trial) {
    const int32_t m = 1 + static_cast<int32_t>(gsl_rng_uniform_int(shapes, 12));
    p.assign(m, 0.0);
    const std::vector<double> alpha(m, trial % 2 == 0 ? 1.0 : 0.05);
    gsl_ran_dirichlet(shapes, m, alpha.data(), p.data());
    if (trial % 5 == 0) p[gsl_rng_uniform_int(shapes, m)] = 0.0;  // zero categories, short sums
    if (trial % 7 == 0) p[0] = 0.0;
    c.assign(m, 0.0);
    RunningSums(p.data(), m, c.data());
    ASSERT_EQ(CategoricalDrawCumulative(fast, c.data(), m), CategoricalDraw(literal, p))
        << "trial " << trial;
  }
  gsl_rng_free(shapes);
}

TEST_F(Simulator, OneAlleleGivesZerosAndCertainFrequencies) {
  RandomGenerator rng(4);
  GenotypeTable X = Zeros(30, 2, 3);
  SimulateGenotypeData(Path("one"), rng, 30, 2, 3, {1, 1, 1}, 3, X);
  EXPECT_EQ(DecodeGenotypeTable(X), ZeroValues(30, 2, 3));
  int frequencyLines = 0;
  for (const std::string& line : SplitLines(ReadFile(Path("oneGroundTruth.txt")))) {
    if (line.rfind("Allele 0", 0) == 0) {
      EXPECT_EQ(line, "Allele 000\t1.000000000000000");
      ++frequencyLines;
    }
  }
  EXPECT_EQ(frequencyLines, 9);
}

TEST_F(Simulator, GroundTruthLayoutForTwoLociOneCluster) {
  RandomGenerator rng(6);
  GenotypeTable X = Zeros(5, 2, 2);
  SimulateGenotypeData(Path("lay"), rng, 5, 2, 2, {2, 2}, 1, X);
  std::string text = ReadFile(Path("layGroundTruth.txt"));
  // The drawn frequencies become F after their format is checked.
  const std::regex frequency("\t([01]\\.[0-9]{15})\n");
  std::smatch match;
  std::string rest = text;
  int count = 0;
  while (std::regex_search(rest, match, frequency)) {
    ++count;
    rest = match.suffix();
  }
  EXPECT_EQ(count, 4);
  text = std::regex_replace(text, frequency, "\tF\n");
  // Written out by hand from the layout.
  EXPECT_EQ(text,
            "Number of Individuals: 5\n"
            "A: 2\n"
            "Number of Loci: 2\n"
            "Number of Alleles per Locus: \n"
            "2\n"
            "2\n"
            "Number of Clusters: 1\n"
            "Weight of Clusters:\n"
            "1.000000000000000\n"
            "Number of Individuals in each Clusters:\n"
            "0005\n"
            "Allele Frequencies:\n"
            "Cluster 00\n"
            "Locus 000\n"
            "Allele 000\tF\n"
            "Allele 001\tF\n"
            "\n"
            "Locus 001\n"
            "Allele 000\tF\n"
            "Allele 001\tF\n"
            "\n"
            "\n");
}

TEST_F(Simulator, WeightsAndSizesAsPrinted) {
  // Hand-computed: 52/150, 48/150 and 50/150 to 15 decimals; sizes padded to 4 digits.
  SimulatedModel model;
  model.sizes = {52, 48, 50};
  model.w = {52 / 150.0, 48 / 150.0, 50 / 150.0};
  InitVctr3D(model.P, 3, 1, {1}, 1.0);
  WriteGroundTruthFile(Path("w.txt"), 150, 2, 1, {1}, 3, model);
  const std::vector<std::string> lines = SplitLines(ReadFile(Path("w.txt")));
  ASSERT_GE(lines.size(), 13u);
  EXPECT_EQ(std::vector<std::string>(lines.begin() + 6, lines.begin() + 13),
            (std::vector<std::string>{"Weight of Clusters:", "0.346666666666667",
                                      "0.320000000000000", "0.333333333333333",
                                      "Number of Individuals in each Clusters:", "0052", "0048"}));
  model.sizes = {12345, 1, 0};
  WriteGroundTruthFile(Path("w.txt"), 12346, 2, 1, {1}, 3, model);
  EXPECT_THAT(ReadFile(Path("w.txt")),
              testing::HasSubstr("Clusters:\n12345\n0001\n0000\nAllele Frequencies:\n"));

  // Drawn models of N = 150, K = 3: the sizes sum to 150 and each weight is size / 150.
  for (unsigned long seed = 1; seed <= 20; ++seed) {
    RandomGenerator rng(seed);
    GenotypeTable X = Zeros(150, 1, 1);
    SimulateGenotypeData(Path("d"), rng, 150, 1, 1, {2}, 3, X);
    const std::vector<std::string> drawn = SplitLines(ReadFile(Path("dGroundTruth.txt")));
    int32_t sum = 0;
    for (int k = 0; k < 3; ++k) {
      const int32_t size = std::atoi(drawn[11 + k].c_str());
      char weight[32];
      std::snprintf(weight, sizeof(weight), "%.15f", size / 150.0);
      EXPECT_EQ(drawn[7 + k], weight) << "seed " << seed;
      EXPECT_EQ(drawn[11 + k].size(), 4u);
      sum += size;
    }
    EXPECT_EQ(sum, 150) << "seed " << seed;
  }
}

TEST_F(Simulator, FailuresEndTheRunWithOneLine) {
  struct Case {
    int32_t N, A, L;
    std::vector<int32_t> J;
    int32_t K;
    GenotypeTable X;
    std::string message;
  };
  const Case cases[] = {
      {2, 1, 1, {}, 2, Zeros(2, 1, 1), "Initialize J and X first"},
      {2, 1, 1, {3}, 2, {}, "Initialize J and X first"},
      {2, 1, 1, {3}, 0, Zeros(2, 1, 1), "Cannot simulate 0 clusters \\(1 to 16777215\\)"},
      {2,
       1,
       1,
       {3},
       16777216,
       Zeros(2, 1, 1),
       "Cannot simulate 16777216 clusters \\(1 to 16777215\\)"},
      {2, 1, 2, {3, 0}, 2, Zeros(2, 1, 2), "Cannot simulate 0 alleles at locus 2"},
      {3,
       1,
       2,
       {3, 3},
       2,
       Zeros(2, 1, 2),
       "Genotype table is not 3 x 1 x 2 or J has not 2 entries"},
      {2, 1, 2, {3}, 2, Zeros(2, 1, 2), "Genotype table is not 2 x 1 x 2 or J has not 2 entries"},
      {2, 0, 2, {3, 3}, 2, Zeros(2, 1, 2), "Cannot simulate a table of 2 x 0 x 2 alleles"},
  };
  for (const Case& c : cases) {
    EXPECT_EXIT(
        {
          RandomGenerator rng(1);
          GenotypeTable X = c.X;
          SimulateGenotypeData(Path("f"), rng, c.N, c.A, c.L, c.J, c.K, X);
        },
        testing::ExitedWithCode(1), "^" + c.message + " - SimulateGenotypeData\n$");
  }
  EXPECT_EXIT(
      {
        RandomGenerator rng(1);
        GenotypeTable X = Zeros(4, 1, 2);
        SimulateGenotypeData(Path("no/such/sim.txt"), rng, 4, 1, 2, {2, 2}, 2, X);
      },
      testing::ExitedWithCode(1),
      "^Cannot open file " + Path("no/such/sim.txtGroundTruth.txt") + " - SimulateGenotypeData\n$");
  // A file size limit makes the writes fail part of the way.
  EXPECT_EXIT(
      {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit;
        limit.rlim_cur = limit.rlim_max = 2000;
        setrlimit(RLIMIT_FSIZE, &limit);
        RandomGenerator rng(1);
        GenotypeTable X = Zeros(4, 1, 50);
        SimulateGenotypeData(Path("big"), rng, 4, 1, 50, std::vector<int32_t>(50, 10), 2, X);
      },
      testing::ExitedWithCode(1),
      "^Cannot write file " + Path("bigGroundTruth.txt") + " - SimulateGenotypeData\n$");
}

TEST_F(Simulator, ModesThroughTheProgram) {
  struct Case {
    std::vector<std::string> extra;  // besides -Fsim.txt -N20 -A2 -L5 -K3
    bool outputFolder;               // -o the test folder, or run in it
    int exitCode;
    std::string err;
  };
  const Case cases[] = {
      {{"-Do", "-I1000"}, true, 0, ""},
      {{"-Do", "-I0"}, true, 0, ""},
      {{"-Do", "-I-3", "-j4"}, false, 0, ""},
      {{"-Ds", "-I10"}, true, 0, ""},
      {{"-Do", "-I5", "-omissing/folder"},
       false,
       1,
       "Cannot open file missing/folder/sim.txtGroundTruth.txt - SimulateGenotypeData\n"},
  };
  for (const Case& c : cases) {
    const std::string dir = MakeTempDir();
    std::vector<std::string> args = {"-Fsim.txt", "-N20", "-A2", "-L5", "-K3"};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    if (c.outputFolder) args.push_back("-o" + dir);
    const ProgramResult r = RunProgram(args, dir);
    SCOPED_TRACE(testing::PrintToString(args));
    EXPECT_EQ(r.exitCode, c.exitCode);
    // Mode s goes on to the analysis, whose warnings are not this test's concern.
    if (c.extra[0] != "-Ds") {
      EXPECT_EQ(r.err, c.err);
    }
    if (c.exitCode != 0) continue;
    EXPECT_EQ(SplitLines(ReadFile(dir + "/sim.txt")).size(), 40u);
    EXPECT_THAT(ReadFile(dir + "/sim.txtGroundTruth.txt"),
                testing::StartsWith("Number of Individuals: 20\nA: 2\nNumber of Loci: 5\n"));
    if (c.extra[0] == "-Do") {
      std::set<std::string> files;
      for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        files.insert(entry.path().filename().string());
      }
      EXPECT_EQ(files, (std::set<std::string>{"sim.txt", "sim.txtGroundTruth.txt"}));
      EXPECT_EQ(r.out, "");
    }
  }
}

TEST_F(Simulator, ModeOFileReadsBackInModeL) {
  RunSettings settings;
  settings.mode = 'o';
  settings.dataFileName = "sim.txt";
  settings.outputFolder = dir_;
  settings.individualCount = 25;
  settings.ploidy = 3;
  settings.locusCount = 7;
  settings.clusterCount = 4;
  settings.simulatedAlleleCount = 6;
  ASSERT_EQ(RunEstimation(settings, 99), 0);

  RandomGenerator rng(99);
  GenotypeTable simulated = Zeros(25, 3, 7);
  SimulateGenotypeData(Path("again"), rng, 25, 3, 7, std::vector<int32_t>(7, 6), 4, simulated);
  GenotypeTable loaded = Zeros(25, 3, 7);
  ASSERT_TRUE(LoadGenotypeDataFromStructureFile(Path("sim.txt"), loaded, 25, 3, 7, 0, 0));
  EXPECT_EQ(DecodeGenotypeTable(loaded), DecodeGenotypeTable(simulated));
  EXPECT_EQ(ReadFile(Path("sim.txtGroundTruth.txt")), ReadFile(Path("againGroundTruth.txt")));

  const ProgramResult r = RunProgram(
      {"-Dl", "-Fsim.txt", "-i" + dir_, "-o" + dir_, "-N25", "-A3", "-L7", "-K4", "-I1"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.err, "");
}
