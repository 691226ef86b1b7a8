#include "data/bed_tile.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// At step s of the transposition, entry (i, j + b) trades places with (i + b, j) for every
// i and j without bit b, b = 16 >> s; kLowHalves[s] selects the entries j without bit b.
constexpr uint64_t kLowHalves[5] = {0x00000000FFFFFFFFull, 0x0000FFFF0000FFFFull,
                                    0x00FF00FF00FF00FFull, 0x0F0F0F0F0F0F0F0Full,
                                    0x3333333333333333ull};
constexpr uint64_t kLow = 0x5555555555555555ull;

}  // namespace

void SetBedLocusKind(BedTileMasks& masks, int32_t locus, BedLocusKind kind) {
  const uint64_t bit = uint64_t{1} << (2 * locus);
  masks.two &= ~bit;
  masks.swapped &= ~bit;
  masks.single &= ~bit;
  if (kind == BedLocusKind::kTwo || kind == BedLocusKind::kSwapped) masks.two |= bit;
  if (kind == BedLocusKind::kSwapped) masks.swapped |= bit;
  if (kind == BedLocusKind::kSingle) masks.single |= bit;
}

void CodeBedTile(const uint64_t in[32], const BedTileMasks& masks, uint64_t copy0[32],
                 uint64_t copy1[32]) {
  uint64_t r[32];
  for (int i = 0; i < 32; ++i) r[i] = in[i];
  // Transpose the 32 x 32 matrix of 2-bit entries (row i, entry j at bits 2j).
  for (int step = 0; step < 5; ++step) {
    const int b = 16 >> step;
    const int shift = 2 * b;
    const uint64_t low = kLowHalves[step];
    for (int i = 0; i < 32; ++i) {
      if (i & b) continue;
      const uint64_t t = ((r[i] >> shift) ^ r[i + b]) & low;
      r[i] ^= t << shift;
      r[i + b] ^= t;
    }
  }
  // Genotype bits (hi, lo) of every lane to the two codes; see CodeBedGenotype.
  for (int j = 0; j < 32; ++j) {
    const uint64_t lo = r[j] & kLow;
    const uint64_t hi = (r[j] >> 1) & kLow;
    const uint64_t missing = lo & ~hi;
    const uint64_t codeHi = missing & masks.two;            // missing at two alleles: code 2
    const uint64_t flip = masks.swapped & ~missing;         // A1 and A2 trade codes 0 and 1
    const uint64_t singleMissing = missing & masks.single;  // missing at one allele: code 1
    // Copy 0 holds A2 for a heterozygote or an A2 homozygote (hi set), copy 1 only for
    // the homozygote (hi and lo set).
    const uint64_t lo0 = ((hi ^ flip) & masks.two) | singleMissing;
    const uint64_t lo1 = (((hi & lo) ^ flip) & masks.two) | singleMissing;
    copy0[j] = (codeHi << 1) | lo0;
    copy1[j] = (codeHi << 1) | lo1;
  }
}

void CodeBedTilePair(const uint8_t* first, size_t stride, int32_t loci, const BedTileMasks& masks,
                     uint64_t copy0[64], uint64_t copy1[64]) {
#if defined(__SSE2__)
  // The scalar steps of CodeBedTile on both tiles at once, one in each 64-bit lane.
  __m128i r[32];
  for (int32_t i = 0; i < 32; ++i) {
    r[i] = i < loci ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(first + i * stride))
                    : _mm_setzero_si128();
  }
  for (int step = 0; step < 5; ++step) {
    const int b = 16 >> step;
    const __m128i shift = _mm_cvtsi32_si128(2 * b);
    const __m128i low = _mm_set1_epi64x(static_cast<long long>(kLowHalves[step]));
    for (int i = 0; i < 32; ++i) {
      if (i & b) continue;
      const __m128i t = _mm_and_si128(_mm_xor_si128(_mm_srl_epi64(r[i], shift), r[i + b]), low);
      r[i] = _mm_xor_si128(r[i], _mm_sll_epi64(t, shift));
      r[i + b] = _mm_xor_si128(r[i + b], t);
    }
  }
  const __m128i lowBits = _mm_set1_epi64x(static_cast<long long>(kLow));
  const __m128i two = _mm_set1_epi64x(static_cast<long long>(masks.two));
  const __m128i swapped = _mm_set1_epi64x(static_cast<long long>(masks.swapped));
  const __m128i single = _mm_set1_epi64x(static_cast<long long>(masks.single));
  for (int j = 0; j < 32; ++j) {
    const __m128i lo = _mm_and_si128(r[j], lowBits);
    const __m128i hi = _mm_and_si128(_mm_srli_epi64(r[j], 1), lowBits);
    const __m128i missing = _mm_andnot_si128(hi, lo);
    const __m128i codeHi = _mm_slli_epi64(_mm_and_si128(missing, two), 1);
    const __m128i flip = _mm_andnot_si128(missing, swapped);
    const __m128i singleMissing = _mm_and_si128(missing, single);
    const __m128i lo0 = _mm_or_si128(_mm_and_si128(_mm_xor_si128(hi, flip), two), singleMissing);
    const __m128i lo1 =
        _mm_or_si128(_mm_and_si128(_mm_xor_si128(_mm_and_si128(hi, lo), flip), two), singleMissing);
    alignas(16) uint64_t c0[2], c1[2];
    _mm_store_si128(reinterpret_cast<__m128i*>(c0), _mm_or_si128(codeHi, lo0));
    _mm_store_si128(reinterpret_cast<__m128i*>(c1), _mm_or_si128(codeHi, lo1));
    copy0[j] = c0[0];
    copy0[32 + j] = c0[1];
    copy1[j] = c1[0];
    copy1[32 + j] = c1[1];
  }
#else
  uint64_t in[2][32];
  for (int32_t i = 0; i < 32; ++i) {
    in[0][i] = in[1][i] = 0;
    if (i < loci) std::memcpy(in[0] + i, first + i * stride, 8);
    if (i < loci) std::memcpy(in[1] + i, first + i * stride + 8, 8);
  }
  CodeBedTile(in[0], masks, copy0, copy1);
  CodeBedTile(in[1], masks, copy0 + 32, copy1 + 32);
#endif
}

void CodeBedGenotype(uint32_t genotype, BedLocusKind kind, uint32_t& code0, uint32_t& code1) {
  // The alleles of the two copies: 1 for A1, 2 for A2, 0 for missing.
  uint32_t allele0 = 0, allele1 = 0;
  switch (genotype) {
    case 0:
      allele0 = allele1 = 1;
      break;
    case 2:
      allele0 = 2;
      allele1 = 1;
      break;
    case 3:
      allele0 = allele1 = 2;
      break;
    default:
      break;
  }
  auto code = [kind](uint32_t allele) -> uint32_t {
    switch (kind) {
      case BedLocusKind::kTwo:
        return allele == 0 ? 2 : allele - 1;
      case BedLocusKind::kSwapped:
        return allele == 0 ? 2 : 2 - allele;
      case BedLocusKind::kSingle:
        return allele == 0 ? 1 : 0;
      case BedLocusKind::kNone:
        return 0;
    }
    return 0;
  };
  code0 = code(allele0);
  code1 = code(allele1);
}
