// One small sweep made three ways — one process; three shards, then collect; the Snakemake
// workflow (workflow/Snakefile, one job per run) — writes the same files byte for byte (the
// seconds aside). Skipped, with a message, only where snakemake is not installed
// (scripts/install-deps.sh --test installs it, and CI runs this test); ctest label snakemake.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "run_program.h"
#include "sweep_folders.h"

namespace {

// The snakemake on PATH, or "".
std::string FindSnakemake() {
  const char* path = std::getenv("PATH");
  std::stringstream folders(path != nullptr ? path : "");
  for (std::string folder; std::getline(folders, folder, ':');) {
    if (!folder.empty() && FileExists(folder + "/snakemake")) return folder + "/snakemake";
  }
  return "";
}

}  // namespace

TEST(SweepWorkflow, OneProcessShardsAndSnakemakeWriteTheSameFiles) {
  const std::string snakemake = FindSnakemake();
  if (snakemake.empty()) {
    GTEST_SKIP() << "snakemake is not installed (bash scripts/install-deps.sh --test installs it)";
  }
  const std::string dir = MakeTempDir();
  const std::string source = EMCLADE_SOURCE_DIR;
  std::filesystem::copy_file(source + "/examples/example.str", dir + "/in.str");
  WriteFile(dir + "/config.yaml",
            "input: in.str\nout: snake\nk: \"1-3\"\nreplicates: 2\nseed: 1\nprepare: true\n"
            "shards: 0\nthreads_per_job: 1\nemclade_sweep: " EMCLADE_SWEEP_EXE "\n");
  // Snakemake keeps its state in .snakemake of the folder it runs in, and any cache here too.
  setenv("XDG_CACHE_HOME", (dir + "/cache").c_str(), 1);
  const ProgramResult workflow =
      RunProgram({"--snakefile", source + "/workflow/Snakefile", "--configfile", "config.yaml",
                  "--directory", dir, "--cores", "2", "--quiet"},
                 dir, 300.0, snakemake);
  ASSERT_EQ(workflow.exitCode, 0) << workflow.err;
  EXPECT_TRUE(FileExists(dir + "/.snakemake"));
  EXPECT_TRUE(FileExists(dir + "/snake.emc"));  // the prepare job's

  const std::vector<std::string> sweep = {"snake.emc",    "--k", "1-3",
                                          "--replicates", "2",   "--quiet"};
  auto run = [&](std::vector<std::string> args) {
    args.insert(args.begin(), sweep.begin(), sweep.end());
    return RunProgram(args, dir, 120.0, EMCLADE_SWEEP_EXE);
  };
  ASSERT_EQ(run({"--out", "one", "--threads", "2"}).exitCode, 0);
  for (const char* shard : {"3/3", "1/3", "2/3"}) {
    const ProgramResult part = run({"--out", "shards", "--shard", shard, "--threads", "1"});
    ASSERT_EQ(part.exitCode, 0) << part.err;
  }
  const ProgramResult collect =
      RunProgram({"collect", "shards", "--quiet"}, dir, 120.0, EMCLADE_SWEEP_EXE);
  ASSERT_EQ(collect.exitCode, 0) << collect.err;

  EXPECT_GE(SweepFolderFiles(dir + "/one").size(), 20u);
  EXPECT_EQ(SweepFolderDifference(dir + "/one", dir + "/shards"), "");
  EXPECT_EQ(SweepFolderDifference(dir + "/one", dir + "/snake"), "");
}
