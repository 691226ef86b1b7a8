// best/K<K>.projection: what projecting new individuals onto a study's best run of K needs,
// written beside best/K<K>.Q by every sweep and collect. Fields apart by tabs, strings
// escaped (EscapeField), reals exact (ExactReal), lists apart by single spaces:
//   emclade-sweep projection <version>
//   model <name>                  study/model.h
//   k <K>
//   order <c>...                  the aligned study's cluster c is the run's cluster order[c]
//   proportions <pi_k>...         the run's mixing proportions (its own cluster order)
//   loci <L>
//   locus <name> <allele value>... <p>...   L lines: the values ascending, then for each
//                                 allele (ascending) its K frequencies (own cluster order)
//   end
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "data/vectors.h"
#include "study/study.h"

constexpr int32_t kProjectionFileVersion = 1;

struct ProjectionBasis {
  std::string model;
  int32_t K = 0;
  std::vector<int32_t> order;
  std::vector<double> proportions;
  std::vector<std::string> locusNames;
  Vector2D<int32_t> alleleValues;      // L x J[l]
  std::vector<std::vector<double>> P;  // L x (J[l] K): allele j's K frequencies at j K
};

// Whether run carries what the file holds (its order, proportions and frequencies for every
// cluster, and study every locus's name): a record made by a sweep or collect always does.
bool HoldsProjection(const StudyRecord& study, const RunRecord& run);

// The text of the file for run, one of study's runs (HoldsProjection).
std::string ProjectionFileText(const StudyRecord& study, const RunRecord& run);

// Reads path; a damaged file, one of another version or another K than expectedK ends the run
// with one line naming file and line (the model's name is read as it stands).
ProjectionBasis ReadProjectionFile(const std::string& path, int32_t expectedK);
