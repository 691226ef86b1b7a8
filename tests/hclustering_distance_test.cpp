// The dissimilarities on every kind of locus (bit planes, count columns, code against code)
// against the literal version, bit for bit, on 1, 2, 3 and 8 threads; and the clustering
// start refusing, through the executable, a matrix that cannot fit in memory.
#include <gsl/gsl_rng.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "cluster/hclustering.h"
#include "cluster/observed_sharing.h"
#include "reference_hclustering.h"
#include "run_program.h"

namespace {

struct TableCase {
  const char* what;
  int32_t N, A, L;
  std::vector<int32_t> alleles;  // J of locus l: alleles[l % size]
  double missing = 0.0;          // share of copies with the missing code
  double copies = 0.0;           // share of individuals copied from an earlier one
  int32_t codesUsed = 0;         // > 0: each locus uses only this many of its codes 0..J
};

// Coded directly (values 1..J, missing -9), so that any subset of the codes can occur.
GenotypeTable RandomCodedTable(unsigned long seed, const TableCase& c) {
  gsl_rng* g = gsl_rng_alloc(gsl_rng_mt19937);
  gsl_rng_set(g, seed);
  Vector2D<int32_t> values(c.L);
  std::vector<std::vector<uint32_t>> used(c.L);
  for (int32_t l = 0; l < c.L; ++l) {
    const int32_t J = c.alleles[l % c.alleles.size()];
    for (int32_t v = 1; v <= J; ++v) values[l].push_back(v);
    for (uint32_t code = 0; code < static_cast<uint32_t>(J); ++code) used[l].push_back(code);
    if (c.codesUsed > 0) {
      // The first codesUsed of a shuffle of 0..J (the missing code J among them).
      used[l].push_back(static_cast<uint32_t>(J));
      for (int32_t k = J; k > 0; --k) std::swap(used[l][k], used[l][gsl_rng_uniform_int(g, k + 1)]);
      used[l].resize(std::min<size_t>(c.codesUsed, used[l].size()));
    }
  }
  GenotypeTable X;
  LayOutGenotypeTable(X, c.N, c.A, c.L, values, std::vector<int32_t>(c.L, -9));
  for (int32_t n = 0; n < c.N; ++n) {
    const int32_t source = n > 0 && gsl_rng_uniform(g) < c.copies
                               ? static_cast<int32_t>(gsl_rng_uniform_int(g, n))
                               : -1;
    for (int32_t a = 0; a < c.A; ++a) {
      for (int32_t l = 0; l < c.L; ++l) {
        const std::vector<uint32_t>& codes = used[l];
        uint32_t code = codes[gsl_rng_uniform_int(g, codes.size())];
        if (gsl_rng_uniform(g) < c.missing) code = static_cast<uint32_t>(values[l].size());
        SetGenotypeCode(X, n, a, l, source >= 0 ? GenotypeCode(X, source, a, l) : code);
      }
    }
  }
  gsl_rng_free(g);
  return X;
}

bool SameBits(const CondensedDistances& a, const CondensedDistances& b) {
  return a.size() == b.size() &&
         (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
}

// 1 - s / o over the copies observed in both, by the definition; pairs with o = 0 the mean
// of the others.
CondensedDistances LiteralObservedSharing(const GenotypeTable& X) {
  CondensedDistances D;
  std::vector<bool> unknown;
  double sum = 0.0;
  int64_t counted = 0;
  for (int32_t i = 0; i < X.N; ++i) {
    for (int32_t j = i + 1; j < X.N; ++j) {
      int64_t s = 0, o = 0;
      for (int32_t l = 0; l < X.L; ++l) {
        const uint32_t missing = static_cast<uint32_t>(X.alleleValues[l].size());
        for (int32_t a = 0; a < X.A; ++a) {
          for (int32_t b = 0; b < X.A; ++b) {
            const uint32_t x = GenotypeCode(X, i, a, l), y = GenotypeCode(X, j, b, l);
            if (x >= missing || y >= missing) continue;
            ++o;
            s += x == y ? 1 : 0;
          }
        }
      }
      D.push_back(o > 0 ? 1.0 - static_cast<double>(s) / static_cast<double>(o) : 0.0);
      unknown.push_back(o == 0);
      if (o > 0) sum += D.back(), ++counted;
    }
  }
  for (size_t p = 0; p < D.size(); ++p) {
    if (unknown[p]) D[p] = counted > 0 ? sum / static_cast<double>(counted) : 1.0;
  }
  return D;
}

}  // namespace

TEST(ObservedSharingDistance, SameBitsAsLiteralOnAnyThreadsAndTheClassicOneOnCompleteData) {
  const TableCase cases[] = {
      {"complete, biallelic", 70, 2, 130, {2}, 0.0, 0.1},
      {"complete, mixed widths", 40, 2, 90, {1, 2, 5, 40, 300}},
      {"missing copies, microsatellite-like", 90, 2, 70, {5, 12, 30}, 0.2, 0.1},
      {"mostly missing: pairs with nothing in common", 30, 2, 3, {4}, 0.8},
      {"haploid, missing", 40, 1, 100, {2, 3}, 0.3},
      {"ploidy 3, missing", 25, 3, 40, {2, 6}, 0.1},
  };
  unsigned long seed = 100;
  for (const TableCase& c : cases) {
    SCOPED_TRACE(std::string(c.what) + ", seed " + std::to_string(seed));
    const GenotypeTable X = RandomCodedTable(seed++, c);
    const CondensedDistances reference = LiteralObservedSharing(X);
    for (int32_t threads : {1, 2, 3, 8}) {
      ASSERT_TRUE(SameBits(ObservedSharingDistance(X, threads), reference)) << threads;
    }
    if (c.missing == 0.0) {
      ASSERT_TRUE(SameBits(reference, HClusteringDistance(X, true, 1)));
    }
  }
  // Shared missing loci make two individuals no closer: 0 and 1 agree where both are seen.
  GenotypeValues values = {{{1, -9, -9}, {1, -9, -9}},
                           {{1, -9, -9}, {1, -9, -9}},
                           {{2, 1, 1}, {2, 1, 1}},
                           {{-9, 2, 2}, {-9, 2, 2}}};
  const CondensedDistances D = ObservedSharingDistance(CodeGenotypeValues(values), 1);
  EXPECT_EQ(D[CondensedIndex(4, 0, 1)], 0.0);
  EXPECT_EQ(D[CondensedIndex(4, 0, 2)], 1.0);
  EXPECT_EQ(D[CondensedIndex(4, 2, 3)], 1.0);
  // 0 and 3 (and 1 and 3) share no observed locus: the mean of the other four.
  EXPECT_EQ(D[CondensedIndex(4, 0, 3)], 0.75);
  EXPECT_EQ(D[CondensedIndex(4, 1, 3)], 0.75);
}

TEST(HClusteringDistance, EveryLocusKindSameBitsAsLiteralOnAnyThreads) {
  const TableCase cases[] = {
      {"one individual", 1, 2, 5, {2}},
      {"two individuals", 2, 2, 70, {2}},
      {"three individuals", 3, 1, 3, {3}, 0.2},
      // More than one segment of 256 individuals; more than one block of 512 two-bit loci.
      {"biallelic diploid, many individuals", 260, 2, 70, {2}, 0.0, 0.1},
      {"biallelic diploid, many loci", 20, 2, 1100, {2}, 0.0, 0.1},
      {"biallelic diploid, missing copies", 260, 2, 40, {2}, 0.02, 0.1},
      {"biallelic haploid", 30, 1, 1100, {2}, 0.0, 0.2},
      {"biallelic haploid, missing copies", 60, 1, 200, {2}, 0.1},
      {"biallelic tetraploid", 30, 4, 150, {2}, 0.05},
      {"ploidy 3", 30, 3, 100, {2, 4}, 0.1},
      {"three and four alleles", 50, 2, 150, {3, 4}, 0.05, 0.1},
      // Widths 2, 4, 8 and 16 side by side, monomorphic loci among them.
      {"mixed widths", 40, 2, 200, {1, 2, 2, 2, 5, 40, 300}, 0.0, 0.1},
      {"mixed widths, missing copies", 40, 2, 200, {1, 2, 3, 10, 300}, 0.05},
      {"two codes of several, diploid", 50, 2, 150, {3, 5, 200}, 0.0, 0.1, 2},
      {"two codes of several, haploid", 50, 1, 300, {1, 2, 3}, 0.0, 0.1, 2},
      {"three codes of four, diploid", 50, 2, 300, {3}, 0.0, 0.1, 3},
      {"three codes of four, haploid", 50, 1, 300, {3}, 0.0, 0.1, 3},
      {"several blocks of count columns", 12, 2, 1200, {2}, 0.3},
      {"several blocks of plane words", 4, 2, 17000, {2}},
      {"ploidy 15: byte lanes moved every locus", 20, 15, 40, {2, 3}, 0.1},
      {"ploidy 16: code against code", 12, 16, 20, {3}, 0.1},
  };
  unsigned long seed = 1;
  for (const TableCase& c : cases) {
    for (int repeat = 0; repeat < (c.N > 100 ? 1 : 2); ++repeat, ++seed) {
      SCOPED_TRACE(std::string(c.what) + ", seed " + std::to_string(seed));
      const GenotypeTable X = RandomCodedTable(seed, c);
      const GenotypeValues values = DecodeGenotypeTable(X);
      for (bool sharing : {true, false}) {
        if (!sharing && c.N > 100) continue;  // the Euclidean kind has one path, tested elsewhere
        const CondensedDistances reference = ReferenceHClusteringDistance(values, sharing);
        for (int32_t threads : {1, 2, 3, 8}) {
          ASSERT_TRUE(SameBits(HClusteringDistance(X, sharing, threads), reference))
              << (sharing ? "allele sharing" : "Euclidean") << ", " << threads << " threads";
        }
        if (sharing) {
          ASSERT_TRUE(SameBits(PortableSharingDistance(X, 1), reference)) << "portable kernels";
          ASSERT_TRUE(SameBits(PortableSharingDistance(X, 3), reference)) << "portable kernels";
        }
      }
    }
  }
}

TEST(HClusteringStart, RefusesADistanceMatrixBeyondMemory) {
  // 1,000,000 individuals need 5e11 distances (4 TB): refused before any is made.
  const std::string dir = MakeTempDir();
  const ProgramResult r = RunProgram(
      {"-Ds", "-Fd.txt", "-o" + dir, "-N1000000", "-A1", "-L1", "-K2", "-I1", "-mc"}, "", 60.0);
  EXPECT_EQ(r.exitCode, 1);
  const std::regex line(
      "Not enough memory for the distances of 1000000 individuals \\([0-9.]+ GiB needed, "
      "[0-9.]+ GiB on this computer\\) - HClusteringDistance\n");
  EXPECT_TRUE(std::regex_match(r.err, line)) << r.err;
  EXPECT_FALSE(FileExists(dir + "/d.txtTR.txt"));
}
