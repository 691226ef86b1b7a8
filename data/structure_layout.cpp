#include "data/structure_layout.h"

#include <algorithm>
#include <map>

#include "data/input_messages.h"
#include "data/text_lines.h"

namespace {

// Rows read for detection: at most this many, and no more once this many bytes are passed
// with at least kMinRows rows in hand.
constexpr size_t kMaxRows = 1000;
constexpr size_t kMinRows = 16;
constexpr size_t kScanBytes = size_t{4} << 20;
// An integer first column is taken for individual numbers only over this many individuals.
constexpr size_t kMinIdRuns = 8;

struct Row {
  int64_t line = 0;
  std::vector<std::string_view> tokens;
};

struct Scan {
  std::vector<Row> rows;  // the non-blank rows read
  bool complete = false;  // whether they are all the rows of the file
};

Scan ScanRows(std::string_view text) {
  Scan scan;
  TextLines lines(text);
  std::string_view line;
  size_t bytes = 0;
  std::vector<std::string_view> tokens;
  for (;;) {
    if (scan.rows.size() == kMaxRows || (bytes > kScanBytes && scan.rows.size() >= kMinRows)) {
      return scan;
    }
    if (!lines.Next(line)) break;
    bytes += line.size() + 1;
    SplitTokens(line, tokens);
    if (tokens.empty()) continue;
    scan.rows.push_back(Row{lines.number(), tokens});
  }
  scan.complete = true;
  return scan;
}

bool AllIntegers(const Row& row) {
  return std::all_of(row.tokens.begin(), row.tokens.end(), LooksInteger);
}

// How a header row looks: marker names (text after the first token) or a row of numbers
// (map distances, numbered markers). A record cut short looks like neither: a name, then
// numbers.
bool LooksLikeHeader(const Row& row) {
  if (AllIntegers(row)) return true;
  return std::any_of(row.tokens.begin() + 1, row.tokens.end(),
                     [](std::string_view t) { return !LooksInteger(t); });
}

// 1 + the last column that holds text in any of rows [from, to), 0 when all are numbers.
int32_t TextColumns(const std::vector<Row>& rows, size_t from, size_t to) {
  int32_t k = 0;
  for (size_t i = from; i < to; ++i) {
    const auto& tokens = rows[i].tokens;
    for (int32_t j = static_cast<int32_t>(tokens.size()) - 1; j >= k; --j) {
      if (!LooksInteger(tokens[j])) {
        k = j + 1;
        break;
      }
    }
  }
  return k;
}

// 1 + the last column holding text on most of rows [from, to) (a tie goes to fewer columns):
// label columns hold text on most rows, while a value that is not a number (a typing error,
// "NA") stands on a few.
int32_t CommonTextColumns(const std::vector<Row>& rows, size_t from, size_t to) {
  std::map<int32_t, size_t> counts;
  for (size_t i = from; i < to; ++i) ++counts[TextColumns(rows, i, i + 1)];
  int32_t best = 0;
  size_t most = 0;
  for (const auto& [k, count] : counts) {
    if (count > most) {
      best = k;
      most = count;
    }
  }
  return best;
}

// The first token of records at column c or later that is not an integer, reported as the
// allele value it stands in place of; when most rows hold text up to column k, the text is a
// label and --label-columns k reads it as one.
[[noreturn]] void FailTextAfterLabels(const std::string& path, const std::vector<Row>& records,
                                      int32_t c, int32_t k) {
  for (const Row& row : records) {
    for (size_t j = static_cast<size_t>(c); j < row.tokens.size(); ++j) {
      const std::string_view token = row.tokens[j];
      if (LooksInteger(token)) continue;
      const std::string column = std::to_string(j + 1);
      if (static_cast<int32_t>(j) < k) {
        FailInput(path, LineAt(row.line),
                  "expected integer allele values after " + Counted(c, "label column") +
                      ", found text in column " + column + " (--label-columns " +
                      std::to_string(k) + " or more)");
      }
      FailInput(path, LineAt(row.line),
                "column " + column + ": expected an integer allele value, found " +
                    QuoteToken(token) + MissingValueHint(token));
    }
  }
  FailInput(path, LineAt(records[0].line), "expected integer allele values after the labels");
}

// The token count most rows have; a tie goes to the count of the later rows.
int32_t CommonCount(const std::vector<Row>& rows) {
  std::map<size_t, size_t> counts;
  for (const Row& row : rows) ++counts[row.tokens.size()];
  size_t best = rows.back().tokens.size();
  for (size_t i = rows.size(); i-- > 0;) {
    const size_t c = rows[i].tokens.size();
    if (counts[c] > counts[best]) best = c;
  }
  return static_cast<int32_t>(best);
}

// Runs of consecutive records with the same first token.
struct Runs {
  std::vector<size_t> start;  // index of each run's first record
  std::vector<size_t> size;
  size_t complete = 0;  // runs known to be whole (the last may be cut by the scan)
  bool equal = false;   // all complete runs have the same size
};

Runs FirstColumnRuns(const std::vector<Row>& records, bool scanComplete) {
  Runs runs;
  for (size_t i = 0; i < records.size(); ++i) {
    if (i == 0 || records[i].tokens[0] != records[i - 1].tokens[0]) {
      runs.start.push_back(i);
      runs.size.push_back(0);
    }
    ++runs.size.back();
  }
  runs.complete = runs.size.size() - (scanComplete ? 0 : 1);
  runs.equal = runs.complete > 0;
  for (size_t r = 1; r < runs.complete; ++r)
    runs.equal = runs.equal && runs.size[r] == runs.size[0];
  return runs;
}

// An integer first column holds individual numbers when, over at least kMinIdRuns
// individuals, it repeats one number on each individual's rows and the numbers all differ,
// or it increases on every row.
bool IntegerIdColumn(const std::vector<Row>& records, const Runs& runs) {
  if (!runs.equal || runs.complete < kMinIdRuns) return false;
  std::vector<int64_t> ids;
  for (size_t r = 0; r < runs.complete; ++r) {
    int32_t v = 0;
    if (ParseIntToken(records[runs.start[r]].tokens[0], v) != IntToken::kOk) return false;
    ids.push_back(v);
  }
  if (runs.size[0] == 1) {
    for (size_t r = 1; r < ids.size(); ++r) {
      if (ids[r] <= ids[r - 1]) return false;
    }
    return true;
  }
  std::sort(ids.begin(), ids.end());
  return std::adjacent_find(ids.begin(), ids.end()) == ids.end();
}

// Label columns after the text columns k: the leading integer columns whose token is the
// same on all rows of every individual (a population, a flag), told apart from a first locus
// that happens to be homozygous only over at least kMinIdRuns individuals, and not when the
// column holds one value throughout (a monomorphic locus or a single population: either
// reading gives the same clustering).
int32_t SharedLabelColumns(const std::vector<Row>& records, const Runs& runs, int32_t k,
                           int32_t C) {
  if (runs.complete < kMinIdRuns) return k;
  int32_t shared = C - 1;
  for (size_t r = 0; r < runs.complete; ++r) {
    const auto& first = records[runs.start[r]].tokens;
    for (size_t i = runs.start[r] + 1; i < runs.start[r] + runs.size[r]; ++i) {
      int32_t j = 0;
      while (j < shared && records[i].tokens[j] == first[j]) ++j;
      shared = j;
    }
  }
  int32_t c = k;
  while (c < shared) {
    const std::string_view value = records[0].tokens[c];
    const bool constant = std::all_of(records.begin(), records.end(),
                                      [&](const Row& row) { return row.tokens[c] == value; });
    if (constant) break;
    ++c;
  }
  return c;
}

std::string PloidyOption(int32_t C, int32_t c) {
  const int32_t values = C - c;
  std::string hint;
  for (int32_t A = 1; A <= 4; ++A) {
    if (values % A == 0) {
      hint += (hint.empty() ? "" : ", ") + std::string("--ploidy ") + std::to_string(A) +
              " reads " + Counted(values / A, "locus", "loci");
    }
  }
  return hint;
}

}  // namespace

std::string MissingValueHint(std::string_view token) {
  for (const char* word : {"NA", "N/A", "na", "NaN", "nan", "?", ".", "-", "N", "x", "X"}) {
    if (token == word) return " (a missing copy is written as a negative integer, such as -9)";
  }
  return "";
}

bool LooksInteger(std::string_view token) {
  size_t i = token.size() > 1 && (token[0] == '-' || token[0] == '+') ? 1 : 0;
  if (i == token.size()) return false;
  for (; i < token.size(); ++i) {
    if (token[i] < '0' || token[i] > '9') return false;
  }
  return true;
}

StructureLayout DetectStructureLayout(const std::string& path, std::string_view text,
                                      const ReaderOptions& options) {
  const Scan scan = ScanRows(text);
  const std::vector<Row>& rows = scan.rows;
  if (rows.empty()) FailInput(path, LineAt(1), "expected a table of genotypes, found no rows");
  StructureLayout layout;

  // Header rows: those above the first row of the common length, and rows of that length
  // that hold text where the records below hold numbers.
  size_t first = 0;
  if (options.headerRows >= 0) {
    while (first < rows.size() && rows[first].line <= options.headerRows) ++first;
    if (first == rows.size()) {
      FailInput(path, LineAt(rows.back().line),
                "expected records after the " + Counted(options.headerRows, "header row") +
                    " of --header-rows, found " +
                    (scan.complete ? "the end of the file" : "none in the first rows"));
    }
  } else {
    const int32_t C = CommonCount(rows);
    while (rows[first].tokens.size() != static_cast<size_t>(C)) ++first;
    for (size_t i = 0; i < first; ++i) {
      if (!LooksLikeHeader(rows[i])) {
        FailInput(path, LineAt(rows[i].line),
                  "expected " + std::to_string(C) + " columns like line " +
                      std::to_string(rows[first].line) + ", found " +
                      std::to_string(rows[i].tokens.size()) +
                      " (rows disagree in length; --header-rows says how many rows to skip)");
      }
    }
    while (first + 1 < rows.size()) {
      const int32_t k = TextColumns(rows, first + 1, rows.size());
      const auto& tokens = rows[first].tokens;
      const bool textAtValues =
          std::any_of(tokens.begin() + std::min<size_t>(k, tokens.size()), tokens.end(),
                      [](std::string_view t) { return !LooksInteger(t); });
      if (!textAtValues) break;
      ++first;
    }
  }
  layout.headerRows =
      options.headerRows >= 0 ? options.headerRows : static_cast<int32_t>(rows[first].line - 1);
  layout.firstRecordLine = rows[first].line;
  const std::vector<Row> header(rows.begin(), rows.begin() + first);
  const std::vector<Row> records(rows.begin() + first, rows.end());
  const int32_t C = static_cast<int32_t>(records[0].tokens.size());
  layout.columns = C;
  for (const Row& row : records) {
    if (row.tokens.size() != static_cast<size_t>(C)) {
      FailInput(path, LineAt(row.line),
                "expected " + std::to_string(C) + " columns like line " +
                    std::to_string(records[0].line) + ", found " +
                    std::to_string(row.tokens.size()) + " (rows disagree in length)");
    }
  }
  // Columns up to the last one holding text on most rows are labels, and the first column
  // when it holds text on any (names, some of which may be numbers).
  const int32_t k = std::max(CommonTextColumns(records, 0, records.size()),
                             std::min(TextColumns(records, 0, records.size()), 1));
  if (k >= C) {
    FailInput(path, LineAt(records[0].line),
              "expected integer allele values after the labels, found text in the last column");
  }
  // A header row shorter than the records counts the loci (marker names, map distances).
  int32_t markers = 0;
  for (const Row& row : header) {
    if (row.tokens.size() < static_cast<size_t>(C)) {
      markers = static_cast<int32_t>(row.tokens.size());
      break;
    }
  }

  const Runs runs = FirstColumnRuns(records, scan.complete);
  const bool named = k >= 1 || IntegerIdColumn(records, runs);
  const int32_t optA = options.ploidy > 0 ? options.ploidy : 0;
  const int32_t optC = options.labelColumns;

  // One row per copy or per individual.
  bool perIndividual = false;
  if (options.oneRowPerIndividual >= 0) {
    perIndividual = options.oneRowPerIndividual == 1;
  } else if (named) {
    if (runs.complete == 0) {
      FailInput(path, LineAt(records[0].line),
                "expected rows of several individuals, found " +
                    Counted(static_cast<int64_t>(records.size()), "row") + " all named " +
                    std::string(records[0].tokens[0]) +
                    " (--one-row-per-individual and --ploidy settle the layout)");
    }
    if (!runs.equal) {
      size_t r = 1;
      while (runs.size[r] == runs.size[0]) ++r;
      FailInput(path, LineAt(records[runs.start[r]].line),
                "expected " + Counted(static_cast<int64_t>(runs.size[0]), "row") +
                    " per individual like " + std::string(records[0].tokens[0]) + ", found " +
                    std::to_string(runs.size[r]) + " for " +
                    std::string(records[runs.start[r]].tokens[0]) +
                    " (--one-row-per-individual and --ploidy settle the layout)");
    }
    perIndividual = runs.size[0] == 1 && (optA == 0 || optA > 1);
  } else if (markers > 0 && C > markers && C % markers == 0 && optC <= 0) {
    perIndividual = true;  // values only, and a header naming C / A loci
  }

  int32_t A = 2, c = 0;
  if (!perIndividual) {
    A = optA > 0 ? optA : named && runs.equal ? static_cast<int32_t>(runs.size[0]) : 2;
    if (optC >= 0) {
      c = optC;
    } else if (markers > 0) {
      c = C - markers;
    } else if (named && runs.equal && runs.size[0] >= 2) {
      c = std::max(SharedLabelColumns(records, runs, k, C), 1);
    } else {
      c = std::max(k, named ? 1 : 0);
    }
    c = std::min(c, C - 1);
  } else {
    if (optA > 0) {
      A = optA;
      c = optC >= 0 ? optC : markers > 0 ? C - A * markers : std::max(k, named ? 1 : 0);
    } else if (optC >= 0 || markers > 0) {
      c = optC >= 0 ? optC : std::max(k, named ? 1 : 0);
      if (markers > 0 && optC < 0) {
        while (c < C && (C - c) % markers != 0) ++c;
      }
      if (markers == 0 || c >= C || (C - c) % markers != 0) {
        FailInput(path, LineAt(records[0].line),
                  "expected --ploidy: one row per individual with " +
                      std::to_string(C - std::min(c, C)) + " values and no row of marker names (" +
                      PloidyOption(C, std::min(c, C)) + ")");
      }
      A = (C - c) / markers;
    } else {
      c = std::max(k, named ? 1 : 0);
      FailInput(path, LineAt(records[0].line),
                "expected --ploidy: every name is on one row (one row per individual) and there "
                "is no row of marker names to count the loci (" +
                    PloidyOption(C, c) + ")");
    }
  }
  if (c < k) FailTextAfterLabels(path, records, c, k);
  if (c >= C || A < 1 || (perIndividual && (C - c) % A != 0)) {
    FailInput(path, LineAt(records[0].line),
              "expected " + Counted(c, "label column") + " and " +
                  (perIndividual ? "a multiple of " + std::to_string(A) + " values"
                                 : std::string("at least one value")) +
                  ", found " + std::to_string(C) +
                  " columns (--label-columns and --ploidy settle it)");
  }
  layout.labelColumns = c;
  layout.A = A;
  layout.oneRowPerIndividual = perIndividual;
  layout.L = perIndividual ? (C - c) / A : C - c;
  layout.namesRepeat = named && !perIndividual && A > 1 && c >= 1;

  if (options.populationColumn >= 0) {
    if (options.populationColumn > c) {
      FailInput(path, LineAt(records[0].line),
                "expected --population-column at most " + std::to_string(c) +
                    " (the label columns), found " + std::to_string(options.populationColumn));
    }
    layout.populationColumn = options.populationColumn;
  } else {
    layout.populationColumn = c >= 2 ? 2 : 0;
  }

  // Header rows: marker names, and plink's map distances (-1 first), which mark plink's
  // layout, where 0 is the missing code.
  std::vector<std::string> notes;
  for (const Row& row : header) {
    if (row.tokens.size() != static_cast<size_t>(layout.L)) continue;
    if (AllIntegers(row)) {
      if (row.tokens[0] == "-1" && !layout.zeroIsMissing) {
        layout.zeroIsMissing = true;
        notes.push_back("plink map distances");
      }
    } else if (layout.locusNames.empty()) {
      layout.locusNames.assign(row.tokens.begin(), row.tokens.end());
      notes.push_back("marker names");
    }
  }
  layout.headerNote =
      layout.headerRows == 0 ? "no header rows" : Counted(layout.headerRows, "header row");
  if (!notes.empty()) {
    layout.headerNote += " (" + notes[0] + (notes.size() > 1 ? ", " + notes[1] : "") + ")";
  }
  return layout;
}
