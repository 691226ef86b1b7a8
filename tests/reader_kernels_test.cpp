// The hot routines of the readers against literal references, bit for bit on seeded random
// inputs: the .bed tile coder against the per-genotype rule, the locus-by-locus table
// builder against LayOutGenotypeTable with every code set one at a time.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "data/bed_tile.h"
#include "data/genotype_table.h"
#include "data/locus_table_builder.h"

namespace {

const BedLocusKind kKinds[] = {BedLocusKind::kTwo, BedLocusKind::kSwapped, BedLocusKind::kSingle,
                               BedLocusKind::kNone};

TEST(BedTile, EveryInstructionSetMatchesTheGenotypeRule) {
  std::mt19937_64 bits(20240611);
  for (const BedTileCode code : {BedTileCode::kWords, BedTileCode::kSse2, BedTileCode::kAvx2}) {
    if (!BedTileCodeAvailable(code)) continue;
    for (int round = 0; round < 200; ++round) {
      // 32 loci of up to 128 individuals: 32 bytes per locus, with bytes in between.
      const size_t stride = 40;
      std::vector<uint8_t> bytes(32 * stride + 32);
      for (uint8_t& b : bytes) b = static_cast<uint8_t>(bits());
      const int32_t loci = round % 3 == 0 ? static_cast<int32_t>(bits() % 33) : 32;
      const int32_t lanes = round % 4 == 0 ? 1 + static_cast<int32_t>(bits() % 128) : 128;
      BedTileMasks masks;
      BedLocusKind kind[32];
      for (int32_t i = 0; i < 32; ++i) {
        kind[i] = i < loci ? kKinds[bits() % 4] : BedLocusKind::kNone;
        SetBedLocusKind(masks, i, kind[i]);
      }
      // Rows of 3 words; the tile writes word 1 of the rows of its individuals only.
      const uint64_t kUntouched = 0x0123456789abcdefull;
      std::vector<uint64_t> rows(2 * 128 * 3 + 3, kUntouched);
      CodeBedTiles(bytes.data(), stride, loci, masks, lanes, rows.data() + 1, 3, code);
      for (int32_t j = 0; j < 128; ++j) {
        for (int32_t a = 0; a < 2; ++a) {
          const uint64_t word = rows[(2 * j + a) * 3 + 1];
          ASSERT_EQ(rows[(2 * j + a) * 3], kUntouched);
          if (j >= lanes) {
            ASSERT_EQ(word, kUntouched) << "individual " << j << " past the lanes";
            continue;
          }
          for (int32_t i = 0; i < 32; ++i) {
            // Individual j of locus i: byte j / 4, bits 2 (j % 4).
            const uint32_t genotype =
                i < loci ? (bytes[i * stride + j / 4] >> (2 * (j % 4))) & 3u : 0u;
            uint32_t code0 = 0, code1 = 0;
            CodeBedGenotype(genotype, kind[i], code0, code1);
            ASSERT_EQ((word >> (2 * i)) & 3, a == 0 ? code0 : code1)
                << "code " << static_cast<int>(code) << ", round " << round << ", individual " << j
                << ", locus " << i << ", copy " << a;
          }
        }
      }
    }
  }
}

TEST(BedTile, GenotypeRuleFollowsPlinkVcfOrder) {
  // Written out by hand from the .bed definition and plink's VCF export (REF = A2, a
  // heterozygote "0/1": copy 0 A2, copy 1 A1). Rows: genotype 0..3; columns: kinds.
  const uint32_t expected[4][4][2] = {
      {{0, 0}, {1, 1}, {0, 0}, {0, 0}},  // A1 A1
      {{2, 2}, {2, 2}, {1, 1}, {0, 0}},  // missing
      {{1, 0}, {0, 1}, {0, 0}, {0, 0}},  // A2 A1
      {{1, 1}, {0, 0}, {0, 0}, {0, 0}},  // A2 A2
  };
  for (uint32_t g = 0; g < 4; ++g) {
    for (int k = 0; k < 4; ++k) {
      uint32_t c0 = 9, c1 = 9;
      CodeBedGenotype(g, kKinds[k], c0, c1);
      EXPECT_EQ(c0, expected[g][k][0]) << g << " " << k;
      EXPECT_EQ(c1, expected[g][k][1]) << g << " " << k;
    }
  }
}

TEST(LocusTableBuilder, LaysOutAsTheWholeTableLayout) {
  std::mt19937 bits(77);
  for (int round = 0; round < 30; ++round) {
    const int32_t N = 1 + static_cast<int32_t>(bits() % 9),
                  A = 1 + static_cast<int32_t>(bits() % 3);
    const int32_t L = static_cast<int32_t>(bits() % 700);
    // Allele counts that give every width, often enough to open new blocks mid-way.
    Vector2D<int32_t> values(L);
    std::vector<int32_t> missing(L);
    for (int32_t l = 0; l < L; ++l) {
      static const int32_t kJ[] = {0, 1, 2, 3, 4, 14, 15, 200, 70000};
      const int32_t J = kJ[bits() % (round % 5 == 0 ? 9 : 5)];
      for (int32_t j = 0; j < J; ++j) values[l].push_back(3 * j + 1);
      missing[l] = -static_cast<int32_t>(1 + bits() % 9);
    }
    GenotypeTable expected;
    LayOutGenotypeTable(expected, N, A, L, values, missing);
    LocusTableBuilder builder(N, A);
    std::vector<uint32_t> codes(static_cast<size_t>(N) * A);
    for (int32_t l = 0; l < L; ++l) {
      for (int32_t r = 0; r < N * A; ++r) {
        codes[r] = static_cast<uint32_t>(bits() % (values[l].size() + 1));
        SetGenotypeCode(expected, r / A, r % A, l, codes[r]);
      }
      builder.AddLocus(values[l], missing[l], codes.data());
    }
    GenotypeTable built;
    builder.Finish(built);
    ASSERT_EQ(built.N, N);
    ASSERT_EQ(built.A, A);
    ASSERT_EQ(built.L, L);
    ASSERT_EQ(built.width, expected.width) << "round " << round;
    ASSERT_EQ(built.position, expected.position);
    ASSERT_EQ(built.blockOf, expected.blockOf);
    ASSERT_EQ(built.blocks.size(), expected.blocks.size());
    for (size_t b = 0; b < built.blocks.size(); ++b) {
      EXPECT_EQ(built.blocks[b].firstLocus, expected.blocks[b].firstLocus);
      EXPECT_EQ(built.blocks[b].endLocus, expected.blocks[b].endLocus);
      EXPECT_EQ(built.blocks[b].rowWords, expected.blocks[b].rowWords);
      EXPECT_EQ(built.blocks[b].start, expected.blocks[b].start);
    }
    ASSERT_EQ(built.words, expected.words) << "round " << round;
    ASSERT_EQ(built.alleleValues, expected.alleleValues);
    ASSERT_EQ(built.missingValue, expected.missingValue);
  }
}

}  // namespace
