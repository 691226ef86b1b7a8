// VCF and BCF files (plain or bgzipped VCF, BCF) read through htslib: the GT field of every
// record is one locus; copy a of an individual is the a-th allele of its GT, phased or not.
#pragma once

#include <string>

#include "data/reader_options.h"
#include "data/study_input.h"

// Reads path into data (table, sample names, locus names, allele names, format, detected
// line); from bytes, the whole content of path, when given (an input that can be read only
// once). Every failure ends the run with one line naming the file and the record.
void ReadVcfFile(const std::string& path, const ReaderOptions& options, StudyData& data,
                 const std::string* bytes = nullptr);
