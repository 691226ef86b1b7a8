// The ground-truth file of a simulation: the model the table was drawn from, as text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "data/simulator.h"

// Writes the model to path (the whole file name), creating or emptying it: the dimensions,
// J, K, the weights, the cluster sizes (zero-padded to 4 digits) and every frequency, reals
// in fixed notation with 15 decimals. A file that cannot be created or written ends the run
// with "Cannot open file <path> - SimulateGenotypeData" or "Cannot write file ...".
void WriteGroundTruthFile(const std::string& path, int32_t N, int32_t A, int32_t L,
                          const std::vector<int32_t>& J, int32_t K, const SimulatedModel& model);
