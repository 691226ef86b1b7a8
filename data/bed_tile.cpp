#include "data/bed_tile.h"

#include <algorithm>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace {

// At step s of the transposition, entry (i, j + b) trades places with (i + b, j) for every
// i and j without bit b, b = 16 >> s; kLowHalves[s] selects the entries j without bit b.
constexpr uint64_t kLowHalves[5] = {0x00000000FFFFFFFFull, 0x0000FFFF0000FFFFull,
                                    0x00FF00FF00FF00FFull, 0x0F0F0F0F0F0F0F0Full,
                                    0x3333333333333333ull};
constexpr uint64_t kLow = 0x5555555555555555ull;

// Stores the codes of the first `lanes` of the 32 individuals of one tile.
inline void StoreTile(const uint64_t copy0[32], const uint64_t copy1[32], int32_t lanes,
                      uint64_t* out, size_t rowStride) {
  for (int32_t j = 0; j < lanes; ++j, out += 2 * rowStride) {
    out[0] = copy0[j];
    out[rowStride] = copy1[j];
  }
}

void CodeTilesWords(const uint8_t* first, size_t stride, int32_t loci, const BedTileMasks& masks,
                    int32_t lanes, uint64_t* out, size_t rowStride) {
  uint64_t in[32], copy0[32], copy1[32];
  for (int32_t t = 0; t * 32 < lanes; ++t) {
    for (int32_t i = 0; i < 32; ++i) {
      in[i] = 0;
      if (i < loci) std::memcpy(in + i, first + i * stride + 8 * t, 8);
    }
    CodeBedTile(in, masks, copy0, copy1);
    StoreTile(copy0, copy1, std::min(32, lanes - 32 * t), out + 64 * t * rowStride, rowStride);
  }
}

#if defined(__x86_64__)
// The steps of CodeBedTile on two tiles at once, one in each 64-bit lane.
void CodeTilesSse2(const uint8_t* first, size_t stride, int32_t loci, const BedTileMasks& masks,
                   int32_t lanes, uint64_t* out, size_t rowStride) {
  const __m128i lowBits = _mm_set1_epi64x(static_cast<long long>(kLow));
  const __m128i two = _mm_set1_epi64x(static_cast<long long>(masks.two));
  const __m128i swapped = _mm_set1_epi64x(static_cast<long long>(masks.swapped));
  const __m128i single = _mm_set1_epi64x(static_cast<long long>(masks.single));
  for (int32_t p = 0; p * 64 < lanes; ++p) {
    __m128i r[32];
    for (int32_t i = 0; i < 32; ++i) {
      r[i] = i < loci
                 ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(first + i * stride + 16 * p))
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
    alignas(16) uint64_t c0[2][32], c1[2][32];
    for (int j = 0; j < 32; ++j) {
      const __m128i lo = _mm_and_si128(r[j], lowBits);
      const __m128i hi = _mm_and_si128(_mm_srli_epi64(r[j], 1), lowBits);
      const __m128i missing = _mm_andnot_si128(hi, lo);
      const __m128i codeHi = _mm_slli_epi64(_mm_and_si128(missing, two), 1);
      const __m128i flip = _mm_andnot_si128(missing, swapped);
      const __m128i singleMissing = _mm_and_si128(missing, single);
      const __m128i lo0 = _mm_or_si128(_mm_and_si128(_mm_xor_si128(hi, flip), two), singleMissing);
      const __m128i lo1 = _mm_or_si128(
          _mm_and_si128(_mm_xor_si128(_mm_and_si128(hi, lo), flip), two), singleMissing);
      alignas(16) uint64_t w0[2], w1[2];
      _mm_store_si128(reinterpret_cast<__m128i*>(w0), _mm_or_si128(codeHi, lo0));
      _mm_store_si128(reinterpret_cast<__m128i*>(w1), _mm_or_si128(codeHi, lo1));
      c0[0][j] = w0[0];
      c0[1][j] = w0[1];
      c1[0][j] = w1[0];
      c1[1][j] = w1[1];
    }
    for (int32_t h = 0; h < 2; ++h) {
      const int32_t tile = 2 * p + h;
      if (32 * tile >= lanes) break;
      StoreTile(c0[h], c1[h], std::min(32, lanes - 32 * tile), out + 64 * tile * rowStride,
                rowStride);
    }
  }
}

// The same on four tiles at once.
__attribute__((target("avx2"))) void CodeTilesAvx2(const uint8_t* first, size_t stride,
                                                   int32_t loci, const BedTileMasks& masks,
                                                   int32_t lanes, uint64_t* out, size_t rowStride) {
  const __m256i lowBits = _mm256_set1_epi64x(static_cast<long long>(kLow));
  const __m256i two = _mm256_set1_epi64x(static_cast<long long>(masks.two));
  const __m256i swapped = _mm256_set1_epi64x(static_cast<long long>(masks.swapped));
  const __m256i single = _mm256_set1_epi64x(static_cast<long long>(masks.single));
  __m256i r[32];
  for (int32_t i = 0; i < 32; ++i) {
    r[i] = i < loci ? _mm256_loadu_si256(reinterpret_cast<const __m256i*>(first + i * stride))
                    : _mm256_setzero_si256();
  }
  // Steps of 32-, 16- and 8-bit units trade halves by a shuffle and a blend: row i keeps
  // its low half of each unit pair and takes row i + b's low half as its high half; row
  // i + b takes row i's high half as its low half.
  const __m256i swap16 = _mm256_setr_epi8(2, 3, 0, 1, 6, 7, 4, 5, 10, 11, 8, 9, 14, 15, 12, 13, 2,
                                          3, 0, 1, 6, 7, 4, 5, 10, 11, 8, 9, 14, 15, 12, 13);
  const __m256i swap8 = _mm256_setr_epi8(1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14, 1, 0,
                                         3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14);
  const __m256i oddBytes = _mm256_set1_epi16(static_cast<short>(0xFF00));
  for (int i = 0; i < 16; ++i) {
    const __m256i a = r[i], c = r[i + 16];
    r[i] = _mm256_blend_epi32(a, _mm256_shuffle_epi32(c, 0xB1), 0xAA);
    r[i + 16] = _mm256_blend_epi32(_mm256_shuffle_epi32(a, 0xB1), c, 0xAA);
  }
  for (int i = 0; i < 32; ++i) {
    if (i & 8) continue;
    const __m256i a = r[i], c = r[i + 8];
    r[i] = _mm256_blend_epi16(a, _mm256_shuffle_epi8(c, swap16), 0xAA);
    r[i + 8] = _mm256_blend_epi16(_mm256_shuffle_epi8(a, swap16), c, 0xAA);
  }
  for (int i = 0; i < 32; ++i) {
    if (i & 4) continue;
    const __m256i a = r[i], c = r[i + 4];
    r[i] = _mm256_blendv_epi8(a, _mm256_shuffle_epi8(c, swap8), oddBytes);
    r[i + 4] = _mm256_blendv_epi8(_mm256_shuffle_epi8(a, swap8), c, oddBytes);
  }
  for (int step = 3; step < 5; ++step) {
    const int b = 16 >> step;
    const __m128i shift = _mm_cvtsi32_si128(2 * b);
    const __m256i low = _mm256_set1_epi64x(static_cast<long long>(kLowHalves[step]));
    for (int i = 0; i < 32; ++i) {
      if (i & b) continue;
      const __m256i t =
          _mm256_and_si256(_mm256_xor_si256(_mm256_srl_epi64(r[i], shift), r[i + b]), low);
      r[i] = _mm256_xor_si256(r[i], _mm256_sll_epi64(t, shift));
      r[i + b] = _mm256_xor_si256(r[i + b], t);
    }
  }
  // Individual 32h + j of the four tiles: lane h of vector j. Full groups store each lane
  // straight into its row; a group cut short goes through a buffer.
  alignas(32) uint64_t c0[32][4], c1[32][4];
  const bool full = lanes == 128;
  for (int j = 0; j < 32; ++j) {
    const __m256i lo = _mm256_and_si256(r[j], lowBits);
    const __m256i hi = _mm256_and_si256(_mm256_srli_epi64(r[j], 1), lowBits);
    const __m256i missing = _mm256_andnot_si256(hi, lo);
    const __m256i codeHi = _mm256_slli_epi64(_mm256_and_si256(missing, two), 1);
    const __m256i flip = _mm256_andnot_si256(missing, swapped);
    const __m256i singleMissing = _mm256_and_si256(missing, single);
    const __m256i lo0 =
        _mm256_or_si256(_mm256_and_si256(_mm256_xor_si256(hi, flip), two), singleMissing);
    const __m256i lo1 = _mm256_or_si256(
        _mm256_and_si256(_mm256_xor_si256(_mm256_and_si256(hi, lo), flip), two), singleMissing);
    const __m256i w0 = _mm256_or_si256(codeHi, lo0), w1 = _mm256_or_si256(codeHi, lo1);
    if (full) {
      uint64_t* row = out + 2 * j * rowStride;
      const size_t tile = 64 * rowStride;  // rows between individuals j and 32 + j
      const __m128i a0 = _mm256_castsi256_si128(w0), b0 = _mm256_extracti128_si256(w0, 1);
      const __m128i a1 = _mm256_castsi256_si128(w1), b1 = _mm256_extracti128_si256(w1, 1);
      _mm_storel_epi64(reinterpret_cast<__m128i*>(row), a0);
      _mm_storel_epi64(reinterpret_cast<__m128i*>(row + rowStride), a1);
      _mm_storeh_pd(reinterpret_cast<double*>(row + tile), _mm_castsi128_pd(a0));
      _mm_storeh_pd(reinterpret_cast<double*>(row + tile + rowStride), _mm_castsi128_pd(a1));
      _mm_storel_epi64(reinterpret_cast<__m128i*>(row + 2 * tile), b0);
      _mm_storel_epi64(reinterpret_cast<__m128i*>(row + 2 * tile + rowStride), b1);
      _mm_storeh_pd(reinterpret_cast<double*>(row + 3 * tile), _mm_castsi128_pd(b0));
      _mm_storeh_pd(reinterpret_cast<double*>(row + 3 * tile + rowStride), _mm_castsi128_pd(b1));
    } else {
      _mm256_store_si256(reinterpret_cast<__m256i*>(c0[j]), w0);
      _mm256_store_si256(reinterpret_cast<__m256i*>(c1[j]), w1);
    }
  }
  if (full) return;
  for (int32_t j = 0; j < lanes; ++j) {
    out[2 * j * rowStride] = c0[j % 32][j / 32];
    out[(2 * j + 1) * rowStride] = c1[j % 32][j / 32];
  }
}
#endif

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

bool BedTileCodeAvailable(BedTileCode code) {
  switch (code) {
    case BedTileCode::kWords:
      return true;
#if defined(__x86_64__)
    case BedTileCode::kSse2:
      return true;
    case BedTileCode::kAvx2:
      return __builtin_cpu_supports("avx2");
#else
    default:
      return false;
#endif
  }
  return false;
}

BedTileCode FastestBedTileCode() {
  static const BedTileCode fastest = BedTileCodeAvailable(BedTileCode::kAvx2) ? BedTileCode::kAvx2
                                     : BedTileCodeAvailable(BedTileCode::kSse2)
                                         ? BedTileCode::kSse2
                                         : BedTileCode::kWords;
  return fastest;
}

void CodeBedTiles(const uint8_t* first, size_t stride, int32_t loci, const BedTileMasks& masks,
                  int32_t lanes, uint64_t* out, size_t rowStride, BedTileCode code) {
  switch (code) {
#if defined(__x86_64__)
    case BedTileCode::kAvx2:
      CodeTilesAvx2(first, stride, loci, masks, lanes, out, rowStride);
      return;
    case BedTileCode::kSse2:
      CodeTilesSse2(first, stride, loci, masks, lanes, out, rowStride);
      return;
#endif
    default:
      CodeTilesWords(first, stride, loci, masks, lanes, out, rowStride);
      return;
  }
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
