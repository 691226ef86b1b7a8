// Small study data sets for the study command's tests: simulated with a known partition, or
// written as a plain file that the study input reads.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "data/study_input.h"
#include "study/study.h"

// N individuals of A copies at L loci of J alleles from K clusters (the simulator's model,
// seeded); truth receives every individual's cluster.
StudyData SimulatedStudy(unsigned long seed, int32_t N, int32_t A, int32_t L, int32_t J, int32_t K,
                         std::vector<int32_t>& truth);

// The table as the plain file the study input reads (one row per copy, tab-separated).
void WritePlainStudy(const StudyData& data, const std::string& path);

// Sweep settings for tests: one thread, the given K and replicates, quiet defaults.
SweepSettings TestSettings(const std::vector<int32_t>& clusterCounts, int32_t replicates);
