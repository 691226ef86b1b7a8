// The project command: the individuals of a new genotype file placed on a finished study's
// best run of K (its frequencies held fixed): their memberships under the mixture model (the
// posterior given the run's frequencies and mixing proportions) or their ancestry
// proportions under the admixture model (EM over Q alone). Loci are matched by name and
// alleles by value (the sequence formats number A, C, G, T alike in every file, so a
// reference and alternative allele given the other way round match as well); loci of the
// new file that the study lacks are left out, alleles it lacks are taken as missing.
#pragma once

#include <cstdint>
#include <string>

#include "data/reader_options.h"

struct ProjectSettings {
  std::string studyDir;   // the sweep's folder (its --out)
  std::string inputPath;  // the new individuals
  ReaderOptions reader;
  int32_t K = 0;
  std::string outDir;  // default: INPUT's stem + ".projection"
  int32_t threads = 1;
  bool quiet = false;
  // Admixture: EM over Q stops at a step that gains less than tolerance per known allele copy.
  double tolerance = 1e-12;
};

// Writes outDir/K<K>.Q (one row per individual of INPUT, the study's aligned cluster order,
// as best/K<K>.Q) and outDir/individuals.tsv, and one closing line on standard output.
// Returns the exit code (0); a study folder of the wrong kind, a K it lacks or an INPUT
// sharing no locus with it ends the run with one line.
int RunProjectCommand(const ProjectSettings& settings);
