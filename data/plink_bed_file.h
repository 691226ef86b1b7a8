// PLINK 1 binary filesets: the .bed genotypes (SNP-major) read straight into 2-bit codes,
// the .fam individuals (family ID as the population) and the .bim variants (names and
// alleles).
#pragma once

#include <string>

#include "data/reader_options.h"
#include "data/study_input.h"

// The common prefix of the fileset that path names (the .bed, .bim or .fam path, or the
// prefix itself), or "" when path names none.
std::string PlinkFilesetPrefix(const std::string& path);

// Reads prefix.fam, prefix.bim and prefix.bed into data. Every failure ends the run with one
// line naming the file and the line or byte.
void ReadPlinkFileset(const std::string& prefix, const ReaderOptions& options, StudyData& data);
