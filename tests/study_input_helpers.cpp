#include "study_input_helpers.h"

#include <vector>

#include "fuzz/in_process_run.h"

StudyRead ReadInProcess(const std::string& path, const ReaderOptions& options) {
  StudyRead read;
  const InProcessResult run = RunInProcess([&] { read.data = ReadStudyInput(path, options); });
  read.ok = !run.ended;
  read.exitCode = run.exitCode;
  read.err = run.err;
  read.out = run.out;
  return read;
}

std::string TableText(const StudyData& data) {
  const GenotypeTable& X = data.X;
  std::string text;
  std::vector<int32_t> row(X.L);
  for (int32_t n = 0; n < X.N; ++n) {
    text += data.names[n] + " " + (data.populations.empty() ? "-" : data.populations[n]);
    for (int32_t a = 0; a < X.A; ++a) {
      DecodeGenotypeRow(X, n, a, row.data());
      text += " |";
      for (const int32_t v : row) {
        text += ' ';
        text += std::to_string(v);
      }
    }
    text += "\n";
  }
  return text;
}

std::string TableDifference(const GenotypeTable& a, const GenotypeTable& b) {
  if (a.N != b.N || a.A != b.A || a.L != b.L) {
    return "shape " + std::to_string(a.N) + "x" + std::to_string(a.A) + "x" + std::to_string(a.L) +
           " vs " + std::to_string(b.N) + "x" + std::to_string(b.A) + "x" + std::to_string(b.L);
  }
  if (a.width != b.width || a.position != b.position || a.blockOf != b.blockOf) return "layout";
  if (a.alleleValues != b.alleleValues) return "allele values";
  if (a.missingValue != b.missingValue) return "missing values";
  if (a.words != b.words) {
    for (int32_t n = 0; n < a.N; ++n)
      for (int32_t c = 0; c < a.A; ++c)
        for (int32_t l = 0; l < a.L; ++l)
          if (GenotypeCode(a, n, c, l) != GenotypeCode(b, n, c, l))
            return "code of individual " + std::to_string(n + 1) + ", copy " +
                   std::to_string(c + 1) + ", locus " + std::to_string(l + 1);
    return "words";
  }
  return "";
}
