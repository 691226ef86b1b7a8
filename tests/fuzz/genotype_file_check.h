// One fuzz input for the genotype-file reader: its first five bytes choose N, A, L, r and c,
// the rest is the file. The reader's outcome is compared with a literal reading of the
// layout (table on success, the exact error line on failure).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// "" when the reader and the literal reading agree, else what differed.
std::string CheckGenotypeFileInput(const uint8_t* data, size_t size);
