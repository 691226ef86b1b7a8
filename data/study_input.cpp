#include "data/study_input.h"

#include <fstream>
#include <sstream>

#include "data/allele_coding.h"
#include "data/messages.h"

// A first reader: a plain file of values, one row per allele copy, ploidy from the options
// (default 2). The format readers replace it.
StudyData ReadStudyInput(const std::string& path, const ReaderOptions& options) {
  std::ifstream in(path);
  if (!in) FailRun("emclade-sweep: " + path + ": cannot open the file");
  const int32_t A = options.ploidy > 0 ? options.ploidy : 2;
  std::vector<std::vector<int32_t>> rows;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream tokens(line);
    std::vector<int32_t> row;
    int32_t v = 0;
    while (tokens >> v) row.push_back(v);
    if (!row.empty()) rows.push_back(row);
  }
  if (rows.empty() || rows.size() % A != 0) {
    FailRun("emclade-sweep: " + path + ": expected a multiple of " + std::to_string(A) + " rows");
  }
  const int32_t N = static_cast<int32_t>(rows.size()) / A;
  const int32_t L = static_cast<int32_t>(rows[0].size());
  AlleleCoder coder(N, A, L, "emclade-sweep");
  for (size_t r = 0; r < rows.size(); ++r) {
    if (static_cast<int32_t>(rows[r].size()) != L) {
      FailRun("emclade-sweep: " + path + ": line " + std::to_string(r + 1) + ": expected " +
              std::to_string(L) + " values");
    }
    std::copy(rows[r].begin(), rows[r].end(), coder.Row());
    coder.AddRow();
  }
  StudyData data;
  coder.Finish(data.X);
  for (int32_t n = 0; n < N; ++n) data.names.push_back(std::to_string(n + 1));
  for (int32_t l = 0; l < L; ++l) data.locusNames.push_back("locus" + std::to_string(l + 1));
  data.format = "STRUCTURE";
  data.detected = std::to_string(N) + " individuals, " + std::to_string(L) + " loci";
  return data;
}
