// GENEPOP files: a title line, the locus names (one per line, or comma-separated), then
// "Pop" blocks of "name , genotypes" lines with 2 or 3 digits per allele copy (00 or 000
// missing), haploid or diploid.
#pragma once

#include <string>
#include <string_view>

#include "data/reader_options.h"
#include "data/study_input.h"

// Whether text reads as GENEPOP: after the title line, only locus names (lines with a
// comma, or a single name) up to a line "Pop" (any case).
bool LooksLikeGenepop(std::string_view text);

// Reads text, the content of the file path, into data. The population of an individual is
// its Pop block, named after the block's first individual (or numbered when that has no
// name). Every failure ends the run with one line naming the file and the line.
void ReadGenepopText(const std::string& path, std::string_view text, const ReaderOptions& options,
                     StudyData& data);
