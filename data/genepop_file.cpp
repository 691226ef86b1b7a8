#include "data/genepop_file.h"

#include <algorithm>
#include <vector>

#include "data/allele_coding.h"
#include "data/input_messages.h"
#include "data/text_lines.h"

namespace {

// Stands for a missing copy (00, 000) while the table is coded.
constexpr int32_t kMissing = -1;

// "Pop", "POP", "pop" alone on its line (white space around it allowed).
bool IsPopLine(std::string_view line) {
  const std::string_view t = Trimmed(line);
  return t.size() == 3 && (t[0] | 0x20) == 'p' && (t[1] | 0x20) == 'o' && (t[2] | 0x20) == 'p';
}

struct Individual {
  std::string_view line;
  int64_t number;
  int32_t block;
};

// Genotype token length to (copies, digits per copy).
bool GenotypeShape(size_t length, int32_t& A, int32_t& digits) {
  switch (length) {
    case 2:
    case 3:
      A = 1;
      digits = static_cast<int32_t>(length);
      return true;
    case 4:
    case 6:
      A = 2;
      digits = static_cast<int32_t>(length / 2);
      return true;
    default:
      return false;
  }
}

}  // namespace

bool LooksLikeGenepop(std::string_view text) {
  TextLines lines(text);
  std::string_view line;
  if (!lines.Next(line)) return false;  // the title
  std::vector<std::string_view> tokens;
  while (lines.Next(line)) {
    if (IsPopLine(line)) return lines.number() > 2;
    if (line.find(',') != std::string_view::npos) continue;
    SplitTokens(line, tokens);
    if (tokens.size() > 1) return false;
  }
  return false;
}

void ReadGenepopText(const std::string& path, std::string_view text, const ReaderOptions& options,
                     StudyData& data) {
  TextLines lines(text);
  std::string_view line;
  if (!lines.Next(line)) FailInput(path, LineAt(1), "expected a title line, found an empty file");

  // Locus names up to the first Pop line.
  data.locusNames.clear();
  bool popFound = false;
  while (lines.Next(line)) {
    if (IsPopLine(line)) {
      popFound = true;
      break;
    }
    if (line.find(',') == std::string_view::npos) {
      const std::string_view name = Trimmed(line);
      if (!name.empty()) data.locusNames.emplace_back(name);
      continue;
    }
    size_t start = 0;
    for (;;) {
      const size_t comma = line.find(',', start);
      const std::string_view name = Trimmed(line.substr(start, comma - start));
      if (!name.empty()) data.locusNames.emplace_back(name);
      if (comma == std::string_view::npos) break;
      start = comma + 1;
    }
  }
  if (!popFound) {
    FailInput(path, LineAt(lines.number()),
              "expected a line \"Pop\" after the locus names, found the end of the file");
  }
  const int32_t L = static_cast<int32_t>(data.locusNames.size());
  if (L == 0)
    FailInput(path, LineAt(lines.number()), "expected locus names before \"Pop\", found none");

  // The individuals of every Pop block.
  std::vector<Individual> individuals;
  int32_t block = 0;
  while (lines.Next(line)) {
    if (IsPopLine(line)) {
      ++block;
      continue;
    }
    if (Trimmed(line).empty()) continue;
    if (line.find(',') == std::string_view::npos) {
      FailInput(path, LineAt(lines.number()),
                "expected \"name , genotypes\" or \"Pop\", found " + QuoteToken(Trimmed(line)));
    }
    individuals.push_back({line, lines.number(), block});
  }
  if (individuals.empty()) {
    FailInput(path, LineAt(lines.number()), "expected individuals after \"Pop\", found none");
  }
  const int32_t N = static_cast<int32_t>(individuals.size());

  // The first genotype sets the digits per copy and the ploidy for the whole file.
  std::vector<std::string_view> tokens;
  int32_t A = 0, digits = 0;
  size_t width = 0;
  int64_t widthLine = 0;
  for (const Individual& ind : individuals) {
    SplitTokens(ind.line.substr(ind.line.find(',') + 1), tokens);
    if (tokens.empty()) continue;
    width = tokens[0].size();
    widthLine = ind.number;
    if (!GenotypeShape(width, A, digits)) {
      FailInput(path, LineAt(ind.number),
                "expected a genotype of 2, 3 (haploid), 4 or 6 digits (diploid), found " +
                    QuoteToken(tokens[0]));
    }
    break;
  }
  if (A == 0)
    FailInput(path, LineAt(individuals[0].number), "expected genotypes after the name, found none");
  if (options.ploidy > 0 && options.ploidy != A) {
    FailInput(path, LineAt(widthLine),
              "expected --ploidy " + std::to_string(options.ploidy) + ", the genotypes have " +
                  Counted(A, "copy", "copies") + " of " + std::to_string(digits) + " digits");
  }
  RequireTableMemory(path, N, A, L);

  AlleleCoder coder(N, A, L, "emclade-sweep");
  std::vector<int32_t> values(static_cast<size_t>(A) * L);
  data.names.clear();
  data.populations.clear();
  std::vector<std::string> blockNames(static_cast<size_t>(block) + 1);
  std::vector<uint8_t> blockNamed(static_cast<size_t>(block) + 1, 0);
  int64_t missingCopies = 0;
  for (const Individual& ind : individuals) {
    const size_t comma = ind.line.find(',');
    const std::string name(Trimmed(ind.line.substr(0, comma)));
    SplitTokens(ind.line.substr(comma + 1), tokens);
    if (static_cast<int32_t>(tokens.size()) != L) {
      FailInput(path, LineAt(ind.number),
                "expected " + Counted(L, "genotype") + " (one per locus), found " +
                    std::to_string(tokens.size()));
    }
    for (int32_t l = 0; l < L; ++l) {
      const std::string_view g = tokens[l];
      const bool digitsOnly =
          std::all_of(g.begin(), g.end(), [](char ch) { return ch >= '0' && ch <= '9'; });
      if (g.size() != width || !digitsOnly) {
        FailInput(path, LineAt(ind.number),
                  "locus " + std::to_string(l + 1) + " (" + data.locusNames[l] +
                      "): expected a genotype of " + std::to_string(width) + " digits like line " +
                      std::to_string(widthLine) + ", found " + QuoteToken(g));
      }
      for (int32_t a = 0; a < A; ++a) {
        int32_t v = 0;
        for (int32_t d = 0; d < digits; ++d) v = 10 * v + (g[a * digits + d] - '0');
        missingCopies += v == 0;
        values[static_cast<size_t>(a) * L + l] = v == 0 ? kMissing : v;
      }
    }
    for (int32_t a = 0; a < A; ++a) {
      std::copy(values.begin() + static_cast<size_t>(a) * L,
                values.begin() + static_cast<size_t>(a + 1) * L, coder.Row());
      coder.AddRow();
    }
    data.names.push_back(name.empty() ? std::to_string(data.names.size() + 1) : name);
    if (!blockNamed[ind.block]) {
      blockNamed[ind.block] = 1;
      blockNames[ind.block] = name.empty() ? std::to_string(ind.block + 1) : name;
    }
    data.populations.push_back(blockNames[ind.block]);
  }
  coder.Finish(data.X);
  for (int32_t l = 0; l < L; ++l) data.X.missingValue[l] = 0;

  int32_t populations = 0;
  for (const uint8_t named : blockNamed) populations += named;
  data.alleleNames.clear();
  data.format = "GENEPOP";
  data.detected = "GENEPOP: " + Counted(N, "individual") + ", " + Counted(L, "locus", "loci") +
                  ", " + (A == 1 ? "haploid" : "diploid") + ", " +
                  Counted(populations, "population") + ", " + std::to_string(digits) +
                  " digits per copy, " + Counted(missingCopies, "missing copy", "missing copies") +
                  " (" + std::string(digits, '0') + ")";
}
