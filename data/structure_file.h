// STRUCTURE text files read as their layout is detected (or set by the reader options):
// header rows, label columns (name, population, further columns), one row per copy or one
// row per individual (the copies of a locus side by side, as STRUCTURE and plink write it).
#pragma once

#include <string>
#include <string_view>

#include "data/reader_options.h"
#include "data/study_input.h"

// Reads text, the content of the file path, into data. Every failure ends the run with one
// line naming the file and the line.
void ReadStructureText(const std::string& path, std::string_view text, const ReaderOptions& options,
                       StudyData& data);
