// The order of the individuals in the structure plot: grouped by population, and within a
// group by the cluster each belongs to most at the chosen K.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "study/study.h"

struct PopulationGroup {
  std::string name;   // empty when the study has no populations
  int32_t first = 0;  // position in StructureOrder::individuals
  int32_t count = 0;
};

struct StructureOrder {
  std::vector<int32_t> individuals;  // input indices, in plot order
  std::vector<PopulationGroup> groups;
};

// The populations in plot order: those of settings.populationOrder as listed, then the others
// in the order they first appear in the input.
std::vector<std::string> OrderPopulations(const StudyRecord& study);

// Individuals grouped by OrderPopulations (one unnamed group without populations); within a
// group by their assigned cluster at the chosen K (aligned number, ascending), then by that
// membership (descending), then by input order. The best replicate of the chosen K decides;
// a study without one keeps the input order within groups.
StructureOrder OrderIndividuals(const StudyRecord& study);

// The best replicate of the chosen K, or null.
const RunRecord* ChosenRun(const StudyRecord& study);
