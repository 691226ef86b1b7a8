// The choice of K by cross-validation (--cv): the deviance by hand, the folds against their
// definition, the scoring against a literal copy-by-copy reference, and the study command as
// a user runs it: the true K chosen by both models, the same files on any thread count and
// from shards, a bad --cv refused.
#include "study/cross_validation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>

#include "data/population_sample.h"
#include "data/random.h"
#include "run_program.h"
#include "sweep_data.h"
#include "sweep_folders.h"

namespace {

const std::string kSweep = EMCLADE_SWEEP_EXE;

// A sample of K 3 clearly apart (some genotypes missing), N x L.
PopulationSample Sample(uint64_t seed, int32_t N, int32_t L, int32_t fewest, int32_t most) {
  PopulationSampleSettings settings;
  settings.N = N;
  settings.L = L;
  settings.K = 3;
  settings.Fst = 0.15;
  settings.fewestAlleles = fewest;
  settings.mostAlleles = most;
  settings.missingShare = 0.05;
  RandomGenerator rng(seed);
  PopulationSample sample;
  SimulatePopulationSample(settings, rng, sample);
  return sample;
}

// The held-out deviance of fold v as written: every copy decoded, alleles counted in a map.
double ReferenceScore(const GenotypeTable& X, uint64_t seed, int32_t V, int32_t v,
                      const Vector2D<double>& Q, const Vector3D<double>& P, int64_t& held) {
  const GenotypeValues values = DecodeGenotypeTable(X);
  auto observed = [&](int32_t n, int32_t a, int32_t l) {
    return GenotypeCode(X, n, a, l) < X.alleleValues[l].size() && values[n][a][l] >= 0;
  };
  // The copies of every cluster outside the fold.
  std::vector<std::vector<double>> seen(P.size(), std::vector<double>(X.L, 0.0));
  for (int32_t n = 0; n < X.N; ++n) {
    for (int32_t l = 0; l < X.L; ++l) {
      if (CvFold(seed, n, l, V) == v) continue;
      int32_t m = 0;
      for (int32_t a = 0; a < X.A; ++a) m += observed(n, a, l) ? 1 : 0;
      for (size_t k = 0; k < P.size(); ++k) seen[k][l] += Q[n][k] * m;
    }
  }
  double deviance = 0.0;
  held = 0;
  for (int32_t n = 0; n < X.N; ++n) {
    for (int32_t l = 0; l < X.L; ++l) {
      if (CvFold(seed, n, l, V) != v) continue;
      std::map<uint32_t, int32_t> counts;
      for (int32_t a = 0; a < X.A; ++a) {
        const uint32_t code = GenotypeCode(X, n, a, l);
        if (observed(n, a, l)) ++counts[code];
      }
      if (counts.empty()) continue;
      std::vector<int32_t> c;
      std::vector<double> h;
      for (const auto& [code, count] : counts) {
        double share = 0.0;
        const double J = static_cast<double>(X.alleleValues[l].size());
        for (size_t k = 0; k < P.size(); ++k) {
          share += Q[n][k] * ((seen[k][l] * P[k][l][code] + 1.0) / (seen[k][l] + J));
        }
        c.push_back(count);
        h.push_back(share);
      }
      deviance += GenotypeDeviance(c.data(), h.data(), static_cast<int32_t>(c.size()));
      ++held;
    }
  }
  return deviance;
}

std::string Field(const std::string& line, int index) {
  size_t begin = 0;
  for (int i = 0; i < index; ++i) begin = line.find('\t', begin) + 1;
  return line.substr(begin, line.find('\t', begin) - begin);
}

}  // namespace

TEST(CrossValidation, DevianceByHand) {
  // Two copies of the allele of share 1/2: 2 (2 ln(2 / (2 x 1/2))) = 4 ln 2.
  const int32_t hom[] = {2, 0};
  const double half[] = {0.5, 0.5};
  EXPECT_DOUBLE_EQ(GenotypeDeviance(hom, half, 2), 4.0 * std::log(2.0));
  // A heterozygote at shares 1/4, 3/4: 2 (ln 2 + ln(2/3)); a perfect fit scores 0.
  const int32_t het[] = {1, 1};
  const double skewed[] = {0.25, 0.75};
  EXPECT_DOUBLE_EQ(GenotypeDeviance(het, skewed, 2), 2.0 * (std::log(2.0) + std::log(2.0 / 3.0)));
  EXPECT_EQ(GenotypeDeviance(het, half, 2), 0.0);
  // A tetraploid's three copies of one allele and one of another; a share of 0 is floored.
  const int32_t four[] = {3, 1};
  const double none[] = {0.75, 0.0};
  EXPECT_DOUBLE_EQ(GenotypeDeviance(four, none, 2), 2.0 * std::log(1.0 / (4.0 * kCvShareFloor)));
}

TEST(CrossValidation, FoldsHoldOutEveryObservedGenotypeOnceAndScoreAsWritten) {
  const PopulationSample sample = Sample(5, 40, 30, 2, 6);
  const GenotypeTable& X = sample.X;
  const GenotypeValues values = DecodeGenotypeTable(X);
  const int32_t V = 4, K = 3;
  const uint64_t seed = 17;
  RandomGenerator rng(3);
  Vector2D<double> Q(X.N, std::vector<double>(K));
  for (std::vector<double>& row : Q) DirichletDraw(rng, std::vector<double>(K, 1.0), row.data());
  Vector3D<double> P(K);
  for (int32_t k = 0; k < K; ++k) {
    for (int32_t l = 0; l < X.L; ++l) {
      P[k].emplace_back(X.alleleValues[l].size());
      DirichletDraw(rng, std::vector<double>(P[k][l].size(), 1.0), P[k][l].data());
    }
  }
  std::vector<int32_t> timesHeld(static_cast<size_t>(X.N) * X.L, 0);
  int64_t observed = 0, heldInAll = 0;
  for (int32_t n = 0; n < X.N; ++n) {
    for (int32_t l = 0; l < X.L; ++l) observed += values[n][0][l] >= 0 ? 1 : 0;
  }
  for (int32_t v = 0; v < V; ++v) {
    GenotypeTable masked = X;
    const int64_t held = MaskFold(X, seed, V, v, masked);
    heldInAll += held;
    // Roughly a quarter each (the hash is not exactly even).
    EXPECT_GT(held, observed / V * 3 / 4);
    EXPECT_LT(held, observed / V * 5 / 4);
    const GenotypeValues after = DecodeGenotypeTable(masked);
    for (int32_t n = 0; n < X.N; ++n) {
      for (int32_t l = 0; l < X.L; ++l) {
        const bool out = after[n][0][l] < 0 && values[n][0][l] >= 0;
        timesHeld[static_cast<size_t>(n) * X.L + l] += out ? 1 : 0;
        ASSERT_EQ(out, values[n][0][l] >= 0 && CvFold(seed, n, l, V) == v);
        if (!out) {
          ASSERT_EQ(after[n][1][l], values[n][1][l]);
        }
      }
    }
    double deviance = 0.0, reference = 0.0;
    int64_t referenceHeld = 0;
    EXPECT_EQ(ScoreFold(X, seed, V, v, Q, P, deviance), held);
    reference = ReferenceScore(X, seed, V, v, Q, P, referenceHeld);
    EXPECT_EQ(referenceHeld, held);
    EXPECT_EQ(deviance, reference);  // the same sum in the same order: the same bits
  }
  EXPECT_EQ(heldInAll, observed);
  for (int32_t n = 0; n < X.N; ++n) {
    for (int32_t l = 0; l < X.L; ++l) {
      EXPECT_EQ(timesHeld[static_cast<size_t>(n) * X.L + l], values[n][0][l] >= 0 ? 1 : 0);
    }
  }
}

TEST(CrossValidationSweep, TrueKForBothModelsOnAnyThreadCountAndFromShards) {
  const std::string dir = MakeTempDir();
  StudyData data;
  data.X = Sample(11, 90, 40, 4, 8).X;
  WritePlainStudy(data, dir + "/in.txt");
  auto sweep = [&](std::vector<std::string> args, const char* folds = "3") {
    for (const char* a : {"in.txt", "--k", "1-4", "--replicates", "2", "--quiet", "--cv"}) {
      args.push_back(a);
    }
    args.push_back(folds);
    return RunProgram(args, dir, 120.0, kSweep);
  };
  for (const std::string model : {"mixture", "admixture"}) {
    const ProgramResult one = sweep({"--model", model, "--threads", "1", "--out", model + "1"});
    ASSERT_EQ(one.exitCode, 0) << one.err;
    const std::vector<std::string> summary =
        SplitLines(ReadFile(dir + "/" + model + "1/summary.tsv"));
    ASSERT_EQ(summary.size(), 5u);
    EXPECT_TRUE(summary[0].ends_with("\tchosen\tmodel\tcv_error\tcv_se\tq_se_mean"));
    for (int i = 1; i <= 4; ++i) {
      EXPECT_EQ(Field(summary[i], 13), i == 3 ? "yes" : "no") << model << "\n" << summary[i];
      EXPECT_GT(std::stod(Field(summary[i], 15)), 0.0);
      EXPECT_GT(std::stod(Field(summary[i], 16)), 0.0);
    }
    const std::string report = ReadFile(dir + "/" + model + "1/report.html");
    EXPECT_NE(report.find("The lowest cross-validation error is at <strong>K = 3"),
              std::string::npos);
    EXPECT_NE(report.find("--cv 3"), std::string::npos);
    for (const char* threads : {"2", "3", "8"}) {
      const std::string out = model + threads;
      ASSERT_EQ(sweep({"--model", model, "--threads", threads, "--out", out}).exitCode, 0);
      EXPECT_EQ(SweepFolderDifference(dir + "/" + model + "1", dir + "/" + out), "") << threads;
    }
    // Made in two shards and collected (the fits then made by collect): the same files.
    for (const char* shard : {"1/2", "2/2"}) {
      ASSERT_EQ(sweep({"--model", model, "--out", model + "parts", "--shard", shard}).exitCode, 0);
    }
    const ProgramResult collected =
        RunProgram({"collect", model + "parts", "--quiet", "--threads", "2"}, dir, 120.0, kSweep);
    ASSERT_EQ(collected.exitCode, 0) << collected.err;
    EXPECT_EQ(SweepFolderDifference(dir + "/" + model + "1", dir + "/" + model + "parts"), "");
  }
  // Without --cv the columns say NA and BIC chooses.
  ASSERT_EQ(RunProgram({"in.txt", "--k", "2", "--replicates", "1", "--quiet", "--out", "plain"},
                       dir, 120.0, kSweep)
                .exitCode,
            0);
  EXPECT_TRUE(
      SplitLines(ReadFile(dir + "/plain/summary.tsv"))[1].ends_with("\tmixture\tNA\tNA\tNA"));
  for (const char* folds : {"1", "0"}) {
    const ProgramResult refused = sweep({"--out", "refused"}, folds);
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_EQ(refused.err,
              std::string("emclade-sweep: --cv: expected 2 to 1000 folds, got ") + folds + "\n");
  }
}
