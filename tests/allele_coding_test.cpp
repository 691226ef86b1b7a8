// Allele coding: ascending distinct values per locus, the negative missing code left out.
#include <gtest/gtest.h>

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
