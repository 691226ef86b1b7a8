// Replays every input the study readers' fuzzers keep (the seed corpus and the inputs that
// once failed) through the checks the fuzz targets run.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz/study_readers_check.h"
#include "run_program.h"

namespace {

void ReplayAll(const std::string& corpus, std::string (*check)(const uint8_t* data, size_t size)) {
  std::vector<std::string> files;
  for (const char* folder : {"/tests/fuzz/corpus/", "/tests/fuzz/regressions/"}) {
    const std::filesystem::path dir = std::string(EMCLADE_SOURCE_DIR) + folder + corpus;
    if (!std::filesystem::is_directory(dir)) continue;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
      if (entry.is_regular_file()) files.push_back(entry.path().string());
    }
  }
  std::sort(files.begin(), files.end());
  EXPECT_FALSE(files.empty()) << "no kept inputs for " << corpus;
  for (const std::string& file : files) {
    const std::string bytes = ReadFile(file);
    EXPECT_EQ(check(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), "") << file;
  }
}

TEST(ReaderFuzzRegressions, Structure) {
  ReplayAll("structure", CheckStructureInput);
}
TEST(ReaderFuzzRegressions, Genepop) {
  ReplayAll("genepop", CheckGenepopInput);
}
TEST(ReaderFuzzRegressions, Populations) {
  ReplayAll("populations", CheckPopulationsInput);
}
TEST(ReaderFuzzRegressions, Plink) {
  ReplayAll("plink", CheckPlinkInput);
}
TEST(ReaderFuzzRegressions, Supervision) {
  ReplayAll("supervision", CheckSupervisionInput);
}
TEST(ReaderFuzzRegressions, Projection) {
  ReplayAll("projection", CheckProjectionInput);
}

}  // namespace
