// Starting memberships: the containers made, the exact sequence of draws of each method
// (replayed from a twin generator with the same seed), the perturbation count, K = 1.
#include <gsl/gsl_randist.h>
#include <gsl/gsl_rng.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cluster/hclustering.h"
#include "cluster/initialisation.h"
#include "data/allele_coding.h"
#include "run_program.h"

namespace {

GenotypeValues RandomTable(unsigned long seed, int32_t N, int32_t A, int32_t L, int32_t alleles) {
  gsl_rng* g = gsl_rng_alloc(gsl_rng_mt19937);
  gsl_rng_set(g, seed);
  GenotypeValues X;
  InitVctr3D(X, N, A, L, 0);
  for (auto& individual : X)
    for (auto& copy : individual)
      for (int32_t& v : copy) v = 1 + static_cast<int32_t>(gsl_rng_uniform_int(g, alleles));
  gsl_rng_free(g);
  return X;
}

struct Start {
  Vector2D<double> Q, R;
  std::vector<double> pi, alpha;
};

Start Initialise(const GenotypeValues& X, int32_t L, int32_t K, char method, RandomGenerator& rng) {
  Start s;
  InitialiseMemberships(CodeGenotypeValues(X), static_cast<int32_t>(X.size()), L, K, method, rng,
                        s.Q, s.pi, s.R, s.alpha);
  return s;
}

// The rows each method should produce, drawn straight from GSL on a twin generator in the
// documented order.
Vector2D<double> ExpectedRows(const GenotypeValues& X, int32_t L, int32_t K, char method,
                              gsl_rng* twin) {
  const int32_t N = static_cast<int32_t>(X.size());
  Vector2D<double> Q(N, std::vector<double>(K, 0.0));
  if (method == 'r') {
    for (int32_t n = 0; n < N; ++n) {
      const double u = gsl_rng_uniform_pos(twin);
      double s = 0.0;
      int32_t k = 0;
      while (!(s < u && u <= s + 1.0 / K)) s += 1.0 / K, ++k;
      Q[n][k] = 1.0;
    }
  } else if (method == 'c') {
    std::vector<int32_t> labels = HClustering(CodeGenotypeValues(X), 6, K, true);
    std::vector<int32_t> individuals(N), clusters(K);
    for (int32_t n = 0; n < N; ++n) individuals[n] = n;
    for (int32_t k = 0; k < K; ++k) clusters[k] = k;
    const int32_t M = PerturbationCount(N, L);
    std::vector<int32_t> moved(M);
    gsl_ran_choose(twin, moved.data(), M, individuals.data(), N, sizeof(int32_t));
    for (int32_t n : moved) {
      int32_t c = 0;
      do {
        gsl_ran_choose(twin, &c, 1, clusters.data(), K, sizeof(int32_t));
      } while (c == labels[n]);
      labels[n] = c;
    }
    for (int32_t n = 0; n < N; ++n) Q[n][labels[n]] = 1.0;
  } else {
    const std::vector<double> alpha(K, 1.0);
    for (int32_t n = 0; n < N; ++n) gsl_ran_dirichlet(twin, K, alpha.data(), Q[n].data());
  }
  return Q;
}

}  // namespace

TEST(InitialiseMemberships, DrawsInDocumentedOrder) {
  struct Case {
    char method;
    int32_t N, L, K;
    unsigned long seed;
  };
  const Case cases[] = {
      {'r', 40, 5, 3, 11},   {'r', 7, 3, 12, 12}, {'r', 100, 2, 7, 13}, {'c', 150, 10, 3, 14},
      {'c', 60, 120, 4, 15}, {'c', 3, 4, 2, 16},  {'c', 5, 6, 9, 17},   {'c', 80, 8, 2, 18},
      {'d', 30, 5, 4, 19},   {'d', 10, 3, 2, 20},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("method ") + c.method + ", seed " + std::to_string(c.seed));
    const GenotypeValues X = RandomTable(c.seed, c.N, 2, c.L, 3);
    RandomGenerator rng(c.seed);
    gsl_rng* twin = gsl_rng_alloc(gsl_rng_ranlxs2);
    gsl_rng_set(twin, c.seed);
    const Start s = Initialise(X, c.L, c.K, c.method, rng);
    EXPECT_EQ(s.Q, ExpectedRows(X, c.L, c.K, c.method, twin));
    // No draw more or less than the replay: both streams continue alike.
    for (int i = 0; i < 3; ++i) EXPECT_EQ(gsl_rng_get(rng.handle()), gsl_rng_get(twin));
    gsl_rng_free(twin);
    // The containers beside Q.
    EXPECT_EQ(s.alpha, std::vector<double>(c.K, 1.0));
    EXPECT_EQ(s.pi, std::vector<double>(c.K, 1.0 / c.K));
    EXPECT_EQ(s.R, Vector2D<double>(c.K, std::vector<double>(c.K, 0.0)));
  }
}

TEST(InitialiseMemberships, RowsOfEachMethod) {
  const GenotypeValues X = RandomTable(5, 150, 2, 10, 4);
  RandomGenerator rng(5);
  // Clustering start: exactly M = 37 individuals leave their hierarchical group.
  const std::vector<int32_t> labels = HClustering(CodeGenotypeValues(X), 6, 4, true);
  const Start c = Initialise(X, 10, 4, 'c', rng);
  int32_t moved = 0;
  for (int32_t n = 0; n < 150; ++n) {
    double sum = 0.0;
    for (double q : c.Q[n]) {
      EXPECT_TRUE(q == 0.0 || q == 1.0);
      sum += q;
    }
    EXPECT_EQ(sum, 1.0);
    moved += c.Q[n][labels[n]] == 0.0;
  }
  EXPECT_EQ(moved, 37);
  // Dirichlet start: positive rows summing to 1.
  const Start d = Initialise(X, 10, 4, 'd', rng);
  for (const std::vector<double>& row : d.Q) {
    double sum = 0.0;
    for (double q : row) {
      EXPECT_GT(q, 0.0);
      sum += q;
    }
    EXPECT_NEAR(sum, 1.0, 1e-12);
  }
}

TEST(InitialiseMemberships, OneClusterGivesAllOnes) {
  const GenotypeValues X = RandomTable(6, 20, 2, 5, 3);
  for (char method : {'r', 'c', 'd'}) {
    SCOPED_TRACE(std::string("method ") + method);
    RandomGenerator rng(6);
    const Start s = Initialise(X, 5, 1, method, rng);
    EXPECT_EQ(s.Q, Vector2D<double>(20, std::vector<double>(1, 1.0)));
    if (method == 'c') {
      // Nothing to perturb with one cluster: the stream is untouched.
      gsl_rng* twin = gsl_rng_alloc(gsl_rng_ranlxs2);
      gsl_rng_set(twin, 6);
      EXPECT_EQ(gsl_rng_get(rng.handle()), gsl_rng_get(twin));
      gsl_rng_free(twin);
    }
  }
}

TEST(PerturbationCount, ShareDependsOnLoci) {
  struct Case {
    int32_t N, L, M;
  };
  // By hand: N x 0.25 (L < 120) or N x 0.05 (L >= 120), truncated, at least 1.
  const Case cases[] = {{3, 10, 1},    {150, 120, 7}, {150, 10, 37}, {150, 119, 37},
                        {150, 500, 7}, {4, 120, 1},   {20, 10, 5},   {1, 1, 1}};
  for (const Case& c : cases) {
    EXPECT_EQ(PerturbationCount(c.N, c.L), c.M) << "N " << c.N << ", L " << c.L;
  }
}

TEST(InitialiseMemberships, RunsFinishWithEveryStartingMethod) {
  // Through the program: one cluster with the clustering start used to draw forever.
  const std::string dir = MakeTempDir();
  WriteFile(dir + "/x.str", "1 2 1 1\n2 2 1 3\n3 3 2 2\n1 1 3 3\n2 1 2 1\n3 2 1 1\n");
  for (const char* method : {"-mc", "-mr", "-md"}) {
    for (const char* K : {"-K1", "-K2", "-K3"}) {
      const ProgramResult r = RunProgram(
          {"-Dl", "-Fx.str", "-i" + dir, "-o" + dir, "-N3", "-A2", "-L4", K, "-I5", method}, "",
          30.0);
      EXPECT_EQ(r.exitCode, 0) << method << " " << K << ": " << r.err;
      EXPECT_FALSE(r.timedOut);
    }
  }
}
