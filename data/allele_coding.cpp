#include "data/allele_coding.h"

#include <algorithm>
#include <unordered_set>

void CodeAlleles(const GenotypeTable& X, int32_t L, Vector2D<int32_t>& AlleleValues,
                 std::vector<int32_t>& J, int32_t& Jmax) {
  // Distinct values per locus, gathered in table order (individual, copy, locus).
  std::vector<std::unordered_set<int32_t>> distinct(L > 0 ? L : 0);
  for (const auto& individual : X) {
    for (const auto& copy : individual) {
      for (int32_t l = 0; l < L; ++l) distinct[l].insert(copy[l]);
    }
  }

  AlleleValues.assign(distinct.size(), {});
  J.clear();
  Jmax = 0;
  for (size_t l = 0; l < distinct.size(); ++l) {
    std::vector<int32_t>& row = AlleleValues[l];
    row.assign(distinct[l].begin(), distinct[l].end());
    std::sort(row.begin(), row.end());
    if (!row.empty() && row.front() < 0) row.erase(row.begin());
    J.push_back(static_cast<int32_t>(row.size()));
    Jmax = std::max(Jmax, J.back());
  }
}
