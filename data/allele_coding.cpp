#include "data/allele_coding.h"

#include <algorithm>
#include <unordered_set>

namespace {

// The distinct values of one locus. Loci hold few alleles, so a sorted vector searched
// by bisection serves; a locus with very many distinct values moves to a hash set.
struct DistinctValues {
  static constexpr size_t kSortedLimit = 256;
  std::vector<int32_t> sorted;
  std::unordered_set<int32_t> many;
  bool large = false;

  void Insert(int32_t value) {
    if (large) {
      many.insert(value);
      return;
    }
    const auto at = std::lower_bound(sorted.begin(), sorted.end(), value);
    if (at != sorted.end() && *at == value) return;
    if (sorted.size() < kSortedLimit) {
      sorted.insert(at, value);
      return;
    }
    many.insert(sorted.begin(), sorted.end());
    many.insert(value);
    sorted.clear();
    large = true;
  }

  std::vector<int32_t> Ascending() const {
    if (!large) return sorted;
    std::vector<int32_t> all(many.begin(), many.end());
    std::sort(all.begin(), all.end());
    return all;
  }
};

}  // namespace

void CodeAlleles(const GenotypeTable& X, int32_t L, Vector2D<int32_t>& AlleleValues,
                 std::vector<int32_t>& J, int32_t& Jmax) {
  // Gathered in table order (individual, copy, locus); the order has no effect on the sets.
  std::vector<DistinctValues> distinct(L > 0 ? L : 0);
  for (const auto& individual : X) {
    for (const auto& copy : individual) {
      for (int32_t l = 0; l < L; ++l) distinct[l].Insert(copy[l]);
    }
  }

  AlleleValues.assign(distinct.size(), {});
  J.clear();
  Jmax = 0;
  for (size_t l = 0; l < distinct.size(); ++l) {
    std::vector<int32_t>& row = AlleleValues[l];
    row = distinct[l].Ascending();
    // The smallest value, when negative, is the missing-data code of the locus.
    if (!row.empty() && row.front() < 0) row.erase(row.begin());
    J.push_back(static_cast<int32_t>(row.size()));
    Jmax = std::max(Jmax, J.back());
  }
}
