// Shared by the tests of the study readers: reading in-process (a failure becomes its
// error line) and the read table written out as text.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "data/study_input.h"
#include "run_program.h"

struct StudyRead {
  bool ok = false;
  StudyData data;
  int exitCode = 0;
  std::string err;  // the error line (with its line end) when not ok
  std::string out;
};

StudyRead ReadInProcess(const std::string& path, const ReaderOptions& options = ReaderOptions());

// One line per individual: "name population | values of copy 0 | values of copy 1 ...",
// population "-" when none are known, each code written as the value it stands for.
std::string TableText(const StudyData& data);

// "" when the two tables are the same bit for bit (shape, layout, codes, values), else the
// first difference.
std::string TableDifference(const GenotypeTable& a, const GenotypeTable& b);

// A fixture with a fresh folder of its own for the files a test writes.
class ReaderFilesTest : public testing::Test {
 protected:
  void SetUp() override { dir_ = MakeTempDir(); }
  // Writes text to dir_/name; returns the path.
  std::string Write(const std::string& name, const std::string& text) {
    const std::string path = dir_ + "/" + name;
    WriteFile(path, text);
    return path;
  }
  std::string dir_;
};
