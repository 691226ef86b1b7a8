// The input of a study: a genotype file in any of the formats users have, read into the
// coded table with the names and populations of the individuals.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "data/genotype_table.h"

// What the reader options of the study command may settle; -1 (or empty) leaves it to
// detection.
struct ReaderOptions {
  int32_t headerRows = -1;           // STRUCTURE: rows before the first record
  int32_t labelColumns = -1;         // STRUCTURE: label columns in front of the values
  int32_t populationColumn = -1;     // STRUCTURE: which label column (from 1) is the population
  int32_t ploidy = -1;               // copies per individual and locus
  int32_t oneRowPerIndividual = -1;  // STRUCTURE: 1 one row per individual, 0 one per copy
  std::string populationsFile;       // two tab-separated columns: name, population
};

struct StudyData {
  GenotypeTable X;
  std::vector<std::string> names;        // N individual names (read, or made up: "1", "2", ...)
  std::vector<std::string> populations;  // N populations; empty when none are known
  std::vector<std::string> locusNames;   // L locus names (read, or made up)
  std::string format;                    // "STRUCTURE", "GENEPOP", "VCF", "BCF", "PLINK"
  std::string detected;  // one line saying what was read, e.g. "704 individuals, 30 loci, ..."
};

// Reads path in the format its name or its content shows. Any failure ends the run with one
// line "emclade-sweep: <file>: <position>: <what>" and exit code 1.
StudyData ReadStudyInput(const std::string& path, const ReaderOptions& options);
