// One fuzz input for each text reader of the study command (STRUCTURE with its layout
// detection, GENEPOP, the populations file, a PLINK fileset, the supervision file, a study's
// projection file). Every outcome must be either a
// table consistent with the input or exactly one error line "emclade-sweep: <file>: ..." with
// exit code 1 and nothing on standard output; the STRUCTURE and GENEPOP tables are compared
// with a literal reading of the text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// "" when the outcome is as it should be, else what went wrong.
std::string CheckStructureInput(const uint8_t* data, size_t size);
std::string CheckGenepopInput(const uint8_t* data, size_t size);
std::string CheckPopulationsInput(const uint8_t* data, size_t size);
std::string CheckPlinkInput(const uint8_t* data, size_t size);
// The supervision file (names of the individuals, a zero byte, the file) and a study's
// projection file (best/K<K>.projection, read for K = 2).
std::string CheckSupervisionInput(const uint8_t* data, size_t size);
std::string CheckProjectionInput(const uint8_t* data, size_t size);
