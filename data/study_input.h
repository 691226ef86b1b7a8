// The input of a study: a genotype file in any of the formats users have (STRUCTURE text,
// GENEPOP, VCF/BCF, PLINK .bed), read into the coded table with the names and populations of
// the individuals.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "data/genotype_table.h"
#include "data/reader_options.h"

struct StudyData {
  GenotypeTable X;
  std::vector<std::string> names;        // N individual names (read, or made up: "1", "2", ...)
  std::vector<std::string> populations;  // N populations; empty when none are known
  std::vector<std::string> locusNames;   // L locus names (read, or made up: "locus1", ...)
  // For the formats that name alleles by sequence (VCF, BCF, PLINK): alleleNames[l][j] is
  // the allele that code j stands for at locus l, as the file writes it (X.alleleValues[l][j]
  // is its number). Empty for STRUCTURE and GENEPOP, whose alleles are their values.
  std::vector<std::vector<std::string>> alleleNames;
  std::string format;    // "STRUCTURE", "GENEPOP", "VCF", "BCF", "PLINK" (also when prepared)
  std::string detected;  // one line saying what was read, e.g. "704 individuals, 30 loci, ..."
};

// Reads path in the format its name or its content shows (a PLINK fileset also by its
// common prefix; a prepared study file, data/prepared_study.h, by its first bytes), then the populations file of the options when there is one. Any failure
// ends the run with one line "emclade-sweep: <file>: <position>: <what>" and exit code 1.
StudyData ReadStudyInput(const std::string& path, const ReaderOptions& options);
