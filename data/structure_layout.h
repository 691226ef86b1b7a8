// The layout of a STRUCTURE text file, told from its first rows: header rows, label columns,
// one row per copy or per individual, ploidy, and plink's map-distance row. Every reader
// option overrides its guess.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "data/reader_options.h"

struct StructureLayout {
  int32_t headerRows = 0;        // lines before the first record
  int32_t columns = 0;           // tokens on every record row
  int32_t labelColumns = 0;      // label tokens in front of the values
  int32_t populationColumn = 0;  // the label column (from 1) holding the population; 0: none
  bool namesRepeat = false;      // one row per copy: the rows of an individual share its name
  bool oneRowPerIndividual = false;
  int32_t A = 2;
  int32_t L = 0;
  bool zeroIsMissing = false;  // plink's layout (a map-distance row): 0 is the missing code
  int64_t firstRecordLine = 0;
  std::vector<std::string> locusNames;  // from a header row of L names; empty when none
  std::string headerNote;               // "1 header row (marker names)", ...
};

// Reads the first rows of text (at most 1,000 rows and about 4 MB) and tells the layout.
// A file the rows do not settle ends the run with one line naming the option that settles it.
StructureLayout DetectStructureLayout(const std::string& path, std::string_view text,
                                      const ReaderOptions& options);

// " (a missing copy is written as a negative integer, such as -9)" for a token that writes a
// missing value as other programs do ("NA", "?", "."), else "".
std::string MissingValueHint(std::string_view token);

// Whether token is written as a decimal integer (optional sign, digits), whatever its size.
bool LooksInteger(std::string_view token);
