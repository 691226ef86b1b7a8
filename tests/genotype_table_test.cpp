// The coded genotype table: values survive coding and decoding, codes follow the ascending
// values with the left-out negative value as the missing code, and the layout keeps every
// code inside one word at the narrowest width.
#include <gtest/gtest.h>

#include <random>

#include "data/allele_coding.h"
#include "data/genotype_table.h"

namespace {

// Locus l draws from `alleles[l]` values (some negative), so that widths from 2 to 32 bits
// occur side by side and blocks fill up.
GenotypeValues MixedTable(int32_t N, int32_t A, const std::vector<int32_t>& alleles,
                          unsigned seed) {
  std::mt19937 bits(seed);
  const int32_t L = static_cast<int32_t>(alleles.size());
  GenotypeValues X(N, Vector2D<int32_t>(A, std::vector<int32_t>(L)));
  for (auto& individual : X)
    for (auto& copy : individual)
      for (int32_t l = 0; l < L; ++l)
        copy[l] = static_cast<int32_t>(bits() % alleles[l]) - (l % 3 == 0 ? 3 : 0);
  return X;
}

}  // namespace

TEST(GenotypeTable, CodingRoundTripsAndLayoutHolds) {
  std::vector<int32_t> alleles;
  for (int32_t l = 0; l < 900; ++l) alleles.push_back(l % 50 == 7 ? 40000 : 1 + l % 19);
  alleles.push_back(100000);  // past 16 bits
  const GenotypeValues values = MixedTable(70, 2, alleles, 3);
  const GenotypeTable X = CodeGenotypeValues(values);
  EXPECT_EQ(DecodeGenotypeTable(X), values);
  for (int32_t l = 0; l < X.L; ++l) {
    const auto& v = X.alleleValues[l];
    ASSERT_TRUE(std::is_sorted(v.begin(), v.end()));
    EXPECT_EQ(X.width[l], CodeWidth(static_cast<int64_t>(v.size()) + 1)) << l;
    EXPECT_EQ(X.position[l] % X.width[l], 0) << l;
    EXPECT_LE(X.position[l] + X.width[l], 64 * X.blocks[X.blockOf[l]].rowWords) << l;
    for (int32_t n = 0; n < X.N; ++n) {
      for (int32_t a = 0; a < X.A; ++a) {
        const uint32_t code = GenotypeCode(X, n, a, l);
        // Missing code J[l] exactly where the value is the locus's smallest, negative value.
        const bool missing = code == v.size();
        EXPECT_EQ(missing, !v.empty() ? values[n][a][l] < v[0] : true);
        if (missing) {
          EXPECT_EQ(values[n][a][l], X.missingValue[l]);
        }
      }
    }
  }
  EXPECT_GT(X.blocks.size(), 2u);
  for (const LocusBlock& b : X.blocks) EXPECT_LE(b.rowWords, kBlockRowWords);
}

TEST(GenotypeTable, WidthsUpToThirtyTwoBits) {
  // 70,000 distinct values at locus 0 need 17 bits, so 32; locus 1 stays at 2 bits.
  GenotypeValues values(70000, Vector2D<int32_t>(1, std::vector<int32_t>(2)));
  for (int32_t n = 0; n < 70000; ++n) values[n][0] = {3 * ((n * 7919) % 70000) - 5, n % 3};
  const GenotypeTable X = CodeGenotypeValues(values);
  EXPECT_EQ(X.width[0], 32);
  EXPECT_EQ(X.width[1], 2);
  EXPECT_EQ(X.alleleValues[0].size(), 69999u);  // -5 is the missing code
  EXPECT_EQ(DecodeGenotypeTable(X), values);
}

TEST(GenotypeTable, ZeroTableAndEmptyShapes) {
  GenotypeTable X;
  InitGenotypeTable(X, 3, 2, 4);
  EXPECT_EQ(DecodeGenotypeTable(X),
            GenotypeValues(3, Vector2D<int32_t>(2, std::vector<int32_t>(4))));
  InitGenotypeTable(X, 3, 2, 0);
  EXPECT_TRUE(X.blocks.empty());
  EXPECT_TRUE(X.words.empty());
  EXPECT_EQ(CodeGenotypeValues(GenotypeValues{}).N, 0);
}
