// Agreement of two partitions of the same individuals.
#pragma once

#include <cstdint>
#include <vector>

// The adjusted Rand index of partitions a and b (labels of any values, same length): 1 for the
// same partition up to the labels, about 0 for unrelated ones; 1 when both put everyone in one
// group (or there are fewer than two individuals).
double AdjustedRandIndex(const std::vector<int32_t>& a, const std::vector<int32_t>& b);
