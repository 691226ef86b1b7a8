#include "study/rand_index.h"

#include <cstddef>
#include <map>
#include <utility>

namespace {

double Pairs(double count) {
  return 0.5 * count * (count - 1.0);
}

}  // namespace

double AdjustedRandIndex(const std::vector<int32_t>& a, const std::vector<int32_t>& b) {
  std::map<std::pair<int32_t, int32_t>, double> both;
  std::map<int32_t, double> inA, inB;
  for (size_t n = 0; n < a.size(); ++n) {
    both[{a[n], b[n]}] += 1.0;
    inA[a[n]] += 1.0;
    inB[b[n]] += 1.0;
  }
  double pairsBoth = 0.0, pairsA = 0.0, pairsB = 0.0;
  for (const auto& cell : both) pairsBoth += Pairs(cell.second);
  for (const auto& group : inA) pairsA += Pairs(group.second);
  for (const auto& group : inB) pairsB += Pairs(group.second);
  const double pairs = Pairs(static_cast<double>(a.size()));
  if (pairs == 0.0) return 1.0;
  const double expected = pairsA * pairsB / pairs;
  const double largest = 0.5 * (pairsA + pairsB);
  if (largest == expected) return 1.0;
  return (pairsBoth - expected) / (largest - expected);
}
