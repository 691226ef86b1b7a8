// PLINK .bed genotypes turned into copy codes, 32 loci x 32 individuals at a time.
//
// A .bed genotype is 2 bits: 0 both copies the first .bim allele (A1), 1 missing,
// 2 heterozygous, 3 both copies the second allele (A2). A heterozygote's copy 0 is A2 and its
// copy 1 is A1, the order of plink's VCF export (REF = A2, GT "0/1").
#pragma once

#include <cstddef>
#include <cstdint>

// How a locus's alleles are coded (codes follow the ascending allele values of the alleles
// observed at the locus).
enum class BedLocusKind {
  kTwo,      // A1 code 0, A2 code 1, missing 2
  kSwapped,  // A2 code 0, A1 code 1, missing 2
  kSingle,   // one allele value observed: code 0, missing 1
  kNone,     // no allele observed: missing 0 (also every lane past the last locus)
};

// The kinds of the 32 loci of a tile, one bit per locus at the low bit of its 2-bit lane.
struct BedTileMasks {
  uint64_t two = 0;      // kTwo or kSwapped
  uint64_t swapped = 0;  // kSwapped
  uint64_t single = 0;   // kSingle
};

void SetBedLocusKind(BedTileMasks& masks, int32_t locus, BedLocusKind kind);

// in[i]: locus i of the tile, individual j at bits 2j and 2j + 1 (as a .bed stores 32
// consecutive individuals of one variant in 8 bytes). Writes copy0[j] and copy1[j]: the
// codes of individual j's copies 0 and 1, locus i at bits 2i and 2i + 1, as the rows of a
// coded table hold them. The plain form, one 64-bit word at a time.
void CodeBedTile(const uint64_t in[32], const BedTileMasks& masks, uint64_t copy0[32],
                 uint64_t copy1[32]);

// The instructions CodeBedTiles uses: 64-bit words (any machine), SSE2 (two tiles at once,
// every x86-64) or AVX2 (four tiles at once). All give the same codes.
enum class BedTileCode { kWords, kSse2, kAvx2 };
bool BedTileCodeAvailable(BedTileCode code);
BedTileCode FastestBedTileCode();

// Up to 128 individuals (lanes) of one tile column: the 32-byte run of locus i (i < loci;
// loci past that count as empty) starts at first + i * stride, individual j at byte j / 4.
// The codes of individual j go to the row words out[(2j) * rowStride] (copy 0) and
// out[(2j + 1) * rowStride] (copy 1), for j below lanes. 32 bytes are read from each run
// whatever lanes is.
void CodeBedTiles(const uint8_t* first, size_t stride, int32_t loci, const BedTileMasks& masks,
                  int32_t lanes, uint64_t* out, size_t rowStride,
                  BedTileCode code = FastestBedTileCode());

// The codes of the two copies of one genotype at a locus of the kind: the literal rule.
void CodeBedGenotype(uint32_t genotype, BedLocusKind kind, uint32_t& code0, uint32_t& code1);
