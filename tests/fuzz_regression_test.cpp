// Replays every input the fuzzers keep (the seed corpus and the inputs that once failed)
// through the same checks the fuzz targets run: reader and parser against a literal
// reading of their rules.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "data/messages.h"
#include "fuzz/command_line_check.h"
#include "fuzz/genotype_file_check.h"
#include "fuzz/in_process_run.h"
#include "run_program.h"

namespace {

// The files of tests/fuzz/corpus/<target> and tests/fuzz/regressions/<target>, sorted.
std::vector<std::string> KeptInputs(const std::string& target) {
  std::vector<std::string> files;
  for (const char* folder : {"/tests/fuzz/corpus/", "/tests/fuzz/regressions/"}) {
    const std::filesystem::path dir = std::string(EMCLADE_SOURCE_DIR) + folder + target;
    if (!std::filesystem::is_directory(dir)) continue;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
      if (entry.is_regular_file()) files.push_back(entry.path().string());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

// Some kept inputs once made the routine loop forever: each gets 30 seconds, after which
// the test ends at once, naming the input.
const char* replaying = "";

void OnAlarm(int) {
  const char prefix[] = "kept input did not finish within 30 s: ";
  [[maybe_unused]] ssize_t ignored = write(2, prefix, sizeof(prefix) - 1);
  ignored = write(2, replaying, std::strlen(replaying));
  ignored = write(2, "\n", 1);
  _exit(2);
}

template <typename Check>
void ReplayAll(const std::string& target, Check check) {
  const std::vector<std::string> files = KeptInputs(target);
  EXPECT_FALSE(files.empty()) << "no kept inputs for " << target;
  std::signal(SIGALRM, OnAlarm);
  for (const std::string& file : files) {
    const std::string bytes = ReadFile(file);
    replaying = file.c_str();
    alarm(30);
    EXPECT_EQ(check(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), "") << file;
    alarm(0);
  }
  std::signal(SIGALRM, SIG_DFL);
}

}  // namespace

TEST(FuzzRegressions, GenotypeFileInputs) {
  ReplayAll("genotype_file", CheckGenotypeFileInput);
}

TEST(FuzzRegressions, CommandLineInputs) {
  ReplayAll("command_line", CheckCommandLineInput);
}

TEST(RunEnd, UnwindsOnlyWhileAHandlerIsSet) {
  // Without a handler EndRun is a plain process exit with the code asked for.
  EXPECT_EXIT(EndRun(3), testing::ExitedWithCode(3), "^$");
  EXPECT_EXIT(FailRun("Broken - Somewhere"), testing::ExitedWithCode(1), "^Broken - Somewhere\n$");
  // In-process, the same end becomes a result with the streams captured, and the handler
  // is gone afterwards.
  const InProcessResult run = RunInProcess([] { FailRun("Broken - Somewhere"); });
  EXPECT_TRUE(run.ended);
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, "Broken - Somewhere\n");
  EXPECT_EXIT(EndRun(2), testing::ExitedWithCode(2), "^$");
}
