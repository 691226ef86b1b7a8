// --bootstrap: the resampled table against a literal copy of the drawn loci; through the
// executable, best/K<K>.Q_se and q_se_mean, the same bytes on 1, 2, 3 and 8 threads and from
// shards gathered by collect, aligned labels (small errors on clear clusters), and refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>

#include "data/population_sample.h"
#include "run_program.h"
#include "study/bootstrap.h"
#include "sweep_folders.h"

namespace {

PopulationSample Sample(int32_t N, int32_t L, int32_t fewest, int32_t most) {
  PopulationSampleSettings settings;
  settings.N = N;
  settings.L = L;
  settings.K = 3;
  settings.fewestAlleles = fewest;
  settings.mostAlleles = most;
  settings.Fst = 0.15;
  settings.admixedShare = 0.3;
  RandomGenerator rng(23);
  PopulationSample sample;
  SimulatePopulationSample(settings, rng, sample);
  return sample;
}

ProgramResult Sweep(const std::string& dir, std::vector<std::string> args) {
  return RunProgram(args, dir, 120.0, EMCLADE_SWEEP_EXE);
}

// The last tab-separated field of every row of summary.tsv after the header.
std::vector<std::string> LastColumn(const std::string& summary) {
  std::vector<std::string> values;
  for (const std::string& line : SplitLines(summary))
    values.push_back(line.substr(line.rfind('\t') + 1));
  return values;
}

}  // namespace

TEST(Bootstrap, ResampledTableHoldsTheDrawnLoci) {
  const GenotypeTable X = Sample(13, 40, 2, 40).X;  // widths 2 to 8 bits, missing copies
  const std::vector<int32_t> loci = BootstrapLoci(BootstrapSeed(7, 3, 0), X.L);
  EXPECT_EQ(loci, BootstrapLoci(BootstrapSeed(7, 3, 0), X.L));
  EXPECT_NE(loci, BootstrapLoci(BootstrapSeed(7, 3, 1), X.L));
  const GenotypeTable Y = ResampleLoci(X, loci);
  const GenotypeValues x = DecodeGenotypeTable(X), y = DecodeGenotypeTable(Y);
  ASSERT_EQ(Y.L, X.L);
  for (int32_t l = 0; l < X.L; ++l) {
    ASSERT_GE(loci[l], 0);
    ASSERT_LT(loci[l], X.L);
    EXPECT_EQ(Y.alleleValues[l], X.alleleValues[loci[l]]);
    for (int32_t n = 0; n < X.N; ++n) {
      for (int32_t a = 0; a < X.A; ++a) EXPECT_EQ(y[n][a][l], x[n][a][loci[l]]) << n << a << l;
    }
  }
}

TEST(Bootstrap, StandardErrorsSameOnAnyThreadsAndFromShards) {
  const std::string dir = MakeTempDir();
  const PopulationSample sample = Sample(60, 150, 2, 2);
  WriteFile(dir + "/in.str", StructureText(sample.X));
  for (const char* model : {"mixture", "admixture"}) {
    SCOPED_TRACE(model);
    const std::vector<std::string> study = {
        "in.str", "--k", "3", "--replicates", "2", "--bootstrap", "5", "--model", model, "--quiet"};
    std::string first;
    for (const char* threads : {"1", "2", "3", "8"}) {
      std::vector<std::string> args = study;
      const std::string out = std::string(model) + threads;
      args.insert(args.end(), {"--threads", threads, "--out", out});
      const ProgramResult sweep = Sweep(dir, args);
      ASSERT_EQ(sweep.exitCode, 0) << sweep.err;
      const std::string se = ReadFile(dir + "/" + out + "/best/K3.Q_se");
      if (first.empty()) first = out;
      EXPECT_EQ(se, ReadFile(dir + "/" + first + "/best/K3.Q_se"));
      EXPECT_EQ(ReadFile(dir + "/" + out + "/summary.tsv"),
                ReadFile(dir + "/" + first + "/summary.tsv"));
    }
    // Layout of .Q; the unmixed individuals' errors small (labels that moved would give about
    // 0.5), the admixed ones' mixture memberships move between replicates.
    const std::vector<std::string> rows = SplitLines(ReadFile(dir + "/" + first + "/best/K3.Q_se"));
    ASSERT_EQ(rows.size(), 60u);
    for (size_t n = 0; n < rows.size(); ++n) {
      std::istringstream in(rows[n]);
      int32_t fields = 0;
      double largest = 0.0;
      for (double v = 0; in >> v; ++fields) largest = std::max(largest, v);
      EXPECT_EQ(fields, 3) << rows[n];
      const std::vector<double>& truth = sample.ancestry[n];
      if (*std::max_element(truth.begin(), truth.end()) == 1.0) {
        // The admixture model's proportions of an unmixed individual move off 0 and 1 on 150
        // SNPs; still well below a label change.
        EXPECT_LT(largest, std::string(model) == "admixture" ? 0.4 : 0.2) << n;
      }
    }
    const std::vector<std::string> last = LastColumn(ReadFile(dir + "/" + first + "/summary.tsv"));
    ASSERT_EQ(last.size(), 2u);
    EXPECT_EQ(last[0], "q_se_mean");
    EXPECT_GE(std::stod(last[1]), 0.0);
    if (model[0] == 'm') {
      EXPECT_GT(std::stod(last[1]), 0.01);
    }
    EXPECT_NE(ReadFile(dir + "/" + first + "/runs/study.txt").find("\nbootstrap\t5\n"),
              std::string::npos);
    EXPECT_NE(ReadFile(dir + "/" + first + "/report.html").find("--bootstrap 5"),
              std::string::npos);
    // Two shards gathered: the same files.
    const std::string parts = std::string(model) + "_parts";
    for (const char* shard : {"1/2", "2/2"}) {
      std::vector<std::string> args = study;
      args.insert(args.end(), {"--shard", shard, "--out", parts});
      ASSERT_EQ(Sweep(dir, args).exitCode, 0);
    }
    const ProgramResult collect = Sweep(dir, {"collect", parts, "--quiet", "--threads", "2"});
    ASSERT_EQ(collect.exitCode, 0) << collect.err;
    EXPECT_EQ(SweepFolderDifference(dir + "/" + first, dir + "/" + parts), "");
  }
  ASSERT_EQ(
      Sweep(dir, {"in.str", "--k", "2", "--replicates", "1", "--out", "plain", "--quiet"}).exitCode,
      0);
  EXPECT_EQ(LastColumn(ReadFile(dir + "/plain/summary.tsv"))[1], "NA");
  EXPECT_FALSE(FileExists(dir + "/plain/best/K2.Q_se"));
}

TEST(Bootstrap, RefusesBadCounts) {
  const std::string dir = MakeTempDir();
  WriteFile(dir + "/in.str", StructureText(Sample(20, 10, 2, 2).X));
  WriteFile(dir + "/ref.tsv", "i0\tA\ni15\tB\n");
  const std::vector<std::vector<std::string>> cases = {
      {"--bootstrap", "-1"},
      {"--bootstrap", "1"},
      {"--bootstrap", "x"},
      {"--bootstrap", "2", "--supervised", "ref.tsv"}};
  for (const std::vector<std::string>& more : cases) {
    std::vector<std::string> args = {"in.str", "--out", "s"};
    args.insert(args.end(), more.begin(), more.end());
    const ProgramResult result = Sweep(dir, args);
    EXPECT_EQ(result.exitCode, 1) << more[1];
    EXPECT_EQ(SplitLines(result.err).size(), 1u) << result.err;
    EXPECT_EQ(result.err.rfind("emclade-sweep: ", 0), 0u) << result.err;
    EXPECT_NE(result.err.find("--bootstrap"), std::string::npos) << result.err;
  }
}
