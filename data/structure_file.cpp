#include "data/structure_file.h"

#include <algorithm>
#include <limits>
#include <set>
#include <vector>

#include "data/allele_coding.h"
#include "data/input_messages.h"
#include "data/structure_layout.h"
#include "data/text_lines.h"

namespace {

// Stands for plink's missing code 0 while the table is coded: below every other value, so
// that allele coding leaves it out as the missing code.
constexpr int32_t kZeroMissing = std::numeric_limits<int32_t>::min();

std::string PloidyName(int32_t A) {
  static const char* const kNames[] = {"", "haploid", "diploid", "triploid", "tetraploid"};
  return A >= 1 && A <= 4 ? kNames[A] : "ploidy " + std::to_string(A);
}

std::string LabelNote(int32_t c, int32_t populationColumn) {
  if (c == 0) return "no label columns";
  std::string note = Counted(c, "label column") + " (";
  for (int32_t j = 1; j <= c; ++j) {
    if (j > 1) note += ", ";
    note += j == 1 && populationColumn != 1 ? "name"
            : j == populationColumn         ? "population"
                                            : "other";
  }
  return note + ")";
}

}  // namespace

void ReadStructureText(const std::string& path, std::string_view text, const ReaderOptions& options,
                       StudyData& data) {
  const StructureLayout layout = DetectStructureLayout(path, text, options);
  const int32_t A = layout.A, L = layout.L, c = layout.labelColumns, C = layout.columns;

  // The records: every non-blank line after the header rows.
  TextLines lines(text);
  std::string_view line;
  for (int32_t h = 0; h < layout.headerRows && lines.Next(line);) ++h;
  int64_t rows = 0;
  int64_t lastLine = 0;
  {
    TextLines count = lines;
    while (count.Next(line)) {
      if (Trimmed(line).empty()) continue;
      ++rows;
      lastLine = count.number();
    }
  }
  const int32_t perIndividual = layout.oneRowPerIndividual ? 1 : A;
  if (rows % perIndividual != 0) {
    FailInput(path, LineAt(lastLine),
              "expected " + Counted(A, "row") +
                  " per individual (one per copy), the file ends after " +
                  Counted(rows % perIndividual, "row") + " of the last individual");
  }
  const int64_t N = rows / perIndividual;
  if (N > std::numeric_limits<int32_t>::max())
    FailInput(path, "", "more individuals than 2^31 - 1");
  RequireTableMemory(path, static_cast<double>(N), A, L);

  AlleleCoder coder(static_cast<int32_t>(N), A, L, "emclade-sweep");
  data.names.clear();
  data.populations.clear();
  std::vector<std::string_view> tokens;
  std::vector<int32_t> values(static_cast<size_t>(A) * L);
  std::vector<int32_t> lowest(L, 0);  // the smallest negative value of each locus, or 0
  int64_t record = 0, nameLine = 0;
  while (lines.Next(line)) {
    SplitTokens(line, tokens);
    if (tokens.empty()) continue;
    if (static_cast<int32_t>(tokens.size()) != C) {
      FailInput(path, LineAt(lines.number()),
                "expected " + std::to_string(C) + " columns like line " +
                    std::to_string(layout.firstRecordLine) + ", found " +
                    std::to_string(tokens.size()) + " (rows disagree in length)");
    }
    const int32_t copy = layout.oneRowPerIndividual ? 0 : static_cast<int32_t>(record % A);
    if (copy == 0) {
      data.names.emplace_back(c >= 1 ? std::string(tokens[0])
                                     : std::to_string(data.names.size() + 1));
      if (layout.populationColumn > 0)
        data.populations.emplace_back(tokens[layout.populationColumn - 1]);
      nameLine = lines.number();
    } else if (layout.namesRepeat && tokens[0] != data.names.back()) {
      FailInput(path, LineAt(lines.number()),
                "expected copy " + std::to_string(copy + 1) + " of " + data.names.back() +
                    " (line " + std::to_string(nameLine) + "), found " + QuoteToken(tokens[0]) +
                    ": every individual takes " + Counted(A, "row") + " (--ploidy)");
    }
    // Value j of the row: copy a, locus l as the layout puts them.
    const int32_t take = C - c;
    for (int32_t j = 0; j < take; ++j) {
      const std::string_view token = tokens[c + j];
      int32_t v = 0;
      const IntToken parsed = ParseIntToken(token, v);
      if (parsed != IntToken::kOk) {
        FailInput(path, LineAt(lines.number()),
                  "column " + std::to_string(c + j + 1) +
                      ": expected an integer allele value, found " + QuoteToken(token) +
                      (parsed == IntToken::kOutOfRange ? " (outside the 32-bit range)"
                                                       : MissingValueHint(token)));
      }
      if (layout.zeroIsMissing && v == kZeroMissing) {
        FailInput(path, LineAt(lines.number()),
                  "column " + std::to_string(c + j + 1) + ": expected an allele value from " +
                      std::to_string(kZeroMissing + 1) + " to " +
                      std::to_string(std::numeric_limits<int32_t>::max()) + ", found " +
                      QuoteToken(token));
      }
      const int32_t l = layout.oneRowPerIndividual ? j / A : j;
      const int32_t a = layout.oneRowPerIndividual ? j % A : 0;
      if (layout.zeroIsMissing && v == 0) v = kZeroMissing;
      lowest[l] = std::min(lowest[l], v);
      values[static_cast<size_t>(a) * L + l] = v;
    }
    for (int32_t a = 0; a < (layout.oneRowPerIndividual ? A : 1); ++a) {
      std::copy(values.begin() + static_cast<size_t>(a) * L,
                values.begin() + static_cast<size_t>(a + 1) * L, coder.Row());
      coder.AddRow();
    }
    ++record;
  }
  coder.Finish(data.X);

  std::set<int32_t> missing;
  for (int32_t l = 0; l < L; ++l) {
    const bool zero = layout.zeroIsMissing && lowest[l] == kZeroMissing;
    if (zero) data.X.missingValue[l] = 0;
    if (lowest[l] < 0) missing.insert(zero ? 0 : lowest[l]);
  }
  data.locusNames = layout.locusNames;
  if (data.locusNames.empty()) {
    for (int32_t l = 0; l < L; ++l) data.locusNames.push_back("locus" + std::to_string(l + 1));
  }
  data.alleleNames.clear();
  data.format = "STRUCTURE";
  std::string missingNote = missing.empty() ? "no missing-data code" : "missing";
  for (const int32_t m : missing) missingNote += " " + std::to_string(m);
  data.detected = "STRUCTURE: " + Counted(N, "individual") + ", " + Counted(L, "locus", "loci") +
                  ", " + PloidyName(A) + ", " + layout.headerNote + ", " +
                  LabelNote(c, layout.populationColumn) + ", " +
                  (layout.oneRowPerIndividual ? "one row per individual" : "one row per copy") +
                  ", " + missingNote;
}
