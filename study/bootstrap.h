// Bootstrap standard errors of a study's memberships (--bootstrap B): for the best run of
// every K, B tables of the loci drawn with replacement, the study's model refitted on each
// from the best run's estimates, and the spread of the refitted memberships.
#pragma once

#include <cstdint>
#include <vector>

#include "data/genotype_table.h"
#include "study/study.h"

// The seed of bootstrap replicate b (from 0) of K: RunSeed(seed, K, -1 - b), apart from the
// seeds of the runs (whose replicates count from 1).
uint32_t BootstrapSeed(uint64_t seed, int32_t K, int32_t b);

// L locus indices drawn uniformly with replacement (UniformIntDraw on a generator seeded
// with seed), in the order drawn.
std::vector<int32_t> BootstrapLoci(uint32_t seed, int32_t L);

// The table whose locus l is locus loci[l] of X: its alleles, missing value and codes.
GenotypeTable ResampleLoci(const GenotypeTable& X, const std::vector<int32_t>& loci);

// For every K of study.summaries, study.settings.bootstrap replicates (>= 2) of the best
// run: on the table of BootstrapLoci(BootstrapSeed(...)), the model's EM (--acceleration,
// --stop, --tolerance, --max-iterations) from the best run's memberships (and, admixture,
// its frequencies of the drawn loci); each replicate's clusters matched to the best run's
// (MatchClusters), then summary.Qse[n][c] = the standard deviation (divisor B - 1) over the
// replicates of the membership of individual n in aligned cluster c, and summary.qSeMean
// their mean. The replicates go on `threads` threads, each summed in replicate order, so the
// result does not depend on them. One line per K on standard error unless quiet.
void BootstrapStudy(StudyRecord& study, const GenotypeTable& X, int32_t threads, bool quiet);
