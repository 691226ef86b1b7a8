// The study command with --model admixture, run as a user runs it: every file of a sweep,
// the model named in its tables, the same files on any thread count and from parts, and
// collect refusing runs of the other model.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <sstream>
#include <string>

#include "data/population_sample.h"

#include "run_program.h"
#include "sweep_folders.h"

namespace fs = std::filesystem;

namespace {

const std::string kSweep = EMCLADE_SWEEP_EXE;

ProgramResult Sweep(const std::string& dir, std::vector<std::string> args) {
  for (const char* option : {"--k", "1-3", "--replicates", "2", "--quiet"}) args.push_back(option);
  return RunProgram(args, dir, 120.0, kSweep);
}

}  // namespace

TEST(AdmixtureSweep, EveryFileOnAnyThreadCountAndFromParts) {
  const std::string dir = ExampleFolder();
  const ProgramResult one = Sweep(dir, {"in.str", "--model", "admixture", "--out", "one"});
  ASSERT_EQ(one.exitCode, 0) << one.err;
  ASSERT_EQ(
      Sweep(dir, {"in.str", "--model", "admixture", "--out", "two", "--threads", "2"}).exitCode, 0);
  EXPECT_EQ(SweepFolderDifference(dir + "/one", dir + "/two"), "");
  const ProgramResult mixture = Sweep(dir, {"in.str", "--out", "mixture"});
  ASSERT_EQ(mixture.exitCode, 0) << mixture.err;
  // The same files as the mixture model's sweep, each saying which model made it.
  const auto files = SweepFolderFiles(dir + "/one"),
             mixtureFiles = SweepFolderFiles(dir + "/mixture");
  ASSERT_EQ(files.size(), mixtureFiles.size());
  for (auto a = files.begin(), b = mixtureFiles.begin(); a != files.end(); ++a, ++b) {
    EXPECT_EQ(a->first, b->first);
  }
  const std::vector<std::string> summary = SplitLines(files.at("summary.tsv"));
  const std::vector<std::string> runs = SplitLines(files.at("runs.tsv"));
  ASSERT_EQ(summary.size(), 4u);
  ASSERT_EQ(runs.size(), 7u);
  EXPECT_TRUE(summary[0].ends_with("\tmodel\tcv_error\tcv_se\tq_se_mean") &&
              summary[1].ends_with("\tadmixture\tNA\tNA\tNA"));
  EXPECT_TRUE(runs[6].ends_with("\tadmixture"));
  EXPECT_TRUE(SplitLines(mixtureFiles.at("runs.tsv"))[6].ends_with("\tmixture"));
  EXPECT_NE(files.at("report.html").find("ancestry proportions"), std::string::npos);
  // Parameters: N (K - 1) + K sum_l (J_l - 1), 12 individuals; K 1 and K 2 differ by N + sum.
  auto parameters = [&](int line) {
    std::string row = summary[line];
    for (int field = 0; field < 6; ++field) row = row.substr(row.find('\t') + 1);
    return std::stol(row.substr(0, row.find('\t')));
  };
  EXPECT_EQ(parameters(3) - parameters(2), parameters(2) - parameters(1));
  EXPECT_EQ(parameters(2) - 2 * parameters(1), 12);

  // In two shards, collected: the files of one process.
  for (const char* shard : {"2/2", "1/2"}) {
    const ProgramResult part =
        Sweep(dir, {"in.str", "--model", "admixture", "--out", "parts", "--shard", shard});
    ASSERT_EQ(part.exitCode, 0) << part.err;
  }
  ASSERT_EQ(RunProgram({"collect", "parts", "--quiet"}, dir, 120.0, kSweep).exitCode, 0);
  EXPECT_EQ(SweepFolderDifference(dir + "/one", dir + "/parts"), "");

  // A shard of the mixture model among them: collect refuses to mix the models.
  ASSERT_EQ(
      Sweep(dir, {"in.str", "--model", "admixture", "--out", "mixed", "--shard", "1/2"}).exitCode,
      0);
  ASSERT_EQ(Sweep(dir, {"in.str", "--out", "mixed2", "--shard", "2/2"}).exitCode, 0);
  for (const auto& entry : fs::directory_iterator(dir + "/mixed2/runs")) {
    if (entry.is_directory())
      fs::rename(entry.path(), dir + "/mixed/runs/" + entry.path().filename().string());
  }
  const ProgramResult refused = RunProgram({"collect", "mixed", "--quiet"}, dir, 120.0, kSweep);
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_NE(refused.err.find("a run made for another study"), std::string::npos) << refused.err;

  const ProgramResult unknown = Sweep(dir, {"in.str", "--model", "hidden"});
  EXPECT_EQ(unknown.exitCode, 1);
  EXPECT_EQ(unknown.err,
            "emclade-sweep: --model: expected one of mixture|admixture, got \"hidden\"\n");
}

// On SNPs the mixture run's memberships are 0 or 1; the admixture run must move away from
// them to the ancestry proportions (from 0 or 1 it once stopped where it started, RMSE 0.17).
TEST(AdmixtureSweep, AdmixedSnpSampleGetsItsAncestryProportions) {
  const std::string dir = MakeTempDir();
  PopulationSampleSettings settings;
  settings.N = 300;
  settings.L = 2000;
  settings.K = 3;
  settings.fewestAlleles = settings.mostAlleles = 2;
  settings.Fst = 0.05;
  settings.admixedShare = 0.3;
  RandomGenerator rng(7);
  PopulationSample sample;
  SimulatePopulationSample(settings, rng, sample);
  WriteFile(dir + "/in.str", StructureText(sample.X));
  ASSERT_EQ(RunProgram({"in.str", "--k", "3", "--replicates", "1", "--quiet", "--model",
                        "admixture", "--threads", "2"},
                       dir, 300.0, kSweep)
                .exitCode,
            0);
  std::istringstream in(ReadFile(dir + "/in.sweep/best/K3.Q"));
  std::vector<std::vector<double>> Q(settings.N, std::vector<double>(3));
  for (std::vector<double>& row : Q) in >> row[0] >> row[1] >> row[2];
  double best = 1e300;
  std::vector<int> order = {0, 1, 2};
  do {
    double sum = 0.0;
    for (int32_t n = 0; n < settings.N; ++n) {
      for (int k = 0; k < 3; ++k) sum += std::pow(Q[n][order[k]] - sample.ancestry[n][k], 2);
    }
    best = std::min(best, sum);
  } while (std::next_permutation(order.begin(), order.end()));
  EXPECT_LT(std::sqrt(best / (3.0 * settings.N)), 0.1);
}
