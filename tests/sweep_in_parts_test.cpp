// A sweep made in parts: runs named by --runs or shares by --shard, from jobs in any order,
// gathered by collect into the files one process writes; what collect refuses; the prepared
// study file as INPUT; and the exact text the parts' records keep.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>

#include "app/sweep_command_line.h"
#include "run_program.h"
#include "study/record_text.h"
#include "study/reproducing_command.h"
#include "study/run_schedule.h"
#include "study/run_seeds.h"
#include "study/run_selection.h"
#include "sweep_folders.h"

namespace fs = std::filesystem;

namespace {

const std::string kSweep = EMCLADE_SWEEP_EXE;

ProgramResult Sweep(const std::string& dir, std::vector<std::string> args) {
  return RunProgram(args, dir, 120.0, kSweep);
}

}  // namespace

TEST(SweepInParts, RunListsInAnyOrderCollectToTheFilesOfOneProcess) {
  const std::string dir = ExampleFolder();
  const std::vector<std::string> sweep = {"--k", "1-3", "--replicates", "2", "--quiet"};
  auto with = [&](std::vector<std::string> args) {
    args.insert(args.end(), sweep.begin(), sweep.end());
    return Sweep(dir, args);
  };
  ASSERT_EQ(with({"in.str", "--out", "one", "--threads", "2"}).exitCode, 0);
  const ProgramResult first = with({"in.str", "--out", "parts", "--runs", "3:2,1:1,2:2"});
  ASSERT_EQ(first.exitCode, 0) << first.err;
  EXPECT_EQ(first.out,
            "emclade-sweep: 3 of 6 runs (K 1-3, 2 replicates) in " +
                first.out.substr(first.out.find(" in ") + 4,
                                 first.out.find(';') - first.out.find(" in ") - 4) +
                "; results in parts/runs/; gather every run with: emclade-sweep collect parts\n");
  ASSERT_EQ(with({"in.str", "--out", "parts", "--runs", "1:2,2:1,3:1", "--threads", "2"}).exitCode,
            0);
  const ProgramResult collect = Sweep(dir, {"collect", "parts/", "--quiet"});
  ASSERT_EQ(collect.exitCode, 0) << collect.err;
  EXPECT_EQ(collect.err, "");
  EXPECT_EQ(SweepFolderDifference(dir + "/one", dir + "/parts"), "");

  // The prepared file gives the same runs; only the report, which names INPUT, differs.
  const ProgramResult prepare = Sweep(dir, {"prepare", "in.str", "--out", "in.emc", "--quiet"});
  ASSERT_EQ(prepare.exitCode, 0) << prepare.err;
  ASSERT_EQ(with({"in.emc", "--out", "emc"}).exitCode, 0);
  EXPECT_EQ(SweepFolderDifference(dir + "/one", dir + "/emc"), "report.html ");
  // Reader options are the prepare step's, not those of a prepared file's users.
  const ProgramResult refused = with({"in.emc", "--out", "x", "--ploidy", "2"});
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_NE(refused.err.find("--ploidy applies to text files"), std::string::npos) << refused.err;
}

TEST(SweepInParts, CollectRefusesWhatIsNotOneWholeSweep) {
  const std::string dir = ExampleFolder();
  const std::vector<std::string> sweep = {"in.str", "--k", "1-2", "--replicates", "2", "--quiet"};
  auto part = [&](const std::string& out, std::vector<std::string> args) {
    args.insert(args.begin(), sweep.begin(), sweep.end());
    args.insert(args.end(), {"--out", out});
    return Sweep(dir, args);
  };
  ASSERT_EQ(part("bad", {"--runs", "1:1,1:2,2:1"}).exitCode, 0);
  ASSERT_EQ(part("other", {"--runs", "2:2", "--seed", "2"}).exitCode, 0);
  const std::string runs = dir + "/bad/runs";
  const std::string missing =
      "emclade-sweep: bad/runs: 1 of 4 runs missing: K2.r2 (make them with --runs 2:2, or "
      "collect what is there with --allow-missing)\n";

  struct Case {
    const char* what;
    std::function<void()> damage, repair;
    std::vector<std::string> args;
    int exitCode;
    std::string err;  // the whole of standard error, or a part of it after "~"
  };
  const Case cases[] = {
      {"a run missing", [] {}, [] {}, {"collect", "bad"}, 1, missing},
      {"the run twice",
       [&] { fs::copy(runs + "/K1.r1", runs + "/K1.r1.old"); },
       [&] { fs::remove_all(runs + "/K1.r1.old"); },
       {"collect", "bad", "--allow-missing"},
       1,
       "emclade-sweep: bad/runs: run K1.r1 is there twice, in K1.r1/ and K1.r1.old/; remove "
       "one\n"},
      {"a run of another study",
       [&] { fs::copy(dir + "/other/runs/K2.r2", runs + "/K2.r2"); },
       [&] { fs::remove_all(runs + "/K2.r2"); },
       {"collect", "bad"},
       1,
       "emclade-sweep: bad/runs/K2.r2: a run made for another study (its settings, supervision or "
       "input differ from bad/runs/study.txt); remove it, or make it again\n"},
      {"truncated memberships",
       [&] { fs::resize_file(runs + "/K1.r2/Q.txt", fs::file_size(runs + "/K1.r2/Q.txt") - 1); },
       [&] {
         fs::remove_all(runs + "/K1.r2");
         ASSERT_EQ(part("bad", {"--runs", "1:2"}).exitCode, 0);
       },
       {"collect", "bad", "--allow-missing", "--quiet"},
       1,
       "emclade-sweep: bad/runs/K1.r2/Q.txt: line 12: the file ends inside this line "
       "(truncated?)\n"},
      {"another study's job into the folder",
       [] {},
       [] {},
       {"in.str", "--k", "1-2", "--replicates", "2", "--seed", "3", "--runs", "2:2", "--out", "bad",
        "--quiet"},
       1,
       "~emclade-sweep: bad/runs/study.txt: line 6: the folder holds runs of another study "
       "(this job's \"seed\" differs)"},
      {"another search into the folder",
       [] {},
       [] {},
       {"in.str", "--k", "1-2", "--replicates", "2", "--search", "split-merge", "--runs", "2:2",
        "--out", "bad", "--quiet"},
       1,
       "~the folder holds runs of another study (this job's \"search\" differs)"},
      {"another acceleration's job into the folder",
       [] {},
       [] {},
       {"in.str", "--k", "1-2", "--replicates", "2", "--acceleration", "none", "--runs", "2:2",
        "--out", "bad", "--quiet"},
       1,
       "~emclade-sweep: bad/runs/study.txt: line 12: the folder holds runs of another study "
       "(this job's \"acceleration\" differs)"},
      {"a run outside the sweep",
       [] {},
       [] {},
       {"in.str", "--k", "1-2", "--runs", "3:1", "--out", "bad"},
       1,
       "emclade-sweep: --runs: run 3:1 is not one of the sweep (K 1-2, replicates 1-10)\n"},
      {"a shard beyond the shares",
       [] {},
       [] {},
       {"in.str", "--k", "1-2", "--shard", "4/3", "--out", "bad"},
       1,
       "emclade-sweep: --shard: expected I/N, share I of N (1 <= I <= N <= 100000), such as 2/8; "
       "got \"4/3\"\n"},
      {"both parts",
       [] {},
       [] {},
       {"in.str", "--k", "1-2", "--shard", "1/3", "--runs", "1:1", "--out", "bad"},
       1,
       "emclade-sweep: --runs and --shard: give one of them, got both\n"},
      {"a folder of no parts",
       [] {},
       [] {},
       {"collect", "in.str"},
       1,
       "emclade-sweep: in.str/runs/study.txt: no such file: expected the runs of a sweep made "
       "with --runs or --shard --out in.str\n"},
  };
  for (const Case& c : cases) {
    c.damage();
    const ProgramResult result = Sweep(dir, c.args);
    EXPECT_EQ(result.exitCode, c.exitCode) << c.what;
    if (c.err.rfind("~", 0) == 0) {
      EXPECT_NE(result.err.find(c.err.substr(1)), std::string::npos)
          << c.what << ": " << result.err;
      EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << c.what;
    } else {
      EXPECT_EQ(result.err, c.err) << c.what;
    }
    c.repair();
  }

  // What is there, collected, says what is missing.
  const ProgramResult some = Sweep(dir, {"collect", "bad", "--allow-missing", "--quiet"});
  ASSERT_EQ(some.exitCode, 0) << some.err;
  EXPECT_EQ(ReadFile(dir + "/bad/missing_runs.tsv"),
            "K\treplicate\tseed\n2\t2\t" + std::to_string(RunSeed(1, 2, 2)) + "\n");
  EXPECT_NE(ReadFile(dir + "/bad/report.html").find("1 of 4 runs are missing</strong> (K2.r2;"),
            std::string::npos);
  EXPECT_EQ(SplitLines(ReadFile(dir + "/bad/runs.tsv")).size(), 4u);
  // Once the last run is there, the list of missing runs goes.
  ASSERT_EQ(part("bad", {"--runs", "2:2"}).exitCode, 0);
  ASSERT_EQ(Sweep(dir, {"collect", "bad", "--quiet"}).exitCode, 0);
  EXPECT_FALSE(FileExists(dir + "/bad/missing_runs.tsv"));
}

TEST(SweepInParts, ShardsShareOutThePlanOnceEach) {
  SweepSettings settings;
  settings.clusterCounts = {1, 2, 5};
  settings.replicates = 4;
  const std::vector<RunRecord> plan = PlanRuns(settings);
  for (int32_t shards : {1, 2, 5, 12, 13}) {
    settings.shards = shards;
    std::vector<int32_t> times(plan.size(), 0);
    size_t least = plan.size(), most = 0;
    for (int32_t shard = 1; shard <= shards; ++shard) {
      settings.shard = shard;
      const std::vector<RunRecord> share = SelectRuns(settings, plan);
      least = std::min(least, share.size());
      most = std::max(most, share.size());
      for (const RunRecord& run : share) {
        const auto i = std::find_if(plan.begin(), plan.end(), [&](const RunRecord& p) {
          return p.K == run.K && p.replicate == run.replicate;
        });
        ASSERT_NE(i, plan.end());
        ++times[i - plan.begin()];
        EXPECT_EQ(run.seed, RunSeed(settings.seed, run.K, run.replicate));
      }
    }
    EXPECT_EQ(times, std::vector<int32_t>(plan.size(), 1)) << shards << " shards";
    EXPECT_LE(most - least, 1u) << shards << " shards";
  }

  struct Parse {
    const char* text;
    bool ok;
    std::vector<RunId> runs;
  };
  const Parse lists[] = {{"3:1,3:2,4:1", true, {{3, 1}, {3, 2}, {4, 1}}},
                         {"4:1,3:2,4:1", true, {{3, 2}, {4, 1}}},
                         {"3:1,", false, {}},
                         {"3", false, {}},
                         {"3:0", false, {}},
                         {"3:1:2", false, {}},
                         {"", false, {}}};
  for (const Parse& p : lists) {
    std::vector<RunId> runs;
    EXPECT_EQ(ParseRunList(p.text, runs), p.ok) << p.text;
    if (p.ok) {
      EXPECT_EQ(runs, p.runs) << p.text;
    }
  }
  int32_t shard = 0, shards = 0;
  EXPECT_TRUE(ParseShard("2/8", shard, shards));
  EXPECT_EQ(shard * 10 + shards, 28);
  for (const char* bad : {"0/3", "4/3", "1/", "/3", "1-3", "1/3/4"}) {
    EXPECT_FALSE(ParseShard(bad, shard, shards)) << bad;
  }
}

TEST(SweepInParts, RecordsKeepEveryBitAndEveryCharacter) {
  const double values[] = {0.1,
                           -1234.5678,
                           1.0 / 3.0,
                           1e-300,
                           5e-324,
                           -0.0,
                           std::numeric_limits<double>::max(),
                           std::numeric_limits<double>::infinity(),
                           -std::numeric_limits<double>::infinity()};
  for (double value : values) {
    double back = 0.0;
    ASSERT_TRUE(ParseExactReal(ExactReal(value), back)) << ExactReal(value);
    EXPECT_EQ(std::memcmp(&back, &value, sizeof(double)), 0) << ExactReal(value);
  }
  double nan = 0.0;
  EXPECT_TRUE(ParseExactReal(ExactReal(std::nan("")), nan) && std::isnan(nan));
  for (const char* bad : {"", "1.5x", "+1", " 1", "1 "}) {
    EXPECT_FALSE(ParseExactReal(bad, nan)) << bad;
  }

  const std::string awkward = "a\tb\\n\nc\r";
  std::string back;
  EXPECT_EQ(EscapeField(awkward), "a\\tb\\\\n\\nc\\r");
  EXPECT_TRUE(UnescapeField(EscapeField(awkward), back));
  EXPECT_EQ(back, awkward);
  EXPECT_FALSE(UnescapeField("a\\x", back));
  EXPECT_FALSE(UnescapeField("a\\", back));

  SweepSettings s;
  s.inputPath = "my data/it's.str";
  s.clusterCounts = {1, 2, 3, 5};
  s.replicates = 3;
  s.start = "ward";
  s.tolerance = 0.0;
  s.reader.ploidy = 2;
  s.threads = 7;
  s.shards = 2;
  s.shard = 1;
  EXPECT_EQ(ReproducingCommand(s),
            "emclade-sweep 'my data/it'\\''s.str' --k 1,2,3,5 --replicates 3 --seed 1 --start ward "
            "--max-iterations 10000 --tolerance 0 --acceleration squarem --stop absolute "
            "--ploidy 2");
}
