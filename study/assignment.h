// The optimal assignment problem (Hungarian method, Kuhn-Munkres with potentials).
#pragma once

#include <cstdint>
#include <vector>

// cost holds rows x cols entries row by row, rows <= cols. Returns, for every row, the
// column it is assigned to, all columns distinct, such that the sum of the chosen costs is
// the least possible. O(rows^2 cols). A cost that is not finite counts as 1e300. Among
// assignments of equal cost the one found is fixed by the input alone.
std::vector<int32_t> MinimumCostAssignment(const std::vector<double>& cost, int32_t rows,
                                           int32_t cols);

// The same for the largest sum of weights.
std::vector<int32_t> MaximumWeightAssignment(const std::vector<double>& weight, int32_t rows,
                                             int32_t cols);
