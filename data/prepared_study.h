// The prepared study file (".emc"): a study's input as read once — the coded table with its
// allele values, the names and populations of the individuals, the locus and allele names —
// in a compact binary file that every later command reads in one sequential pass.
//
// Layout (little-endian):
//   8 bytes   magic "\x89EMC\r\n\x1a\n" (a text-mode copy or a transfer that alters line
//             ends changes it)
//   4 bytes   version (kPreparedStudyVersion)
//   body      the fields below, every number fixed-width, every string and list led by its
//             length (8 bytes)
//   8 bytes   the length of everything before this trailer
//   8 bytes   a checksum of everything before this trailer
// Body: N, A, L (4 bytes each); format, detected; N names; the populations (0 or N); L locus
// names; the allele names (0 or L lists); L allele-value lists; L missing values; the words of
// the coded table, in the table's own layout, which the allele values fix.
#pragma once

#include <cstdint>
#include <string>

#include "data/study_input.h"

constexpr uint32_t kPreparedStudyVersion = 1;

// True when bytes (the first bytes of a file) begin with the prepared file's magic.
bool IsPreparedStudy(const std::string& bytes);

// Writes data to path, replacing it. A file that cannot be written ends the run with one line.
void WritePreparedStudy(const std::string& path, const StudyData& data);

// Reads a prepared file into data; from bytes, the whole content of path, when given (an
// input that can be read only once). A file of another version, a damaged or truncated file
// ends the run with one line naming the file and the byte offset where reading failed.
void ReadPreparedStudy(const std::string& path, StudyData& data,
                       const std::string* bytes = nullptr);
