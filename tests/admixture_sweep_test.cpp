// The study command with --model admixture, run as a user runs it: every file of a sweep,
// the model named in its tables, the same files on any thread count and from parts, and
// collect refusing runs of the other model.
#include <gtest/gtest.h>

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
// them to the ancestry proportions (it once stopped where it started, RMSE about 0.2).
TEST(AdmixtureSweep, AdmixedSnpSampleGetsItsAncestryProportions) {
  const std::string dir = MakeTempDir();
  PopulationSampleSettings settings;
  settings.N = 120;
  settings.L = 600;
  settings.K = 2;
  settings.fewestAlleles = settings.mostAlleles = 2;
  settings.Fst = 0.1;
  settings.admixedShare = 0.5;
  RandomGenerator rng(5);
  PopulationSample sample;
  SimulatePopulationSample(settings, rng, sample);
  WriteFile(dir + "/in.str", StructureText(sample.X));
  for (const char* model : {"mixture", "admixture"}) {
    ASSERT_EQ(RunProgram({"in.str", "--k", "2", "--replicates", "1", "--quiet", "--model", model,
                          "--out", model},
                         dir, 120.0, kSweep)
                  .exitCode,
              0);
  }
  auto rmse = [&](const char* model) {
    std::istringstream in(ReadFile(dir + "/" + model + "/best/K2.Q"));
    double same = 0.0, swapped = 0.0;
    for (const std::vector<double>& truth : sample.ancestry) {
      double q0 = 0.0, q1 = 0.0;
      in >> q0 >> q1;
      same += std::pow(q0 - truth[0], 2) + std::pow(q1 - truth[1], 2);
      swapped += std::pow(q1 - truth[0], 2) + std::pow(q0 - truth[1], 2);
    }
    return std::sqrt(std::min(same, swapped) / (2.0 * settings.N));
  };
  const double mixture = rmse("mixture"), admixture = rmse("admixture");
  EXPECT_LT(admixture, 0.1) << mixture;
  EXPECT_LT(admixture, 0.6 * mixture);
}
