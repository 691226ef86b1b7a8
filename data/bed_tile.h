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
// coded table hold them.
void CodeBedTile(const uint64_t in[32], const BedTileMasks& masks, uint64_t copy0[32],
                 uint64_t copy1[32]);

// Two tiles side by side, 64 individuals: the bytes of locus i (i < loci) start at
// first + i * stride and 16 are read (loci past `loci` count as empty); copy0[j], copy1[j] as
// CodeBedTile writes them, for individuals j = 0..63.
void CodeBedTilePair(const uint8_t* first, size_t stride, int32_t loci, const BedTileMasks& masks,
                     uint64_t copy0[64], uint64_t copy1[64]);

// The codes of the two copies of one genotype at a locus of the kind: the literal rule.
void CodeBedGenotype(uint32_t genotype, BedLocusKind kind, uint32_t& code0, uint32_t& code1);
