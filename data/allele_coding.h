// Allele coding: the distinct allele values of every locus, in ascending order.
#pragma once

#include <cstdint>
#include <vector>

#include "data/vectors.h"

// For every locus l of X: AlleleValues[l] = the ascending distinct values at l over all
// individuals and copies, without the smallest when it is negative (the missing-data
// code). J is rebuilt as the row lengths and Jmax is its largest entry (0 when L = 0).
// X itself is left as it is.
void CodeAlleles(const GenotypeTable& X, int32_t L, Vector2D<int32_t>& AlleleValues,
                 std::vector<int32_t>& J, int32_t& Jmax);
