#include "fuzz/study_readers_check.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string_view>
#include <vector>

#include "data/genepop_file.h"
#include "data/plink_bed_file.h"
#include "data/populations_file.h"
#include "data/structure_file.h"
#include "data/structure_layout.h"
#include "data/supervision_file.h"
#include "fuzz/in_process_run.h"
#include "study/projection_file.h"

namespace {

// The error line of a run that ended, checked: exit code 1, one line naming file, nothing on
// standard output.
std::string EndProblem(const InProcessResult& run, const std::string& file) {
  if (run.exitCode != 1) return "exit code " + std::to_string(run.exitCode);
  if (!run.out.empty()) return "standard output: " + run.out;
  const std::string prefix = "emclade-sweep: " + file + ": ";
  if (run.err.compare(0, prefix.size(), prefix) != 0) return "error line: " + run.err;
  if (run.err.find('\n') != run.err.size() - 1) return "not one line: " + run.err;
  return "";
}

// Names, populations and loci of the right counts, every code within its locus's codes.
std::string ShapeProblem(const StudyData& data) {
  const GenotypeTable& X = data.X;
  if (X.N < 1 || X.A < 1 || X.L < 1) return "an empty table";
  if (data.names.size() != static_cast<size_t>(X.N)) return "names";
  if (!data.populations.empty() && data.populations.size() != static_cast<size_t>(X.N))
    return "populations";
  if (data.locusNames.size() != static_cast<size_t>(X.L)) return "locus names";
  for (int32_t n = 0; n < X.N; ++n)
    for (int32_t a = 0; a < X.A; ++a)
      for (int32_t l = 0; l < X.L; ++l)
        if (GenotypeCode(X, n, a, l) > X.alleleValues[l].size())
          return "a code past the missing code";
  return "";
}

std::string Text(const uint8_t* data, size_t size) {
  return std::string(reinterpret_cast<const char*>(data), size);
}

// The lines of text: split at "\n", one "\r" dropped from the end, a byte-order mark
// dropped from the start.
std::vector<std::string> Lines(std::string text) {
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

std::vector<std::string> Tokens(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> tokens;
  std::string t;
  while (in >> t) tokens.push_back(t);
  return tokens;
}

// A whole token as a 32-bit integer.
bool Integer(const std::string& token, int32_t& value) {
  if (token.empty() || token.find_first_not_of("+-0123456789") != std::string::npos) return false;
  if (token.find_first_of("+-", 1) != std::string::npos || token == "+" || token == "-")
    return false;
  errno = 0;
  char* end = nullptr;
  const long long v = std::strtoll(token.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || v < INT32_MIN || v > INT32_MAX) return false;
  value = static_cast<int32_t>(v);
  return true;
}

struct Literal {
  bool ok = false;
  std::vector<std::string> names, populations;
  GenotypeValues values;
};

// The STRUCTURE text read literally with a layout.
Literal ReadStructureLiterally(const std::string& text, const StructureLayout& layout) {
  Literal r;
  const std::vector<std::string> lines = Lines(text);
  std::vector<std::vector<std::string>> records;
  for (size_t i = layout.headerRows; i < lines.size(); ++i) {
    std::vector<std::string> tokens = Tokens(lines[i]);
    if (tokens.empty()) continue;
    if (tokens.size() != static_cast<size_t>(layout.columns)) return r;
    records.push_back(tokens);
  }
  const int32_t A = layout.A, L = layout.L, c = layout.labelColumns;
  const size_t perIndividual = layout.oneRowPerIndividual ? 1 : A;
  if (records.size() % perIndividual != 0) return r;
  for (size_t i = 0; i < records.size(); ++i) {
    const auto& t = records[i];
    const size_t copy = i % perIndividual;
    if (copy == 0) {
      r.names.push_back(c >= 1 ? t[0] : std::to_string(r.names.size() + 1));
      if (layout.populationColumn > 0) r.populations.push_back(t[layout.populationColumn - 1]);
      r.values.emplace_back(A, std::vector<int32_t>(L));
    } else if (layout.namesRepeat && t[0] != r.names.back()) {
      return r;
    }
    for (int32_t j = 0; j < layout.columns - c; ++j) {
      int32_t v = 0;
      if (!Integer(t[c + j], v)) return r;
      const int32_t a = layout.oneRowPerIndividual ? j % A : static_cast<int32_t>(copy);
      const int32_t l = layout.oneRowPerIndividual ? j / A : j;
      r.values.back()[a][l] = v;
    }
  }
  r.ok = true;
  return r;
}

int32_t Choice(uint8_t bits, const int32_t (&choices)[4]) {
  return choices[bits & 3];
}

}  // namespace

std::string CheckStructureInput(const uint8_t* data, size_t size) {
  if (size < 2) return "";
  ReaderOptions options;
  options.headerRows = Choice(data[0], {-1, 0, 1, 2});
  options.labelColumns = Choice(data[0] >> 2, {-1, 0, 1, 2});
  options.ploidy = Choice(data[0] >> 4, {-1, 1, 2, 3});
  options.oneRowPerIndividual = Choice(data[0] >> 6, {-1, -1, 0, 1});
  options.populationColumn = Choice(data[1], {-1, -1, 0, 2});
  const std::string text = Text(data + 2, size - 2);
  const std::string path = "fuzz.str";
  StructureLayout layout;
  const InProcessResult detect =
      RunInProcess([&] { layout = DetectStructureLayout(path, text, options); });
  StudyData read;
  const InProcessResult run = RunInProcess([&] { ReadStructureText(path, text, options, read); });
  if (detect.ended) {
    if (!run.ended || run.err != detect.err) return "detection failed, the read did not fail alike";
    return EndProblem(run, path);
  }
  const Literal literal = ReadStructureLiterally(text, layout);
  if (run.ended) {
    if (literal.ok) return "the literal reading reads it, the reader stopped: " + run.err;
    return EndProblem(run, path);
  }
  if (!literal.ok) return "the reader read what the literal reading refuses";
  if (const std::string p = ShapeProblem(read); !p.empty()) return p;
  if (read.names != literal.names || read.populations != literal.populations)
    return "labels differ";
  if (DecodeGenotypeTable(read.X) != literal.values) return "values differ";
  return "";
}

std::string CheckGenepopInput(const uint8_t* data, size_t size) {
  const std::string text = Text(data, size);
  const std::string path = "fuzz.gen";
  StudyData read;
  const InProcessResult run =
      RunInProcess([&] { ReadGenepopText(path, text, ReaderOptions(), read); });
  if (run.ended) return EndProblem(run, path);
  if (const std::string p = ShapeProblem(read); !p.empty()) return p;
  // Literally: the lines after the first Pop that hold a comma are the individuals, their
  // tokens after the comma the genotypes, each copy's digits its value (0 missing).
  const std::vector<std::string> lines = Lines(text);
  size_t i = 1;
  auto isPop = [](const std::string& line) {
    std::vector<std::string> t = Tokens(line);
    if (t.size() != 1 || t[0].size() != 3) return false;
    for (char& ch : t[0]) ch = static_cast<char>(ch | 0x20);
    return t[0] == "pop";
  };
  while (i < lines.size() && !isPop(lines[i])) ++i;
  const int32_t A = read.X.A, L = read.X.L;
  GenotypeValues values;
  for (++i; i < lines.size(); ++i) {
    if (isPop(lines[i]) || Tokens(lines[i]).empty()) continue;
    const std::vector<std::string> t = Tokens(lines[i].substr(lines[i].find(',') + 1));
    if (t.size() != static_cast<size_t>(L)) return "an individual of another genotype count";
    values.emplace_back(A, std::vector<int32_t>(L));
    for (int32_t l = 0; l < L; ++l) {
      const size_t digits = t[l].size() / A;
      for (int32_t a = 0; a < A; ++a)
        values.back()[a][l] = std::stoi(t[l].substr(a * digits, digits));
    }
  }
  if (DecodeGenotypeTable(read.X) != values) return "values differ";
  return "";
}

std::string CheckPopulationsInput(const uint8_t* data, size_t size) {
  // Up to the first zero byte: the names of the individuals, one a line; then the file.
  const std::string all = Text(data, size);
  const size_t cut = all.find('\0');
  if (cut == std::string::npos) return "";
  StudyData study;
  for (const std::string& name : Lines(all.substr(0, cut))) study.names.push_back(name);
  const std::string path = "fuzz.tsv";
  const InProcessResult run =
      RunInProcess([&] { ApplyPopulationsText(path, all.substr(cut + 1), study); });
  if (run.ended) return EndProblem(run, path);
  if (study.populations.size() != study.names.size()) return "populations not one per individual";
  return "";
}

std::string CheckPlinkInput(const uint8_t* data, size_t size) {
  // .fam text, a zero byte, .bim text, a zero byte, the .bed bytes.
  const std::string all = Text(data, size);
  const size_t first = all.find('\0');
  const size_t second = first == std::string::npos ? first : all.find('\0', first + 1);
  if (second == std::string::npos) return "";
  const std::string prefix = ScratchDir() + "/fuzz";
  const std::string parts[3] = {all.substr(0, first), all.substr(first + 1, second - first - 1),
                                all.substr(second + 1)};
  const char* ends[3] = {".fam", ".bim", ".bed"};
  for (int i = 0; i < 3; ++i) std::ofstream(prefix + ends[i], std::ios::binary) << parts[i];
  StudyData read;
  const InProcessResult run =
      RunInProcess([&] { ReadPlinkFileset(prefix, ReaderOptions(), read); });
  if (run.ended) {
    for (const char* end : ends) {
      if (EndProblem(run, prefix + end).empty()) return "";
    }
    return EndProblem(run, prefix + ".bed");
  }
  return ShapeProblem(read);
}

std::string CheckSupervisionInput(const uint8_t* data, size_t size) {
  const std::string all = Text(data, size);
  const size_t cut = all.find('\0');
  if (cut == std::string::npos) return "";
  const std::vector<std::string> names = Lines(all.substr(0, cut));
  const std::string path = "fuzz.tsv";
  Supervision read;
  const InProcessResult run =
      RunInProcess([&] { read = ReadSupervisionText(path, all.substr(cut + 1), names); });
  if (run.ended) return EndProblem(run, path);
  if (read.cluster.size() != names.size() || read.populations.empty()) return "a partial result";
  for (int32_t c : read.cluster) {
    if (c < -1 || c >= static_cast<int32_t>(read.populations.size()))
      return "a cluster out of range";
  }
  return "";
}

std::string CheckProjectionInput(const uint8_t* data, size_t size) {
  const std::string path = ScratchDir() + "/fuzz.projection";
  std::ofstream(path, std::ios::binary) << Text(data, size);
  ProjectionBasis read;
  const InProcessResult run = RunInProcess([&] { read = ReadProjectionFile(path, 2); });
  if (run.ended) return EndProblem(run, path);
  if (read.K != 2 || read.order.size() != 2 || read.proportions.size() != 2) return "not K = 2";
  if (read.P.size() != read.alleleValues.size() || read.P.size() != read.locusNames.size()) {
    return "loci not one per line";
  }
  for (size_t l = 0; l < read.P.size(); ++l) {
    if (read.alleleValues[l].empty() || read.P[l].size() != 2 * read.alleleValues[l].size()) {
      return "frequencies not K per allele";
    }
  }
  return "";
}
