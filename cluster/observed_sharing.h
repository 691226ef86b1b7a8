// The allele-sharing dissimilarity blind to missing data, for the study command's starts:
// two individuals are compared only over the copies observed in both. (The classic
// clustering start keeps its own dissimilarity, HClusteringDistance, which counts the
// missing code like an allele.)
#pragma once

#include <cstdint>

#include "cluster/hclustering.h"
#include "data/genotype_table.h"

// For every pair i < j (condensed layout, see CondensedIndex):
//   s = number of (copy a of i, copy b of j, locus l) with equal codes, both observed,
//   o = number of (a, b, l) with both copies observed = sum over l of o_il o_jl,
//   D(i, j) = 1 - s / o,
// and a pair with o = 0 (no locus observed in both) gets the mean of D over the pairs with
// o > 0, summed in condensed order (1 when no pair has o > 0). On a table without missing
// copies this is HClusteringDistance's sharing dissimilarity, bit for bit. Counts are
// integers, the mean one serial sum: the result does not depend on threads.
CondensedDistances ObservedSharingDistance(const GenotypeTable& X, int32_t threads = 1);
