// The genotype data file: header rows, then N x A records of c label tokens and L
// integer allele values, separated by any white space.
#pragma once

#include <cstdint>
#include <string>

#include "data/genotype_table.h"

// Reads path into X, already shaped N x A x L, coding the values as they are read
// (AlleleCoder); X is rebuilt. Skips a UTF-8 byte-order mark at the start,
// r header rows (whole, whatever their length) and c label tokens in front of every
// record. A file that ends early (in the header rows or the records), a value that is not
// an integer or lies outside the 32-bit range ends the run with one line naming the file,
// the line and the record. Returns true whenever it returns.
bool LoadGenotypeDataFromStructureFile(const std::string& path, GenotypeTable& X, int32_t N,
                                       int32_t A, int32_t L, int32_t r, int32_t c);

// Writes X (shape taken from X itself) as N x A lines of tab-terminated values, each code
// written as the value it stands for.
bool SaveGenotypeDataToStructureFile(const std::string& path, const GenotypeTable& X);
