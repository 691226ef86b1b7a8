#include "data/allele_names.h"

#include <algorithm>

int32_t BaseValue(std::string_view allele) {
  if (allele.size() != 1) return 0;
  switch (allele[0]) {
    case 'A':
    case 'a':
      return 1;
    case 'C':
    case 'c':
      return 2;
    case 'G':
    case 'g':
      return 3;
    case 'T':
    case 't':
      return 4;
    default:
      return 0;
  }
}

void CodeSiteAlleles(const std::vector<std::string_view>& alleles,
                     const std::vector<uint8_t>& observed, SiteCoding& coding) {
  const size_t count = alleles.size();
  // The observed alleles that are not single bases, in ascending byte order, distinct.
  std::vector<std::string_view> others;
  for (size_t i = 0; i < count; ++i) {
    if (observed[i] && BaseValue(alleles[i]) == 0) others.push_back(alleles[i]);
  }
  std::sort(others.begin(), others.end());
  others.erase(std::unique(others.begin(), others.end()), others.end());

  std::vector<int32_t> valueOf(count, 0);
  coding.values.clear();
  for (size_t i = 0; i < count; ++i) {
    if (!observed[i]) continue;
    const int32_t base = BaseValue(alleles[i]);
    valueOf[i] =
        base > 0
            ? base
            : 5 + static_cast<int32_t>(std::lower_bound(others.begin(), others.end(), alleles[i]) -
                                       others.begin());
    coding.values.push_back(valueOf[i]);
  }
  std::sort(coding.values.begin(), coding.values.end());
  coding.values.erase(std::unique(coding.values.begin(), coding.values.end()), coding.values.end());

  coding.codeOf.assign(count, -1);
  coding.names.assign(coding.values.size(), std::string());
  std::vector<uint8_t> named(coding.values.size(), 0);
  for (size_t i = 0; i < count; ++i) {
    if (!observed[i]) continue;
    const int32_t code = static_cast<int32_t>(
        std::lower_bound(coding.values.begin(), coding.values.end(), valueOf[i]) -
        coding.values.begin());
    coding.codeOf[i] = code;
    if (!named[code]) {
      coding.names[code] = std::string(alleles[i]);
      named[code] = 1;
    }
  }
}
