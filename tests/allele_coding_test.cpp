// Allele coding: ascending distinct values per locus, the negative missing code left out.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <random>
#include <set>

#include "data/allele_coding.h"

namespace {

// A haploid table whose locus l holds column[l] down the individuals.
GenotypeValues Haploid(const std::vector<std::vector<int32_t>>& columns) {
  const size_t N = columns[0].size();
  GenotypeValues X(N, Vector2D<int32_t>(1, std::vector<int32_t>(columns.size())));
  for (size_t l = 0; l < columns.size(); ++l) {
    for (size_t n = 0; n < N; ++n) X[n][0][l] = columns[l][n];
  }
  return X;
}

}  // namespace

TEST(CodeAlleles, ExamplesPerLocus) {
  // Examples worked by hand: each column is one locus.
  const GenotypeValues X = Haploid({{102, 98, -9, 102, 104},
                                    {-9, -1, 5, 5, -1},
                                    {-9, -9, -9, -9, -9},
                                    {0, 0, 0, 0, 0},
                                    {3, -2147483647 - 1, 2147483647, 3, 3}});
  Vector2D<int32_t> values;
  std::vector<int32_t> J = {10, 10, 10};  // whatever it held is replaced
  int32_t Jmax = -1;
  CodeAlleles(CodeGenotypeValues(X), 5, values, J, Jmax);
  EXPECT_EQ(values[0], (std::vector<int32_t>{98, 102, 104}));
  EXPECT_EQ(values[1], (std::vector<int32_t>{-1, 5}));
  EXPECT_TRUE(values[2].empty());
  EXPECT_EQ(values[3], (std::vector<int32_t>{0}));
  EXPECT_EQ(values[4], (std::vector<int32_t>{3, 2147483647}));
  EXPECT_EQ(J, (std::vector<int32_t>{3, 2, 0, 1, 2}));
  EXPECT_EQ(Jmax, 3);
}

TEST(CodeAlleles, EveryCopyCountsAndTableIsUntouched) {
  GenotypeValues X(2, Vector2D<int32_t>(2, std::vector<int32_t>(1)));
  X[0][0][0] = 100;
  X[0][1][0] = 102;
  X[1][0][0] = 100;
  X[1][1][0] = 7;
  const GenotypeValues before = X;
  Vector2D<int32_t> values;
  std::vector<int32_t> J;
  int32_t Jmax = 0;
  CodeAlleles(CodeGenotypeValues(X), 1, values, J, Jmax);
  EXPECT_EQ(values[0], (std::vector<int32_t>{7, 100, 102}));
  EXPECT_EQ(X, before);

  Vector2D<int32_t> none;
  CodeAlleles(CodeGenotypeValues(X), 0, none, J, Jmax);
  EXPECT_TRUE(none.empty());
  EXPECT_TRUE(J.empty());
  EXPECT_EQ(Jmax, 0);
}

// Loci with many distinct values take another path inside the coder: compare with a
// literal set on random tables whose loci range from two to thousands of values.
TEST(CodeAlleles, ManyDistinctValuesMatchLiteralSet) {
  GenotypeValues X(3000, Vector2D<int32_t>(2, std::vector<int32_t>(4)));
  uint32_t state = 12345;
  auto next = [&] { return state = state * 1103515245u + 12345u; };
  const int32_t range[4] = {2, 300, 5000, 2000000000};
  for (auto& individual : X)
    for (auto& copy : individual)
      for (int32_t l = 0; l < 4; ++l)
        copy[l] = static_cast<int32_t>((next() >> 1) % range[l]) - range[l] / 3;
  Vector2D<int32_t> values;
  std::vector<int32_t> J;
  int32_t Jmax = 0;
  CodeAlleles(CodeGenotypeValues(X), 4, values, J, Jmax);
  for (int32_t l = 0; l < 4; ++l) {
    std::set<int32_t> literal;
    for (const auto& individual : X)
      for (const auto& copy : individual) literal.insert(copy[l]);
    if (*literal.begin() < 0) literal.erase(literal.begin());
    EXPECT_EQ(values[l], std::vector<int32_t>(literal.begin(), literal.end())) << "locus " << l;
  }
}

namespace {

// Locus regimes, by l % 8: 0 biallelic with missing -9; 1 up to 12 values with -9; 2 about
// 200 values, negative ones among them; 3 one value for the first half of the rows, then up
// to 40 more (the column widens mid-table); 4 values from the whole 32-bit range; 5 only -9;
// 6 -9 and -1 (an allele) with 3..5; 7 -9, 0, 1, 2 (four values whose codes narrow to 2 bits
// once -9 is left out).
int32_t RegimeValue(int32_t regime, int64_t row, int64_t rows, std::mt19937& bits) {
  const uint32_t u = bits();
  switch (regime) {
    case 0:
      return u % 20 == 0 ? -9 : static_cast<int32_t>(u % 2);
    case 1:
      return u % 13 == 0 ? -9 : static_cast<int32_t>(1 + u % 12);
    case 2:
      return static_cast<int32_t>(u % 200) - 50;
    case 3:
      return row < rows / 2 ? 7 : static_cast<int32_t>(100 + u % 40);
    case 4:
      return static_cast<int32_t>(u);
    case 5:
      return -9;
    case 6:
      return u % 3 == 0 ? -9 : u % 3 == 1 ? -1 : static_cast<int32_t>(3 + u % 3);
    default:
      return static_cast<int32_t>(u % 4) - 1 - (u % 4 == 0 ? 8 : 0);
  }
}

}  // namespace

// Every code against a literal coding (a sorted set per locus), on tables whose blocks hold
// one width (2, 4, 8, 16, 32 bits: transposed tile by tile) or several, whose rows are not a
// whole number of staged groups, and whose loci are many enough to stage 32 rows at a time.
TEST(AlleleCoder, CodesMatchLiteralCoding) {
  struct Case {
    int32_t N, A, L;
    std::vector<int32_t> regimes;  // locus l takes regimes[l % size]
  };
  const Case cases[] = {
      {37, 2, 700, {0, 1, 2, 3, 4, 5, 6, 7}},
      {45, 2, 600, {0}},
      {33, 3, 300, {1}},
      {40, 2, 200, {2}},
      {50, 2, 64, {7}},
      {500, 2, 16, {4}},
      {33000, 2, 1, {4}},
      {20, 2, 17000, {0, 1, 3, 6}},
  };
  unsigned seed = 1;
  for (const Case& c : cases) {
    std::mt19937 bits(++seed);
    const int64_t rows = static_cast<int64_t>(c.N) * c.A;
    GenotypeValues values(c.N, Vector2D<int32_t>(c.A, std::vector<int32_t>(c.L)));
    for (int32_t n = 0; n < c.N; ++n)
      for (int32_t a = 0; a < c.A; ++a)
        for (int32_t l = 0; l < c.L; ++l)
          values[n][a][l] = RegimeValue(c.regimes[l % c.regimes.size()], n * c.A + a, rows, bits);
    const GenotypeTable X = CodeGenotypeValues(values);
    // Bits that belong to no locus are 0: past the last code of every block's rows.
    for (const LocusBlock& block : X.blocks) {
      const int32_t used = X.position[block.endLocus - 1] + X.width[block.endLocus - 1];
      for (int64_t r = 0; r < rows; ++r) {
        const uint64_t* row = X.words.data() + block.start + r * block.rowWords;
        for (int32_t i = used / 64; i < block.rowWords; ++i) {
          const int32_t from = std::max(0, used - 64 * i);
          ASSERT_EQ(from == 0 ? row[i] : row[i] >> from, 0u) << "block " << block.firstLocus;
        }
      }
    }
    for (int32_t l = 0; l < c.L; ++l) {
      std::set<int32_t> literal;
      for (const auto& individual : values)
        for (const auto& copy : individual) literal.insert(copy[l]);
      const bool leftOut = *literal.begin() < 0;
      const std::vector<int32_t> alleles(std::next(literal.begin(), leftOut ? 1 : 0),
                                         literal.end());
      ASSERT_EQ(X.alleleValues[l], alleles) << "case N " << c.N << ", locus " << l;
      ASSERT_EQ(X.width[l], CodeWidth(static_cast<int64_t>(alleles.size()) + 1)) << l;
      for (int32_t n = 0; n < c.N; ++n) {
        for (int32_t a = 0; a < c.A; ++a) {
          const int32_t v = values[n][a][l];
          const auto at = std::lower_bound(alleles.begin(), alleles.end(), v);
          const uint32_t code = at != alleles.end() && *at == v
                                    ? static_cast<uint32_t>(at - alleles.begin())
                                    : static_cast<uint32_t>(alleles.size());
          ASSERT_EQ(GenotypeCode(X, n, a, l), code) << "locus " << l << ", row " << n * c.A + a;
        }
      }
    }
  }
}
