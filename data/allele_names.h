// Allele values for the formats that name alleles by their sequence (VCF, BCF, PLINK), the
// same in every one of them so that the same data gives the same coded table:
//   a single base A, C, G or T (either case) is 1, 2, 3 or 4, as converters write SNPs for
//   STRUCTURE; every other allele observed at a locus (longer sequences, N, *, symbolic
//   alleles such as <DEL>) is numbered 5, 6, ... in the ascending byte order of these
//   alleles.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// 1..4 for a single base A, C, G, T (either case), else 0.
int32_t BaseValue(std::string_view allele);

// The coding of one locus from its alleles and which of them were observed: codeOf[i] is the
// code of allele i (-1 when not observed); values the ascending distinct values of the
// observed alleles (J of them; code j stands for values[j]) and names[j] the allele of
// code j as written (the first of the observed alleles with that value).
struct SiteCoding {
  std::vector<int32_t> codeOf;
  std::vector<int32_t> values;
  std::vector<std::string> names;
};
void CodeSiteAlleles(const std::vector<std::string_view>& alleles,
                     const std::vector<uint8_t>& observed, SiteCoding& coding);
