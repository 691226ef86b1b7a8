// emclade-sweep --supervised through the executable: reference individuals held at their
// population's cluster (cluster k is the file's population k in best/K<K>.Q), the others
// estimated in their population's cluster; bad supervision files and a differing K refused.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <sstream>

#include "data/population_sample.h"
#include "run_program.h"
#include "sweep_folders.h"

namespace {

// A sample of 3 unmixed populations of 20, 20 and 50 individuals (named i<n>).
PopulationSample Sample() {
  PopulationSampleSettings settings;
  settings.N = 90;
  settings.L = 300;
  settings.K = 3;
  settings.fewestAlleles = settings.mostAlleles = 2;
  settings.Fst = 0.1;
  settings.sizes = {20, 20, 50};
  RandomGenerator rng(5);
  PopulationSample sample;
  SimulatePopulationSample(settings, rng, sample);
  return sample;
}

std::vector<std::vector<double>> ReadQ(const std::string& text) {
  std::vector<std::vector<double>> Q;
  for (const std::string& line : SplitLines(text)) {
    std::istringstream in(line);
    Q.emplace_back();
    for (double q = 0; in >> q;) Q.back().push_back(q);
  }
  return Q;
}

}  // namespace

TEST(Supervised, ReferencesHeldAtTheirPopulationsCluster) {
  const std::string dir = MakeTempDir();
  const PopulationSample sample = Sample();
  WriteFile(dir + "/in.str", StructureText(sample.X));
  // Populations named in the order 2, 0, 1 of the simulation; 10 of each reference, the
  // rest of population 2 estimated.
  std::string supervision;
  for (int32_t p : {2, 0, 1}) {
    for (int32_t i = 0; i < 10; ++i) {
      const int32_t n = (p == 2 ? 40 : 20 * p) + i;
      supervision.append("i").append(std::to_string(n)).append("\tpop");
      supervision.append(std::to_string(p)).append("\n");
    }
  }
  WriteFile(dir + "/ref.tsv", supervision);
  for (const char* model : {"mixture", "admixture"}) {
    SCOPED_TRACE(model);
    const std::string out = std::string("s_") + model;
    const ProgramResult sweep = RunProgram({"in.str", "--supervised", "ref.tsv", "--model", model,
                                            "--replicates", "2", "--out", out, "--quiet"},
                                           dir, 120.0, EMCLADE_SWEEP_EXE);
    ASSERT_EQ(sweep.exitCode, 0) << sweep.err;
    const auto Q = ReadQ(ReadFile(dir + "/" + out + "/best/K3.Q"));
    ASSERT_EQ(Q.size(), 90u);
    const int32_t clusterOf[3] = {1, 2, 0};  // simulated population -> the file's cluster
    for (int32_t n = 0; n < 90; ++n) {
      const int32_t p = n < 20 ? 0 : n < 40 ? 1 : 2;
      // Admixture spreads a little ancestry over the other clusters from 600 copies.
      EXPECT_GT(Q[n][clusterOf[p]], model[0] == 'm' ? 0.9 : 0.7) << n;
      if ((n < 40 && n % 20 < 10) || (n >= 40 && n < 50)) {
        EXPECT_EQ(Q[n][clusterOf[p]], 1.0) << n;  // a reference individual
      }
    }
  }
}

TEST(Supervised, RefusesABadFileOrK) {
  const std::string dir = MakeTempDir();
  WriteFile(dir + "/in.str", StructureText(Sample().X));
  struct Case {
    std::string file;
    std::vector<std::string> more;
    const char* says;
  };
  const std::vector<Case> cases = {
      {"i0\tA\ni99\tB\n", {}, "\"i99\" is not in the input"},
      {"i0\tA\n\tB\n", {}, "\"B\" with no individual"},
      {"i0\tA\ni1\n", {}, "two tab-separated columns"},
      {"i0\tA\ni0\tB\n", {}, "again"},
      {"i0\tA\ni40\tB\n", {"--k", "3"}, "a supervised sweep has K = 2"},
  };
  for (const Case& c : cases) {
    WriteFile(dir + "/ref.tsv", c.file);
    std::vector<std::string> args = {"in.str", "--supervised", "ref.tsv", "--out", "s"};
    args.insert(args.end(), c.more.begin(), c.more.end());
    const ProgramResult result = RunProgram(args, dir, 60.0, EMCLADE_SWEEP_EXE);
    EXPECT_EQ(result.exitCode, 1) << c.says;
    EXPECT_NE(result.err.find(c.says), std::string::npos) << result.err;
    EXPECT_EQ(SplitLines(result.err).size(), 2u) << result.err;  // what was read, the error
  }
}

TEST(Supervised, ClustersNamedByPopulationAndSupervisionRecorded) {
  const std::string dir = MakeTempDir();
  WriteFile(dir + "/in.str", StructureText(Sample().X));
  WriteFile(dir + "/ref.tsv", "i0\tnorth\ni20\tsouth\ni40\twest\n");
  const std::vector<std::string> supervised = {"in.str", "--supervised", "ref.tsv", "--replicates",
                                               "2",      "--quiet"};
  std::vector<std::string> args = supervised;
  args.insert(args.end(), {"--out", "whole"});
  ASSERT_EQ(RunProgram(args, dir, 120.0, EMCLADE_SWEEP_EXE).exitCode, 0);
  const std::string report = ReadFile(dir + "/whole/report.html");
  for (const char* name : {"</span>north", "</span>south", "</span>west", "--supervised ref.tsv"})
    EXPECT_NE(report.find(name), std::string::npos) << name;
  EXPECT_NE(ReadFile(dir + "/whole/runs/study.txt").find("\nsupervision\tnorth\tsouth\twest\n"),
            std::string::npos);
  // In parts: collect names the clusters as well, and takes no unsupervised run.
  args = supervised;
  args.insert(args.end(), {"--shard", "1/1", "--out", "parts"});
  ASSERT_EQ(RunProgram(args, dir, 120.0, EMCLADE_SWEEP_EXE).exitCode, 0);
  const ProgramResult unsupervised =
      RunProgram({"in.str", "--k", "3", "--replicates", "2", "--shard", "1/1", "--out", "parts"},
                 dir, 120.0, EMCLADE_SWEEP_EXE);
  EXPECT_EQ(unsupervised.exitCode, 1);
  EXPECT_NE(unsupervised.err.find("another study"), std::string::npos) << unsupervised.err;
  ASSERT_EQ(RunProgram({"in.str", "--k", "3", "--replicates", "1", "--shard", "1/1", "--out",
                        "plain", "--quiet"},
                       dir, 120.0, EMCLADE_SWEEP_EXE)
                .exitCode,
            0);
  ASSERT_EQ(RunProgram({"collect", "parts", "--quiet"}, dir, 120.0, EMCLADE_SWEEP_EXE).exitCode, 0);
  EXPECT_NE(ReadFile(dir + "/parts/report.html").find("</span>north"), std::string::npos);
  ASSERT_EQ(std::rename((dir + "/plain/runs/K3.r1").c_str(), (dir + "/parts/runs/K3.r9").c_str()),
            0);
  const ProgramResult mixed = RunProgram({"collect", "parts"}, dir, 120.0, EMCLADE_SWEEP_EXE);
  EXPECT_EQ(mixed.exitCode, 1);
  EXPECT_EQ(SplitLines(mixed.err).size(), 1u) << mixed.err;
  EXPECT_NE(mixed.err.find("supervision"), std::string::npos) << mixed.err;
}
