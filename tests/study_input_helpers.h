// Shared by the tests of the study readers: reading in-process (a failure becomes its
// error line) and the read table written out as text.
#pragma once

#include <string>

#include "data/study_input.h"

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
