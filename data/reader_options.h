// What the reader options of the study command settle; -1 (or empty) leaves it to the
// file's name and content.
#pragma once

#include <cstdint>
#include <string>

struct ReaderOptions {
  int32_t headerRows = -1;           // STRUCTURE: lines before the first record
  int32_t labelColumns = -1;         // STRUCTURE: label columns in front of the values
  int32_t populationColumn = -1;     // STRUCTURE: which label column (from 1) is the population;
                                     // 0: none
  int32_t ploidy = -1;               // copies per individual and locus
  int32_t oneRowPerIndividual = -1;  // STRUCTURE: 1 one row per individual, 0 one per copy
  std::string populationsFile;       // two tab-separated columns: name, population
};
