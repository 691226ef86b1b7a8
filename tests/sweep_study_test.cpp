// The study command's runs as a whole: a run is a classic run, known K and partitions are
// recovered, and the files do not depend on the threads.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/result_files.h"
#include "app/run_driver.h"
#include "fuzz/in_process_run.h"
#include "run_program.h"
#include "study/rand_index.h"
#include "study/run_seeds.h"
#include "study/study_files.h"
#include "study/sweep.h"
#include "sweep_data.h"

namespace {

// The membership section of a clustering report (everything before the frequencies).
std::string MembershipSection(const std::string& report) {
  return report.substr(0, report.find("Estimated Allele Frequencies"));
}

// text with the content of every element that opens with `open` (up to the next '<') blanked.
std::string BlankElements(std::string text, const std::string& open) {
  for (size_t at = text.find(open); at != std::string::npos; at = text.find(open, at + 1)) {
    const size_t begin = at + open.size();
    text.erase(begin, text.find('<', begin) - begin);
  }
  return text;
}

// Every file under dir, by relative path, with runs.tsv's seconds column and the report's
// seconds and command (which names --threads) blanked.
std::vector<std::pair<std::string, std::string>> StudyFiles(const std::string& dir) {
  std::vector<std::pair<std::string, std::string>> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
    const std::string name = std::filesystem::relative(entry.path(), dir).string();
    // runs/ holds every run's own record, its seconds among them.
    if (!entry.is_regular_file() || name.rfind("runs/", 0) == 0) continue;
    std::string text = ReadFile(entry.path().string());
    if (name == "runs.tsv") {
      std::string blanked;
      for (const std::string& line : SplitLines(text)) {
        std::vector<std::string> fields;
        size_t begin = 0;
        for (size_t tab; (tab = line.find('\t', begin)) != std::string::npos; begin = tab + 1) {
          fields.push_back(line.substr(begin, tab - begin));
        }
        fields.push_back(line.substr(begin));
        fields.at(7) = "-";
        for (const std::string& f : fields) blanked += f + '\t';
        blanked += '\n';
      }
      text = blanked;
    }
    if (name == "report.html") {
      text = BlankElements(BlankElements(text, "<span class=\"seconds\">"),
                           "<code class=\"command\">");
    }
    files.emplace_back(name, text);
  }
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace

TEST(SweepStudy, EveryRunIsTheClassicRunOfItsSeed) {
  // The classic program on the same file with the run's seed, -ac, -I30 and the same start:
  // its TR.txt memberships equal the run's to every digit written. (The data have no missing
  // genotypes: the Ward starts' dissimilarity is then the classic one; with missing genotypes
  // it is not, see WardStart.TreeOnSharingOverObservedCopies.) And the default start is
  // the classic -mc -aa run whose settling phase (I / 10 iterations) is the run's annealing:
  // 12 iterations for odd replicates (-I120), 15 for even ones (-I150).
  std::vector<int32_t> truth;
  const StudyData data = SimulatedStudy(3, 40, 2, 6, 4, 3, truth);
  const std::string dir = ScratchDir() + "/classic";
  std::filesystem::create_directories(dir);
  WritePlainStudy(data, dir + "/x.txt");
  const struct {
    const char* start;
    char letter, variant;
    int32_t iterations, replicateParity;  // compare the runs of this parity (-1: every run)
  } cases[] = {{"ward", 'c', 'c', 30, -1},
               {"random", 'r', 'c', 30, -1},
               {"dirichlet", 'd', 'c', 30, -1},
               {"ward-anneal", 'c', 'a', 120, 1},
               {"ward-anneal", 'c', 'a', 150, 0}};
  for (const auto& c : cases) {
    SweepSettings settings = TestSettings({1, 2, 3, 4}, 2);
    settings.start = c.start;
    settings.acceleration = "none";
    settings.tolerance = 0.0;
    settings.search = "none";
    settings.maxIterations = c.iterations;
    const StudyRecord study = RunStudy(settings, data);
    for (const RunRecord& run : study.runs) {
      if (c.replicateParity >= 0 && run.replicate % 2 != c.replicateParity) continue;
      SCOPED_TRACE(std::string(c.start) + " K " + std::to_string(run.K) + " r " +
                   std::to_string(run.replicate));
      ASSERT_EQ(run.seed, RunSeed(7, run.K, run.replicate));
      ASSERT_EQ(run.iterations, c.iterations);
      RunSettings classic;
      classic.mode = 'l';
      classic.dataFileName = "x.txt";
      classic.inputFolder = dir;
      classic.outputFolder = dir;
      classic.individualCount = 40;
      classic.locusCount = 6;
      classic.clusterCount = run.K;
      classic.iterationCount = c.iterations;
      classic.initMethod = c.letter;
      classic.emVariant = c.variant;
      const InProcessResult result = RunInProcess([&]() { RunEstimation(classic, run.seed); });
      ASSERT_FALSE(result.ended) << result.err;
      // Only the membership section is compared; the frequencies of most runs are released.
      Vector3D<double> P;
      InitVctr3D(P, run.K, study.L, study.J, 0.0);
      WriteClusteringReport(dir + "/sweep.txt", run.Q, P, study.alleleValues, study.J,
                            run.proportions);
      EXPECT_EQ(MembershipSection(ReadFile(dir + "/sweep.txt")),
                MembershipSection(ReadFile(dir + "/x.txtTR.txt")));
    }
  }
}

TEST(SweepStudy, ChoosesTheTrueKAndRecoversThePartition) {
  // Well separated: 500 individuals at 20 loci of 4 alleles, each cluster's frequencies drawn
  // around its own shuffle of the alleles (the simulator's model); K from 1 to the true K + 1,
  // three replicates each, the default start.
  for (int32_t trueK = 2; trueK <= 6; ++trueK) {
    SCOPED_TRACE("true K " + std::to_string(trueK));
    std::vector<int32_t> truth;
    const StudyData data = SimulatedStudy(100 + trueK, 500, 2, 20, 4, trueK, truth);
    std::vector<int32_t> clusterCounts;
    for (int32_t K = 1; K <= trueK + 1; ++K) clusterCounts.push_back(K);
    const StudyRecord study = RunStudy(TestSettings(clusterCounts, 3), data);
    ASSERT_EQ(study.chosenK, trueK);
    const RunRecord& best = study.runs[study.summaries[trueK - 1].best];
    std::vector<int32_t> assigned(500);
    for (int32_t n = 0; n < 500; ++n) {
      double membership = 0.0;
      assigned[n] = AssignedCluster(best.Q[n].data(), best.order, membership);
    }
    EXPECT_GE(AdjustedRandIndex(assigned, truth), 0.95);
  }
}

TEST(SweepStudy, FilesDoNotDependOnTheThreads) {
  std::vector<int32_t> truth;
  const StudyData data = SimulatedStudy(21, 120, 2, 8, 6, 3, truth);
  SweepSettings settings = TestSettings({1, 2, 3, 4, 5}, 4);
  const std::vector<ThreadPlan> plans = {{1, 1}, {2, 1}, {3, 1}, {8, 1}, {1, 2}, {2, 4}};
  std::vector<std::pair<std::string, std::string>> first;
  for (const ThreadPlan& plan : plans) {
    SCOPED_TRACE(std::to_string(plan.parallelRuns) + " runs x " +
                 std::to_string(plan.engineThreads) + " threads");
    const std::string dir = ScratchDir() + "/threads" + std::to_string(plan.parallelRuns) + "x" +
                            std::to_string(plan.engineThreads);
    WriteStudyFiles(RunStudy(settings, data, &plan), dir);
    const auto files = StudyFiles(dir);
    if (first.empty()) first = files;
    EXPECT_EQ(files, first);
  }
  // And through the program, as a user runs it.
  const std::string dir = ScratchDir() + "/threads-program";
  std::filesystem::create_directories(dir);
  WritePlainStudy(data, dir + "/x.txt");
  std::vector<std::pair<std::string, std::string>> program;
  for (const char* threads : {"1", "2", "3", "8"}) {
    const std::string out = dir + "/out" + threads;
    const ProgramResult r = RunProgram({dir + "/x.txt", "--k", "1-5", "--replicates", "4", "--seed",
                                        "7", "--threads", threads, "--out", out},
                                       "", 120.0, EMCLADE_SWEEP_EXE);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto files = StudyFiles(out);
    if (program.empty()) program = files;
    EXPECT_EQ(files, program) << threads << " threads";
  }
  // The program reads the names the stub makes up; the in-process record has its own, so only
  // the memberships are compared across the two.
  EXPECT_EQ(ReadFile(dir + "/out1/Q/K3.r2.Q"), ReadFile(ScratchDir() + "/threads1x1/Q/K3.r2.Q"));
}

TEST(SweepStudy, SearchesLowerNoRunAndAreTheSameOnAnyThreads) {
  // Every run starts and converges as without a search, so it can only end higher; the
  // files do not depend on the threads; the program refuses an unknown search.
  std::vector<int32_t> truth;
  const StudyData data = SimulatedStudy(23, 100, 2, 8, 5, 4, truth);
  SweepSettings settings = TestSettings({3, 4}, 2);
  settings.search = "none";
  const StudyRecord plain = RunStudy(settings, data);
  for (const char* search : {"reassign", "split-merge"}) {
    settings.search = search;
    std::vector<std::pair<std::string, std::string>> first;
    for (const ThreadPlan& plan : std::vector<ThreadPlan>{{1, 1}, {3, 1}, {2, 8}}) {
      const StudyRecord searched = RunStudy(settings, data, &plan);
      for (size_t i = 0; i < searched.runs.size(); ++i) {
        EXPECT_GE(searched.runs[i].loglik, plain.runs[i].loglik) << search << " " << i;
      }
      const std::string dir = ScratchDir() + "/" + search + std::to_string(plan.parallelRuns) +
                              "x" + std::to_string(plan.engineThreads);
      WriteStudyFiles(searched, dir);
      const auto files = StudyFiles(dir);
      if (first.empty()) first = files;
      EXPECT_EQ(files, first) << search;
    }
  }
  const ProgramResult r =
      RunProgram({"x.txt", "--search", "sideways"}, "", 30.0, EMCLADE_SWEEP_EXE);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err,
            "emclade-sweep: --search: expected none|reassign|split-merge, got \"sideways\"\n");
}
