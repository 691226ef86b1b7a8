// Nothing lost, nothing mixed: a study folder is whole or absent (refused over files, replaced
// whole by --force, a kill at any file leaves the old folder or the new), --resume after a
// kill, writers that refuse to take the place of their input, and collect's checks of what
// it reads. Through the real executable; the kills by its test seam EMCLADE_SWEEP_KILL_AT_FILE.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <regex>

#include "run_program.h"
#include "sweep_folders.h"

namespace fs = std::filesystem;

namespace {

ProgramResult Sweep(const std::string& dir, std::vector<std::string> args, int killAt = 0) {
  if (killAt > 0) setenv("EMCLADE_SWEEP_KILL_AT_FILE", std::to_string(killAt).c_str(), 1);
  setenv("EMCLADE_SWEEP_NO_SYNC", "1", 1);  // a kill keeps what the page cache holds
  ProgramResult result = RunProgram(args, dir, 120.0, EMCLADE_SWEEP_EXE);
  unsetenv("EMCLADE_SWEEP_KILL_AT_FILE");
  unsetenv("EMCLADE_SWEEP_NO_SYNC");
  return result;
}

// The entries of dir/runs/, and the names beside dir's folders (hidden ones included).
std::string Listing(const std::string& dir) {
  std::string text;
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename());
  if (fs::is_directory(dir + "/runs")) {
    for (const auto& entry : fs::directory_iterator(dir + "/runs")) {
      names.push_back("runs/" + entry.path().filename().string());
    }
  }
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) text += name + " ";
  return text;
}

const std::vector<std::string> kOld = {"in.str", "--k", "1-3", "--replicates", "2", "--quiet"};
const std::vector<std::string> kNew = {"in.str", "--k", "1-2", "--replicates", "2", "--quiet"};

std::vector<std::string> With(std::vector<std::string> args, std::vector<std::string> more) {
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

}  // namespace

TEST(StudyFolder, HoldingFilesIsRefusedAndForceReplacesItWhole) {
  const std::string dir = ExampleFolder();
  ASSERT_EQ(Sweep(dir, With(kOld, {"--out", "old"})).exitCode, 0);
  ASSERT_EQ(Sweep(dir, With(kNew, {"--out", "new"})).exitCode, 0);
  fs::copy(dir + "/old", dir + "/a", fs::copy_options::recursive);
  const ProgramResult refused = Sweep(dir, With(kNew, {"--out", "a"}));
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_EQ(refused.err,
            "emclade-sweep: a: the folder already holds files: give another --out, or --force to "
            "replace it whole\n");
  EXPECT_EQ(SweepFolderDifference(dir + "/a", dir + "/old"), "");
  ASSERT_EQ(Sweep(dir, With(kNew, {"--out", "a", "--force"})).exitCode, 0);
  EXPECT_EQ(SweepFolderDifference(dir + "/a", dir + "/new"), "");
  EXPECT_EQ(Listing(dir + "/a"), Listing(dir + "/new"));
  EXPECT_EQ(Listing(dir), "a in.str new old ");  // no work or temporary folder left
  // An error found after the input was read leaves no folder behind, whole sweep or part.
  EXPECT_EQ(Sweep(dir, {"in.str", "--k", "40", "--out", "e1"}).exitCode, 1);
  EXPECT_EQ(Sweep(dir, {"in.str", "--k", "1-40", "--runs", "1:1", "--out", "e2"}).exitCode, 1);
  EXPECT_EQ(Listing(dir), "a in.str new old ");
}

TEST(StudyFolder, AKillAtAnyFileLeavesTheOldFolderOrTheNewAndResumeFinishesIt) {
  const std::string dir = ExampleFolder();
  ASSERT_EQ(Sweep(dir, With(kOld, {"--out", "old"})).exitCode, 0);
  ASSERT_EQ(Sweep(dir, With(kNew, {"--out", "new"})).exitCode, 0);
  // Every moment of the sweep's writing: after the n-th file (runs' files included).
  int killed = 0;
  for (int n = 1;; n += n < 16 ? 2 : 1) {  // every other moment among the runs' files
    fs::remove_all(dir + "/a");
    fs::remove_all(dir + "/.a.work");
    fs::copy(dir + "/old", dir + "/a", fs::copy_options::recursive);
    const ProgramResult cut = Sweep(dir, With(kNew, {"--out", "a", "--force"}), n);
    if (cut.exitCode == 0) break;
    ASSERT_EQ(cut.signal, SIGKILL) << n << cut.err;
    ++killed;
    const bool old = SweepFolderDifference(dir + "/a", dir + "/old").empty() &&
                     Listing(dir + "/a") == Listing(dir + "/old");
    const bool fresh = SweepFolderDifference(dir + "/a", dir + "/new").empty() &&
                       Listing(dir + "/a") == Listing(dir + "/new");
    EXPECT_TRUE(old || fresh) << "killed at file " << n << ": " << Listing(dir + "/a");
    if (!fs::exists(dir + "/.a.work") || n % 8 != 1) continue;  // a resume at some of them
    const ProgramResult resumed = Sweep(dir, With(kNew, {"--out", "a", "--force", "--resume"}));
    ASSERT_EQ(resumed.exitCode, 0) << n << resumed.err;
    EXPECT_EQ(SweepFolderDifference(dir + "/a", dir + "/new"), "") << "resumed after file " << n;
    EXPECT_EQ(Listing(dir + "/a"), Listing(dir + "/new"));
  }
  EXPECT_GE(killed, 20);
  // collect too: the old files or the new, never a mix.
  ASSERT_EQ(Sweep(dir, With(kNew, {"--out", "parts", "--runs", "1:1,1:2,2:1,2:2"})).exitCode, 0);
  for (int n = 1; n <= 12; ++n) {
    const ProgramResult cut = Sweep(dir, {"collect", "parts", "--quiet"}, n);
    ASSERT_TRUE(cut.signal == SIGKILL || cut.exitCode == 0) << cut.err;
    EXPECT_TRUE(Listing(dir + "/parts") ==
                    "runs runs/K1.r1 runs/K1.r2 runs/K2.r1 runs/K2.r2 "
                    "runs/study.txt " ||
                SweepFolderDifference(dir + "/parts", dir + "/new").empty())
        << n << Listing(dir + "/parts");
  }
}

TEST(StudyFolder, AFileSizeLimitWhileWritingLeavesNoFolder) {
  const std::string dir = ExampleFolder();
  // 8 KB a file: the runs' files fit, the plots do not.
  std::string command = "ulimit -f 8; exec " + std::string(EMCLADE_SWEEP_EXE);
  for (const std::string& arg : With(kNew, {"--out", "b"})) command += " " + arg;
  const ProgramResult full = RunProgram({"-c", command}, dir, 120.0, "/bin/bash");
  EXPECT_NE(full.exitCode, 0);
  EXPECT_FALSE(fs::exists(dir + "/b"));
  EXPECT_EQ(Sweep(dir, With(kNew, {"--out", "b", "--resume"})).exitCode, 0);  // the runs kept
  EXPECT_TRUE(fs::exists(dir + "/b/report.html"));
}

TEST(StudyFolder, ResumeIsRefusedForAnotherStudyAndAnInterruptedSweepNeedsIt) {
  const std::string dir = ExampleFolder();
  ASSERT_EQ(Sweep(dir, With(kNew, {"--out", "a"}), 6).signal, SIGKILL);  // after the first run
  const ProgramResult again = Sweep(dir, With(kNew, {"--out", "a"}));
  EXPECT_EQ(again.exitCode, 1);
  EXPECT_NE(again.err.find("continue it with --resume (the same command), or start again with "
                           "--force\n"),
            std::string::npos)
      << again.err;
  const ProgramResult other = Sweep(dir, With(kOld, {"--out", "a", "--resume"}));
  EXPECT_EQ(other.exitCode, 1);
  EXPECT_NE(other.err.find("the interrupted sweep there is of another study"), std::string::npos)
      << other.err;
  ASSERT_EQ(Sweep(dir, With(kNew, {"--out", "a", "--resume"})).exitCode, 0);
  const ProgramResult whole = Sweep(dir, With(kNew, {"--out", "a", "--resume"}));
  EXPECT_EQ(whole.out, "emclade-sweep: a/ holds this sweep, whole: nothing to resume\n");
  EXPECT_EQ(Sweep(dir, With(kOld, {"--out", "a", "--resume"})).exitCode, 1);
}

TEST(StudyFolder, NoWriterTakesThePlaceOfItsInput) {
  const std::string dir = ExampleFolder();
  const std::string input = ReadFile(dir + "/in.str");
  fs::create_hard_link(dir + "/in.str", dir + "/link.str");
  fs::create_directory(dir + "/d");
  fs::copy_file(dir + "/in.str", dir + "/d/in.str");
  const struct {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"prepare", "in.str", "--out", "in.str"},
       "emclade-sweep: in.str: --out names the input in.str itself: give another --out\n"},
      {{"prepare", "./in.str", "--out", "link.str"},
       "emclade-sweep: link.str: --out names the input ./in.str itself: give another --out\n"},
      {{"in.str", "--k", "2", "--out", "link.str"},
       "emclade-sweep: link.str: --out names the input in.str itself: give another --out\n"},
      {{"d/in.str", "--k", "2", "--out", "d", "--force"},
       "emclade-sweep: d: the input d/in.str lies in this folder, which the results replace: "
       "give another --out\n"},
  };
  for (const auto& c : cases) {
    const ProgramResult result = Sweep(dir, c.args);
    EXPECT_EQ(result.exitCode, 1) << c.args[1];
    EXPECT_FALSE(fs::exists(dir + "/.d.work"));
    EXPECT_EQ(result.err, c.err);
  }
  EXPECT_EQ(ReadFile(dir + "/in.str"), input);
  EXPECT_EQ(ReadFile(dir + "/d/in.str"), input);
}

TEST(StudyFolder, CollectChecksTheStudyAndEveryNumberOfItsRuns) {
  const std::string dir = ExampleFolder();
  // The same input by three names is one study; its individuals' rows permuted are another.
  ASSERT_EQ(Sweep(dir, With(kNew, {"--out", "p", "--runs", "1:1,2:1"})).exitCode, 0);
  ASSERT_EQ(Sweep(dir, {"./in.str", "--k", "1-2", "--replicates", "2", "--quiet", "--out", "p",
                        "--runs", "1:2"})
                .exitCode,
            0);
  ASSERT_EQ(Sweep(dir, {dir + "/in.str", "--k", "1-2", "--replicates", "2", "--quiet", "--out", "p",
                        "--runs", "2:2"})
                .exitCode,
            0);
  ASSERT_EQ(Sweep(dir, {"collect", "p", "--quiet"}).exitCode, 0);
  std::vector<std::string> lines = SplitLines(ReadFile(dir + "/in.str"));
  std::swap(lines[1], lines[3]);  // two individuals (rows 1-2 and 3-4) swapped
  std::swap(lines[2], lines[4]);
  std::string permuted;
  for (const std::string& line : lines) permuted += line + "\n";
  WriteFile(dir + "/perm.str", permuted);
  const ProgramResult other = Sweep(dir, {"perm.str", "--k", "1-2", "--replicates", "2", "--quiet",
                                          "--out", "p", "--runs", "1:1"});
  EXPECT_EQ(other.exitCode, 1);
  EXPECT_NE(other.err.find("the folder holds runs of another study"), std::string::npos)
      << other.err;

  // Damaged numbers: collect names file and line.
  const struct {
    std::string file;
    std::regex edit;
    std::string with;
    std::string err;
  } cases[] = {
      {"K2.r1/Q.txt", std::regex("^[^ ]+"), "nan", "Q.txt: line 1: expected memberships in [0, 1]"},
      {"K2.r1/Q.txt", std::regex("^[^ ]+"), "-0.5", "Q.txt: line 1: expected memberships in"},
      {"K2.r1/Q.txt", std::regex("^[^ ]+"), "0.001", "Q.txt: line 1: expected memberships summing"},
      {"K2.r1/P.txt", std::regex("^[^ ]+"), "nan", "P.txt: line 1: expected allele frequencies"},
      {"K2.r1/run.tsv", std::regex("\tyes\t[^\t]+\t|\tno\t[^\t]+\t"), "\tyes\t-1\t",
       "run.tsv: line 2: the log-likelihood -1 is not the last of history.txt"},
      {"K2.r1/run.tsv", std::regex("\t[^\t]+$"), "\t0.25 0.75 extra",
       "run.tsv: line 2: expected 2 mixing proportions"},
      {"K2.r1/history.txt", std::regex("^[^\n]+"), "inf", "history.txt: line 1: expected a log"},
  };
  // The log-likelihood edited in run.tsv and history.txt alike: not that of the estimates.
  const std::string loglik = SplitLines(ReadFile(dir + "/p/runs/K2.r1/history.txt")).back();
  for (const char* file : {"run.tsv", "history.txt"}) {
    const std::string path = dir + "/p/runs/K2.r1/" + file;
    std::string text = ReadFile(path);
    text.replace(text.rfind(loglik), loglik.size(), "-100");
    WriteFile(path + ".edited", text);
  }
  for (const auto& c : cases) {
    fs::remove_all(dir + "/q");
    fs::copy(dir + "/p", dir + "/q", fs::copy_options::recursive);
    const std::string path = dir + "/q/runs/" + c.file;
    WriteFile(path, std::regex_replace(ReadFile(path), c.edit, c.with,
                                       std::regex_constants::format_first_only));
    const ProgramResult result = Sweep(dir, {"collect", "q", "--quiet"});
    EXPECT_EQ(result.exitCode, 1) << c.file << " " << c.with;
    EXPECT_NE(result.err.find(c.err), std::string::npos) << result.err;
  }
  fs::remove_all(dir + "/q");
  fs::copy(dir + "/p", dir + "/q", fs::copy_options::recursive);
  for (const char* file : {"run.tsv", "history.txt"}) {
    fs::rename(dir + "/q/runs/K2.r1/" + file + ".edited", dir + "/q/runs/K2.r1/" + file);
  }
  const ProgramResult edited = Sweep(dir, {"collect", "q", "--quiet"});
  EXPECT_NE(edited.err.find("run.tsv: line 2: the log-likelihood -100 is not that of the run's "
                            "estimates on the input, "),
            std::string::npos)
      << edited.err;
  // The input changed after the runs were made.
  fs::rename(dir + "/perm.str", dir + "/in.str");
  const ProgramResult changed = Sweep(dir, {"collect", "p", "--quiet"});
  EXPECT_EQ(changed.err,
            "emclade-sweep: in.str: not the table the runs were made on (its checksum differs from "
            "p/runs/study.txt's): the input changed since\n");
}
