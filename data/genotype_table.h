// The genotype table X in coded form: every allele copy held as its allele index at its
// locus, packed at the narrowest width that holds the locus's alleles and one missing code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "data/vectors.h"

// The allele values of a table as they were read or simulated, X[n][a][l]: the form small
// callers and the tests build tables in; CodeGenotypeValues turns it into a GenotypeTable.
using GenotypeValues = Vector3D<int32_t>;

// Codes at a locus: 0 .. J[l] - 1 stand for AlleleValues[l][0 .. J[l] - 1] (ascending values),
// and J[l] is the missing code: the left-out negative value of the locus (its smallest value,
// when negative) or a copy a reader found missing. Equal values always have equal codes.
//
// Layout. The loci are cut into blocks of consecutive loci whose codes fill at most
// kBlockRowWords 64-bit words per copy. A block holds one row of words for every individual
// and copy, rows (n, a) in that order: the row of individual n, copy a in block b starts at
// word blocks[b].start + (n * A + a) * blocks[b].rowWords. Within its block's row, locus l
// takes width[l] bits (2, 4, 8, 16 or 32; the narrowest that holds J[l] + 1 codes) from bit
// position[l], a multiple of width[l], so that no code straddles two words. Bits that belong
// to no locus are 0.
constexpr int32_t kBlockRowWords = 16;

struct LocusBlock {
  int32_t firstLocus = 0;  // the block holds loci firstLocus .. endLocus - 1
  int32_t endLocus = 0;
  int32_t rowWords = 0;  // words per row (individual and copy)
  size_t start = 0;      // position of its first row in words
};

struct GenotypeTable {
  int32_t N = 0, A = 0, L = 0;
  std::vector<uint8_t> width;      // bits per code at each locus
  std::vector<uint16_t> position;  // bit position of each locus in its block's row
  std::vector<int32_t> blockOf;    // block of each locus
  std::vector<LocusBlock> blocks;
  std::vector<uint64_t> words;
  // AlleleValues: the ascending allele values of each locus (J[l] = its length).
  Vector2D<int32_t> alleleValues;
  // The value the missing code stands for at each locus when the table is written back as
  // text: the left-out negative value where there was one, else -9.
  std::vector<int32_t> missingValue;
};

// The narrowest code width (2, 4, 8, 16 or 32 bits) that holds `codes` distinct codes.
int32_t CodeWidth(int64_t codes);

// Sets the shape, the allele values (alleleValues, missingValue: L entries each) and the
// layout of X for them, with every code 0. X's previous content is dropped.
void LayOutGenotypeTable(GenotypeTable& X, int32_t N, int32_t A, int32_t L,
                         Vector2D<int32_t> alleleValues, std::vector<int32_t> missingValue);

// As LayOutGenotypeTable, but X.words is left empty: returns the number of words the table
// takes, for a caller that sizes and fills them block by block.
size_t LayOutGenotypeBlocks(GenotypeTable& X, int32_t N, int32_t A, int32_t L,
                            Vector2D<int32_t> alleleValues, std::vector<int32_t> missingValue);

// Bytes the words of an N x A x L table take when every locus has `bitsPerCode` bits.
double GenotypeTableBytes(double N, double A, double L, double bitsPerCode);

// The first word of the row of individual n, copy a in block b.
inline const uint64_t* BlockRow(const GenotypeTable& X, int32_t b, int32_t n, int32_t a) {
  const LocusBlock& block = X.blocks[b];
  return X.words.data() + block.start +
         (static_cast<size_t>(n) * X.A + a) * static_cast<size_t>(block.rowWords);
}
inline uint64_t* BlockRow(GenotypeTable& X, int32_t b, int32_t n, int32_t a) {
  const LocusBlock& block = X.blocks[b];
  return X.words.data() + block.start +
         (static_cast<size_t>(n) * X.A + a) * static_cast<size_t>(block.rowWords);
}

// The code of copy a of individual n at locus l.
inline uint32_t GenotypeCode(const GenotypeTable& X, int32_t n, int32_t a, int32_t l) {
  const uint64_t* row = BlockRow(X, X.blockOf[l], n, a);
  const uint32_t at = X.position[l];
  const uint64_t mask = (uint64_t{1} << X.width[l]) - 1;
  return static_cast<uint32_t>((row[at >> 6] >> (at & 63)) & mask);
}

// Writes code (below 2^width[l]) as copy a of individual n at locus l.
inline void SetGenotypeCode(GenotypeTable& X, int32_t n, int32_t a, int32_t l, uint32_t code) {
  uint64_t* row = BlockRow(X, X.blockOf[l], n, a);
  const uint32_t at = X.position[l];
  const uint64_t mask = (uint64_t{1} << X.width[l]) - 1;
  uint64_t& word = row[at >> 6];
  word = (word & ~(mask << (at & 63))) | (static_cast<uint64_t>(code) << (at & 63));
}

// The allele value code stands for at locus l (the missing value for the missing code).
inline int32_t CodeValue(const GenotypeTable& X, int32_t l, uint32_t code) {
  const std::vector<int32_t>& values = X.alleleValues[l];
  return code < values.size() ? values[code] : X.missingValue[l];
}

// The L values of copy a of individual n, decoded into out.
void DecodeGenotypeRow(const GenotypeTable& X, int32_t n, int32_t a, int32_t* out);

// The whole table as values (for tests and small tables).
GenotypeValues DecodeGenotypeTable(const GenotypeTable& X);

// Codes a table of values (shape from individual 0 and its copy 0), as allele coding does
// for a table read from a file.
GenotypeTable CodeGenotypeValues(const GenotypeValues& values);

// X as an N x A x L table of the value 0 (one allele, 0, at every locus; every code 0).
void InitGenotypeTable(GenotypeTable& X, int32_t N, int32_t A, int32_t L);

// The rows of the given individuals of X (in that order) as a table of their own, with X's
// loci, alleles and layout.
GenotypeTable SelectIndividuals(const GenotypeTable& X, const std::vector<int32_t>& individuals);

// A checksum of X's content (64-bit FNV-1a over the shape, the allele values and every code, n
// outer, then a, then l): the same for the same table however it was read, another for
// another (individuals' rows permuted, say).
uint64_t GenotypeTableChecksum(const GenotypeTable& X);
