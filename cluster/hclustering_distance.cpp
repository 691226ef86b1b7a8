// The pairwise dissimilarities of hierarchical clustering: allele sharing, counted from bit
// planes and per-code count columns built once from the coded table, and Euclidean.
#include <sys/mman.h>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <omp.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>
#include <string>

#include "cluster/hclustering.h"
#include "data/memory_check.h"
#include "data/messages.h"

// The counting kernels are compiled for x86-64-v3 (AVX2, POPCNT) and for plain x86-64 (with
// POPCNT alone as a middle step); the loader picks the one the processor runs. They count
// integers, so every version gives the same counts.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define EMCLADE_CPU_CLONES __attribute__((target_clones("arch=x86-64-v3", "popcnt", "default")))
#else
#define EMCLADE_CPU_CLONES
#endif

namespace {

// The engine reaches across the whole matrix at every merge: large pages spare most of the
// address-translation misses and page faults. Only advice; the memory is not touched yet.
void AdviseLargePages(void* start, size_t bytes) {
  const size_t page = 4096;
  const uintptr_t first = (reinterpret_cast<uintptr_t>(start) + page - 1) / page * page;
  const uintptr_t end = reinterpret_cast<uintptr_t>(start) + bytes;
  if (bytes >= (size_t{2} << 20) && end > first) {
    madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
  }
}

}  // namespace

CondensedDistances MakeCondensedDistances(int32_t N) {
  const int64_t n = std::max<int32_t>(N, 0);
  const int64_t entries = n * (n - 1) / 2;
  const std::string what = "the distances of " + std::to_string(N) + " individuals";
  RequireMemory(static_cast<double>(entries) * sizeof(double), what, "HClusteringDistance");
  CondensedDistances D;
  // The machine's memory may be in use elsewhere: a refused allocation ends the run too.
  try {
    D.reserve(static_cast<size_t>(entries));
  } catch (const std::exception&) {
    FailRun("Not enough memory for " + what + " - HClusteringDistance");
  }
  AdviseLargePages(D.data(), static_cast<size_t>(entries) * sizeof(double));
  D.resize(static_cast<size_t>(entries), 0.0);
  return D;
}

namespace {

// Where row i of the condensed layout starts: the pair (i, j) is at RowStart(N, i) + j - i - 1.
inline int64_t RowStart(int64_t N, int64_t i) {
  return CondensedIndex(N, i, i + 1);
}

// ---------------------------------------------------------------------------------------
// Allele-sharing dissimilarity.
//
// s(i, j) = number of (a, b, l) with code(i, a, l) == code(j, b, l): equal codes are equal
// values, the missing code included. s is a sum over loci, so the loci are split among
// three counters, each adding its integer part of s into D(i, j):
// - plane loci (ploidy 1 or 2, 2-bit codes, at most two codes occurring at the locus): bit
//   planes per individual, 64 loci per word, counted with AND/OR/XOR and popcount;
// - count loci (ploidy up to 15, at most 256 codes): for every code a column holding each
//   individual's number of copies of it; s adds, for each copy of i, the column of its code;
// - any other locus: code against code.
// D holds the running counts as doubles; every partial count is an integer below 2^53, so
// each addition is exact and D(i, j) is the same whatever the order of the additions and
// whichever thread makes them. Finally D = 1 - s / (A*A*L).

enum LocusKind : uint8_t { kPlaneLocus, kCountLocus, kOtherLocus };

constexpr uint64_t kEvenBits = 0x5555555555555555ULL;

// Bit 2k is set where the 2-bit field k of x (bits 2k, 2k + 1) is 0.
inline uint64_t ZeroFields2(uint64_t x) {
  return ~(x | (x >> 1)) & kEvenBits;
}

// The last counter to reach the entries turns each count into its dissimilarity, in the
// same pass: D = 1 - (count + added) / (A*A*L), added being the constant part of s that the
// plane loci leave out of their counts.
struct Finish {
  bool now = false;
  double added = 0.0;
  double denominator = 1.0;
};

inline double Finished(double count, const Finish& f) {
  return 1.0 - (count + f.added) / f.denominator;
}

// Word w of a block's row, as one position in the table's rows: every row (n, a) has the
// same words in every block, listed block by block.
struct RowWord {
  size_t first;      // index in X.words of this word in row (0, 0)
  int32_t rowWords;  // the block's words per row: the step from row (n, a) to the next
};

std::vector<RowWord> ListRowWords(const GenotypeTable& X, std::vector<int32_t>& firstOfBlock) {
  std::vector<RowWord> words;
  firstOfBlock.assign(X.blocks.size(), 0);
  for (size_t b = 0; b < X.blocks.size(); ++b) {
    firstOfBlock[b] = static_cast<int32_t>(words.size());
    for (int32_t w = 0; w < X.blocks[b].rowWords; ++w) {
      words.push_back(RowWord{X.blocks[b].start + static_cast<size_t>(w), X.blocks[b].rowWords});
    }
  }
  return words;
}

// Which codes 0..3 occur in the 2-bit fields of each row word over all rows:
// present[4 * g + c] has bit 2k set when some row holds code c in field k of word g.
// Each block is read row by row, in memory order.
std::vector<uint64_t> FindPresentCodes2(const GenotypeTable& X,
                                        const std::vector<int32_t>& firstOfBlock, size_t rowWords,
                                        int32_t threads) {
  const int64_t rows = static_cast<int64_t>(X.N) * X.A;
  const int32_t blocks = static_cast<int32_t>(X.blocks.size());
  std::vector<uint64_t> present(4 * rowWords, 0);
  constexpr uint64_t kRepeat[4] = {0, kEvenBits, kEvenBits << 1, ~uint64_t{0}};
#pragma omp parallel for num_threads(threads) schedule(dynamic, 1)
  for (int32_t b = 0; b < blocks; ++b) {
    const LocusBlock& block = X.blocks[b];
    uint64_t seen[kBlockRowWords][4] = {};
    for (int64_t r = 0; r < rows; ++r) {
      const uint64_t* row = X.words.data() + block.start + r * block.rowWords;
      for (int32_t w = 0; w < block.rowWords; ++w) {
        for (int32_t c = 0; c < 4; ++c) seen[w][c] |= ZeroFields2(row[w] ^ kRepeat[c]);
      }
    }
    for (int32_t w = 0; w < block.rowWords; ++w) {
      for (int32_t c = 0; c < 4; ++c) present[4 * (firstOfBlock[b] + w) + c] = seen[w][c];
    }
  }
  return present;
}

// Bit planes of the plane loci. The plane loci of row word g are its lanes, the even bits
// of mask[g]; pattern[g] holds the locus's higher occurring code in each of its fields.
// Plane word k takes the lanes of two row words with plane loci, the first on the even
// bits and the second on the odd bits; lanes that hold no plane locus are padding, and W
// is rounded up to whole groups of 4 words with words of padding.
// Ploidy 2: per word, het (the copies differ; 1 on padding) and hom (both copies carry the
// higher code; 0 on padding); group q of individual n is het words 4q..4q+3, then hom
// words 4q..4q+3, at bits[n * 2W + 8q]. Ploidy 1: high (the copy carries the higher code;
// 0 on padding), group q at bits[n * W + 4q].
constexpr int32_t kGroupWords = 4;

struct SharingPlanes {
  int32_t W = 0;               // plane words per individual, a multiple of kGroupWords
  int32_t planeLoci = 0;       // loci counted here
  std::vector<uint64_t> bits;  // individual n from bits[n * W * A]
};

struct PlaneSource {
  RowWord word;
  uint64_t mask, pattern;
};

void BuildPlanes(const GenotypeTable& X, const std::vector<PlaneSource>& sources, int32_t threads,
                 SharingPlanes& planes) {
  const int32_t A = X.A;
  const int32_t used = static_cast<int32_t>((sources.size() + 1) / 2);
  planes.W = (used + kGroupWords - 1) / kGroupWords * kGroupWords;
  const int32_t W = planes.W;
  planes.bits.assign(static_cast<size_t>(X.N) * W * A, 0);
  // Copy a's lanes of one source word for individual n: bit 2k set where field k holds
  // the higher code.
  auto high = [&](const PlaneSource& s, int32_t n, int32_t a) {
    const uint64_t x = X.words[s.word.first + (static_cast<size_t>(n) * A + a) * s.word.rowWords];
    return ZeroFields2(x ^ s.pattern) & s.mask;
  };
#pragma omp parallel for num_threads(threads) schedule(static)
  for (int32_t n = 0; n < X.N; ++n) {
    uint64_t* out = planes.bits.data() + static_cast<size_t>(n) * W * A;
    for (int32_t k = 0; k < W; ++k) {
      uint64_t lanes[2][2] = {{kEvenBits, 0}, {kEvenBits, 0}};  // [half][het, hom or high]
      for (int32_t half = 0; half < 2; ++half) {
        const size_t which = 2 * static_cast<size_t>(k) + half;
        if (which >= sources.size()) continue;
        const PlaneSource& s = sources[which];
        if (A == 1) {
          lanes[half][1] = high(s, n, 0);
        } else {
          const uint64_t b0 = high(s, n, 0);
          const uint64_t b1 = high(s, n, 1);
          lanes[half][0] = (b0 ^ b1) | (kEvenBits & ~s.mask);
          lanes[half][1] = b0 & b1;
        }
      }
      if (A == 1) {
        out[k] = lanes[0][1] | (lanes[1][1] << 1);
      } else {
        const int32_t at = 2 * (k - k % kGroupWords) + k % kGroupWords;
        out[at] = lanes[0][0] | (lanes[1][0] << 1);
        out[at + kGroupWords] = lanes[0][1] | (lanes[1][1] << 1);
      }
    }
  }
}

// Per plane word, lanes of ploidy 2 (padding lanes have het = 1 in both rows, so that t = 1,
// u = 1): with t = het_i | het_j and u = t | (hom_i ^ hom_j), a locus shares
//   4 copy pairs when neither is het and both homozygotes agree (u = 0),
//   2 when either is het (t = 1), 0 for opposite homozygotes (t = 0, u = 1),
// so s over a word = 2 pop(t) + 4 (64 - pop(u)) - 2 (padding lanes). Ploidy 1: s over a
// word = 64 - pop(high_i ^ high_j) - (padding lanes). The constant parts are added once at
// the end; here each pair adds 2 pop(t) - 4 pop(u) (ploidy 2) or -pop(x) (ploidy 1).
//
// The kernels take rows i and i + 1 against every later row j, groups [q0, q1) of words;
// a block of kPlaneBlockGroups groups of the two rows stays in the first-level cache.
constexpr int32_t kPlaneBlockGroups = 64;

inline void Add(double& entry, double count, const Finish& f) {
  entry = f.now ? Finished(entry + count, f) : entry + count;
}

// The pairs (i, j) and (i + 1, j) for j in [j0, j1), j > i + 1, and (i, i + 1) when
// j0 <= i + 1 < j1: one count per pair.
// Inlined into each kernel, so that it and the counting loop are compiled for the kernel's
// instruction set.
template <typename PairCounts>
[[gnu::always_inline]] inline void AddRowPairCounts(const SharingPlanes& P, int32_t N, int32_t A,
                                                    int32_t i, int32_t j0, int32_t j1,
                                                    const Finish& f, double* D, PairCounts counts) {
  const size_t stride = static_cast<size_t>(P.W) * A;
  const uint64_t* a0 = P.bits.data() + static_cast<size_t>(i) * stride;
  const uint64_t* a1 = a0 + stride;
  const int64_t row0 = RowStart(N, i) - (i + 1);  // D(i, j) is D[row0 + j]
  const int64_t row1 = RowStart(N, i + 1) - (i + 2);
  int64_t c0 = 0, c1 = 0;
  if (j0 <= i + 1 && i + 1 < j1) {
    counts(a0, a1, a1, c0, c1);
    Add(D[row0 + i + 1], static_cast<double>(c0), f);
  }
  for (int32_t j = std::max(j0, i + 2); j < j1; ++j) {
    counts(a0, a1, P.bits.data() + static_cast<size_t>(j) * stride, c0, c1);
    Add(D[row0 + j], static_cast<double>(c0), f);
    Add(D[row1 + j], static_cast<double>(c1), f);
  }
}

EMCLADE_CPU_CLONES
void AddPlaneCounts2(const SharingPlanes& P, int32_t N, int32_t i, int32_t j0, int32_t j1,
                     int32_t q0, int32_t q1, const Finish& f, double* D) {
  AddRowPairCounts(
      P, N, 2, i, j0, j1, f, D,
      [ q0, q1 ](const uint64_t* a0, const uint64_t* a1, const uint64_t* b, int64_t& c0,
                 int64_t& c1) __attribute__((always_inline)) {
        int64_t t0 = 0, u0 = 0, t1 = 0, u1 = 0;
        for (int32_t k = 8 * q0; k < 8 * q1; k += 8) {
          for (int32_t w = k; w < k + 4; ++w) {
            const uint64_t het = b[w], hom = b[w + 4];
            const uint64_t x0 = a0[w] | het;
            const uint64_t x1 = a1[w] | het;
            t0 += __builtin_popcountll(x0);
            u0 += __builtin_popcountll(x0 | (a0[w + 4] ^ hom));
            t1 += __builtin_popcountll(x1);
            u1 += __builtin_popcountll(x1 | (a1[w + 4] ^ hom));
          }
        }
        c0 = 2 * t0 - 4 * u0;
        c1 = 2 * t1 - 4 * u1;
      });
}

EMCLADE_CPU_CLONES
void AddPlaneCounts1(const SharingPlanes& P, int32_t N, int32_t i, int32_t j0, int32_t j1,
                     int32_t q0, int32_t q1, const Finish& f, double* D) {
  AddRowPairCounts(
      P, N, 1, i, j0, j1, f, D,
      [ q0, q1 ](const uint64_t* a0, const uint64_t* a1, const uint64_t* b, int64_t& c0,
                 int64_t& c1) __attribute__((always_inline)) {
        int64_t x0 = 0, x1 = 0;
        for (int32_t w = 4 * q0; w < 4 * q1; ++w) {
          x0 += __builtin_popcountll(a0[w] ^ b[w]);
          x1 += __builtin_popcountll(a1[w] ^ b[w]);
        }
        c0 = -x0;
        c1 = -x1;
      });
}

#if defined(__x86_64__) && defined(__GNUC__)
// The same counts with AVX2, 256 lanes at a time: each byte of a vector counted by table
// lookup on its two nibbles, the byte counts gathered for up to 31 groups (at most 248 in
// a byte) before they are summed into 64-bit lanes.
#define EMCLADE_AVX2 __attribute__((target("avx2")))

EMCLADE_AVX2 inline __m256i ByteCounts(__m256i v) {
  const __m256i table = _mm256_setr_epi8(0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4, 0, 1, 1, 2,
                                         1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4);
  const __m256i low = _mm256_set1_epi8(0x0f);
  const __m256i lo = _mm256_and_si256(v, low);
  const __m256i hi = _mm256_and_si256(_mm256_srli_epi16(v, 4), low);
  return _mm256_add_epi8(_mm256_shuffle_epi8(table, lo), _mm256_shuffle_epi8(table, hi));
}

EMCLADE_AVX2 inline int64_t SumLanes(__m256i v) {
  return _mm256_extract_epi64(v, 0) + _mm256_extract_epi64(v, 1) + _mm256_extract_epi64(v, 2) +
         _mm256_extract_epi64(v, 3);
}

EMCLADE_AVX2 inline __m256i Load(const uint64_t* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

EMCLADE_AVX2
void AddPlaneCounts2Avx2(const SharingPlanes& P, int32_t N, int32_t i, int32_t j0, int32_t j1,
                         int32_t q0, int32_t q1, const Finish& f, double* D) {
  AddRowPairCounts(
      P, N, 2, i, j0, j1, f, D,
      [q0, q1](const uint64_t* a0, const uint64_t* a1, const uint64_t* b, int64_t& c0, int64_t& c1)
          EMCLADE_AVX2 {
            const __m256i zero = _mm256_setzero_si256();
            __m256i t0 = zero, u0 = zero, t1 = zero, u1 = zero;
            for (int32_t r0 = q0; r0 < q1; r0 += 31) {
              __m256i bt0 = zero, bu0 = zero, bt1 = zero, bu1 = zero;
              for (int32_t q = r0; q < std::min(q1, r0 + 31); ++q) {
                const __m256i het = Load(b + 8 * q), hom = Load(b + 8 * q + 4);
                const __m256i x0 = _mm256_or_si256(Load(a0 + 8 * q), het);
                const __m256i x1 = _mm256_or_si256(Load(a1 + 8 * q), het);
                const __m256i y0 = _mm256_or_si256(x0, _mm256_xor_si256(Load(a0 + 8 * q + 4), hom));
                const __m256i y1 = _mm256_or_si256(x1, _mm256_xor_si256(Load(a1 + 8 * q + 4), hom));
                bt0 = _mm256_add_epi8(bt0, ByteCounts(x0));
                bu0 = _mm256_add_epi8(bu0, ByteCounts(y0));
                bt1 = _mm256_add_epi8(bt1, ByteCounts(x1));
                bu1 = _mm256_add_epi8(bu1, ByteCounts(y1));
              }
              t0 = _mm256_add_epi64(t0, _mm256_sad_epu8(bt0, zero));
              u0 = _mm256_add_epi64(u0, _mm256_sad_epu8(bu0, zero));
              t1 = _mm256_add_epi64(t1, _mm256_sad_epu8(bt1, zero));
              u1 = _mm256_add_epi64(u1, _mm256_sad_epu8(bu1, zero));
            }
            c0 = 2 * SumLanes(t0) - 4 * SumLanes(u0);
            c1 = 2 * SumLanes(t1) - 4 * SumLanes(u1);
          });
}

EMCLADE_AVX2
void AddPlaneCounts1Avx2(const SharingPlanes& P, int32_t N, int32_t i, int32_t j0, int32_t j1,
                         int32_t q0, int32_t q1, const Finish& f, double* D) {
  AddRowPairCounts(
      P, N, 1, i, j0, j1, f, D,
      [q0, q1](const uint64_t* a0, const uint64_t* a1, const uint64_t* b, int64_t& c0, int64_t& c1)
          EMCLADE_AVX2 {
            const __m256i zero = _mm256_setzero_si256();
            __m256i x0 = zero, x1 = zero;
            for (int32_t r0 = q0; r0 < q1; r0 += 31) {
              __m256i b0 = zero, b1 = zero;
              for (int32_t q = r0; q < std::min(q1, r0 + 31); ++q) {
                const __m256i high = Load(b + 4 * q);
                b0 = _mm256_add_epi8(b0, ByteCounts(_mm256_xor_si256(Load(a0 + 4 * q), high)));
                b1 = _mm256_add_epi8(b1, ByteCounts(_mm256_xor_si256(Load(a1 + 4 * q), high)));
              }
              x0 = _mm256_add_epi64(x0, _mm256_sad_epu8(b0, zero));
              x1 = _mm256_add_epi64(x1, _mm256_sad_epu8(b1, zero));
            }
            c0 = -SumLanes(x0);
            c1 = -SumLanes(x1);
          });
}

bool HasAvx2() {
  static const bool avx2 = __builtin_cpu_supports("avx2");
  return avx2;
}
#else
bool HasAvx2() {
  return false;
}
#define AddPlaneCounts2Avx2 AddPlaneCounts2
#define AddPlaneCounts1Avx2 AddPlaneCounts1
#endif

// The constant part of s over the plane loci (see AddPlaneCounts2 and AddPlaneCounts1).
int64_t PlaneConstant(const SharingPlanes& P, int32_t A) {
  const int64_t lanes = 64 * static_cast<int64_t>(P.W);
  const int64_t padding = lanes - P.planeLoci;
  return A == 1 ? lanes - padding : 4 * lanes - 2 * padding;
}

// Adds the plane loci's varying part of s to every pair. Rows are taken two at a time: tile
// t = rows 2t and 2t + 1 (with N odd the last row has no later rows), tile t on thread
// t mod threads, which makes every count of its pairs. Each thread goes through blocks of
// groups, and within a block through chunks of kPlaneChunkRows later rows, whose words stay
// in its second-level cache while its tiles are counted against them. f applies with the
// last block.
constexpr int32_t kPlaneChunkRows = 64;

void AddPlaneLociCounts(const SharingPlanes& P, int32_t N, int32_t A, Finish f, bool avx2,
                        int32_t threads, CondensedDistances& D) {
  const bool finishing = f.now;
  const int32_t tiles = N / 2;
  const int32_t groups = P.W / kGroupWords;
#pragma omp parallel num_threads(threads) firstprivate(f)
  {
    const int32_t team = omp_get_num_threads();
    const int32_t id = omp_get_thread_num();
    for (int32_t q0 = 0; q0 < groups; q0 += kPlaneBlockGroups) {
      const int32_t q1 = std::min(groups, q0 + kPlaneBlockGroups);
      f.now = finishing && q1 == groups;
      for (int32_t j0 = 0; j0 < N; j0 += kPlaneChunkRows) {
        const int32_t j1 = std::min(N, j0 + kPlaneChunkRows);
        // Tiles with a pair in [j0, j1): 2t + 1 < j1.
        for (int32_t t = id; t < tiles && 2 * t + 1 < j1; t += team) {
          if (A == 1) {
            (avx2 ? AddPlaneCounts1Avx2 : AddPlaneCounts1)(P, N, 2 * t, j0, j1, q0, q1, f,
                                                           D.data());
          } else {
            (avx2 ? AddPlaneCounts2Avx2 : AddPlaneCounts2)(P, N, 2 * t, j0, j1, q0, q1, f,
                                                           D.data());
          }
        }
      }
    }
  }
}

// Count loci. A block of count loci gets one column per code; column entry n is the number
// of copies of individual n with that code. The pairs are counted segment by segment:
// lanes j in [jb, jb + kSegment), every row i with i < jb + kSegment, s(i, j) = sum over
// (l, a) of column[code of copy a of i at l][j]. The columns are stored segment by segment
// (segment, code, lane), so that one segment of the block's columns is one contiguous run
// that stays in the core's second-level cache while every row reads it; starts[i][l][a]
// is where the column of i's copy a at locus l starts within a segment.
constexpr int32_t kSegment = 256;
constexpr int32_t kBlockColumns = 1024;  // codes per block: kBlockColumns * kSegment bytes
constexpr int32_t kBlockTerms = 1024;    // loci times copies per block

struct CountLocus {
  RowWord word;
  uint32_t shift, mask, codes;
};

typedef uint8_t ByteLanes __attribute__((vector_size(32)));
constexpr int32_t kLaneVectors = kSegment / 32;

// For lanes k in [from, to): out[k - from] += sum over terms t of columns[starts[t] + k]
// (k < kSegment), or the dissimilarity when f says so. A term adds at most one copy's count
// (A <= 15): byte lanes are moved into 16-bit ones every `period` terms (at most 255 in a
// byte lane), and a block's terms add at most 65535 in a 16-bit lane.
EMCLADE_CPU_CLONES
void CountSegment(const uint8_t* columns, const uint32_t* starts, int32_t terms, int32_t period,
                  int32_t from, int32_t to, const Finish& f, double* out) {
  uint16_t counts[kSegment] = {};
  for (int32_t t0 = 0; t0 < terms; t0 += period) {
    const int32_t t1 = std::min(terms, t0 + period);
    ByteLanes lanes[kLaneVectors] = {};
    for (int32_t t = t0; t < t1; ++t) {
      const uint8_t* column = columns + starts[t];
      for (int32_t v = 0; v < kLaneVectors; ++v) {
        ByteLanes x;
        std::memcpy(&x, column + 32 * v, sizeof(x));
        lanes[v] += x;
      }
    }
    uint8_t bytes[kSegment];
    std::memcpy(bytes, lanes, sizeof(bytes));
    for (int32_t k = 0; k < kSegment; ++k) counts[k] = static_cast<uint16_t>(counts[k] + bytes[k]);
  }
  const uint16_t* lane = counts + from;
  if (f.now) {
    for (int32_t k = 0; k < to - from; ++k) out[k] = Finished(out[k] + lane[k], f);
  } else {
    for (int32_t k = 0; k < to - from; ++k) out[k] += lane[k];
  }
}

void AddCountLociCounts(const GenotypeTable& X, const std::vector<CountLocus>& loci, Finish f,
                        int32_t threads, CondensedDistances& D) {
  const bool finishing = f.now;
  const int32_t N = X.N;
  const int32_t A = X.A;
  const size_t segments = (static_cast<size_t>(N) + kSegment - 1) / kSegment;
  const int32_t lociPerFlush = std::max(1, 255 / (A * A));
  const int32_t maxLoci = std::min(kBlockTerms / A, 65535 / (A * A));
  std::vector<uint8_t> columns;
  std::vector<uint32_t> starts(static_cast<size_t>(N) *
                               std::min<size_t>(kBlockTerms, loci.size() * A));
  std::vector<uint32_t> columnOf(maxLoci);
  std::vector<int64_t> itemsBefore(segments);
  int64_t items = 0;
  for (size_t segment = 0; segment < segments; ++segment) {
    itemsBefore[segment] = items;
    items += std::min<int64_t>(N - 1, static_cast<int64_t>(segment + 1) * kSegment);
  }
  for (size_t first = 0; first < loci.size();) {
    // The block: loci [first, end), at most kBlockColumns codes and maxLoci loci.
    size_t end = first;
    uint32_t codes = 0;
    while (end < loci.size() && static_cast<int32_t>(end - first) < maxLoci &&
           codes + loci[end].codes <= kBlockColumns) {
      columnOf[end - first] = codes;
      codes += loci[end].codes;
      ++end;
    }
    const int32_t blockLoci = static_cast<int32_t>(end - first);
    const int32_t terms = blockLoci * A;
    f.now = finishing && end == loci.size();
    const size_t segmentBytes = static_cast<size_t>(codes) * kSegment;
    columns.assign(segments * segmentBytes, 0);
    // Columns and starts, individuals in runs of 64 (no two threads write one cache line
    // of a column), locus by locus.
    const int32_t runs = (N + 63) / 64;
#pragma omp parallel for num_threads(threads) schedule(static)
    for (int32_t r = 0; r < runs; ++r) {
      const int32_t n0 = 64 * r;
      const int32_t n1 = std::min(N, n0 + 64);
      for (int32_t l = 0; l < blockLoci; ++l) {
        const CountLocus& locus = loci[first + l];
        const uint32_t columnStart = columnOf[l];
        for (int32_t a = 0; a < A; ++a) {
          for (int32_t n = n0; n < n1; ++n) {
            const uint64_t word =
                X.words[locus.word.first + (static_cast<size_t>(n) * A + a) * locus.word.rowWords];
            // Codes run to J[l]; anything above would stand for the missing value too.
            const uint32_t code =
                std::min(static_cast<uint32_t>(word >> locus.shift) & locus.mask, locus.codes - 1);
            const uint32_t start = (columnStart + code) * kSegment;
            starts[static_cast<size_t>(n) * terms + l * A + a] = start;
            ++columns[(n / kSegment) * segmentBytes + start + n % kSegment];
          }
        }
      }
    }
    // Work items: (segment, row i) for every row i < min(N - 1, end of the segment), in
    // segment order; each item adds the block's counts of its lanes, on one thread.
#pragma omp parallel for num_threads(threads) schedule(dynamic, 4)
    for (int64_t item = 0; item < items; ++item) {
      const int32_t segment = static_cast<int32_t>(
          std::upper_bound(itemsBefore.begin(), itemsBefore.end(), item) - itemsBefore.begin() - 1);
      const int32_t i = static_cast<int32_t>(item - itemsBefore[segment]);
      const int32_t jb = segment * kSegment;
      const int32_t from = std::max(0, i + 1 - jb);  // lanes k: j = jb + k > i
      double* out = D.data() + RowStart(N, i) + (jb + from - i - 1);
      CountSegment(columns.data() + segment * segmentBytes,
                   starts.data() + static_cast<size_t>(i) * terms, terms, lociPerFlush * A, from,
                   std::min(N - jb, kSegment), f, out);
    }
    first = end;
  }
}

// Other loci, any ploidy and any number of codes: codes by column, copy b of every
// individual at the locus's position p in the run columns[(p * A + b) * N ..]. For each
// distinct code w that i holds at a locus, m times, every copy of j equal to w adds m.
void AddOtherLociCounts(const GenotypeTable& X, const std::vector<int32_t>& others, const Finish& f,
                        int32_t threads, CondensedDistances& D) {
  const int32_t N = X.N;
  const int32_t A = X.A;
  const int32_t L = static_cast<int32_t>(others.size());
  std::vector<uint32_t> columns(static_cast<size_t>(N) * A * L);
  for (int32_t p = 0; p < L; ++p) {
    for (int32_t b = 0; b < A; ++b) {
      uint32_t* column = &columns[(static_cast<size_t>(p) * A + b) * N];
      for (int32_t n = 0; n < N; ++n) column[n] = GenotypeCode(X, n, b, others[p]);
    }
  }
#pragma omp parallel num_threads(threads)
  {
    std::vector<uint64_t> s(N);
    std::vector<uint32_t> own(A);
#pragma omp for schedule(static, 1)
    for (int32_t i = 0; i < N - 1; ++i) {
      std::fill(s.begin() + i + 1, s.end(), uint64_t{0});
      for (int32_t p = 0; p < L; ++p) {
        const uint32_t* locus = &columns[static_cast<size_t>(p) * A * N];
        for (int32_t a = 0; a < A; ++a) own[a] = locus[static_cast<size_t>(a) * N + i];
        for (int32_t a = 0; a < A; ++a) {
          const uint32_t w = own[a];
          bool seen = false;
          for (int32_t e = 0; e < a; ++e) seen = seen || own[e] == w;
          if (seen) continue;
          uint64_t m = 0;
          for (int32_t e = a; e < A; ++e) m += own[e] == w;
          for (int32_t b = 0; b < A; ++b) {
            const uint32_t* column = locus + static_cast<size_t>(b) * N;
            for (int32_t j = i + 1; j < N; ++j) s[j] += column[j] == w ? m : 0;
          }
        }
      }
      double* row = D.data() + RowStart(N, i);
      for (int32_t j = i + 1; j < N; ++j) Add(row[j - i - 1], static_cast<double>(s[j]), f);
    }
  }
}

void SharingDistances(const GenotypeTable& X, bool avx2, int32_t threads, CondensedDistances& D) {
  const int32_t A = X.A;
  const int32_t L = X.L;
  std::vector<int32_t> firstOfBlock;
  const std::vector<RowWord> words = ListRowWords(X, firstOfBlock);

  // Sort the loci. Plane loci need to know which codes occur: for ploidy 1 and 2 that is
  // found for every 2-bit field of the table at once.
  const bool planesPossible = A == 1 || A == 2;
  std::vector<uint64_t> present;
  if (planesPossible) present = FindPresentCodes2(X, firstOfBlock, words.size(), threads);
  std::vector<uint64_t> mask(words.size(), 0), pattern(words.size(), 0);
  std::vector<CountLocus> countLoci;
  std::vector<int32_t> otherLoci;
  int32_t planeLoci = 0;
  for (int32_t l = 0; l < L; ++l) {
    const int32_t width = X.width[l];
    const int32_t g = firstOfBlock[X.blockOf[l]] + X.position[l] / 64;
    const uint32_t shift = X.position[l] % 64;
    if (planesPossible && width == 2) {
      int32_t occurring = 0;
      uint64_t higher = 0;
      for (uint64_t c = 0; c < 4; ++c) {
        if ((present[4 * g + c] >> shift) & 1) {
          ++occurring;
          higher = c;
        }
      }
      if (occurring <= 2) {
        mask[g] |= uint64_t{1} << shift;
        pattern[g] |= higher << shift;
        ++planeLoci;
        continue;
      }
    }
    if (width <= 8 && A <= 15) {
      const uint32_t codes = static_cast<uint32_t>(X.alleleValues[l].size()) + 1;
      countLoci.push_back(CountLocus{words[g], shift, (1u << width) - 1, codes});
    } else {
      otherLoci.push_back(l);
    }
  }

  SharingPlanes planes;
  if (planeLoci > 0) {
    std::vector<PlaneSource> sources;
    for (size_t g = 0; g < words.size(); ++g) {
      if (mask[g] != 0) sources.push_back(PlaneSource{words[g], mask[g], pattern[g]});
    }
    BuildPlanes(X, sources, threads, planes);
    planes.planeLoci = planeLoci;
  }

  Finish f;
  f.added = planeLoci > 0 ? static_cast<double>(PlaneConstant(planes, A)) : 0.0;
  f.denominator = static_cast<double>(static_cast<int64_t>(A) * A * L);
  if (planeLoci > 0) {
    f.now = countLoci.empty() && otherLoci.empty();
    AddPlaneLociCounts(planes, X.N, A, f, avx2, threads, D);
    SharingPlanes().bits.swap(planes.bits);
  }
  if (!countLoci.empty()) {
    f.now = otherLoci.empty();
    AddCountLociCounts(X, countLoci, f, threads, D);
  }
  if (!otherLoci.empty()) {
    f.now = true;
    AddOtherLociCounts(X, otherLoci, f, threads, D);
  }
  // No locus (or no copy): every count is 0.
  if (planeLoci == 0 && countLoci.empty() && otherLoci.empty()) {
    for (double& d : D) d = Finished(d, f);
  }
}

// ---------------------------------------------------------------------------------------
// Euclidean dissimilarity. Per pair the squares are summed with a outer and l inner; the
// loop runs over j innermost, each j keeping its own sum in that order, and each row is
// summed by one thread. Differences and squares are exact 64-bit integers (|difference| <
// 2^32, so the square fits unsigned).
void EuclideanDistances(const GenotypeTable& X, int32_t threads, CondensedDistances& D) {
  const int32_t N = X.N;
  const int32_t A = X.A;
  const int32_t L = X.L;
  std::vector<int32_t> columns(static_cast<size_t>(N) * A * L);
  std::vector<int32_t> values(L);
  for (int32_t n = 0; n < N; ++n)
    for (int32_t a = 0; a < A; ++a) {
      DecodeGenotypeRow(X, n, a, values.data());
      for (int32_t l = 0; l < L; ++l) columns[(static_cast<size_t>(a) * L + l) * N + n] = values[l];
    }
#pragma omp parallel num_threads(threads)
  {
    std::vector<double> sum(N);
#pragma omp for schedule(static, 1)
    for (int32_t i = 0; i < N - 1; ++i) {
      std::fill(sum.begin() + i + 1, sum.end(), 0.0);
      for (int32_t a = 0; a < A; ++a) {
        for (int32_t l = 0; l < L; ++l) {
          const int32_t* column = &columns[(static_cast<size_t>(a) * L + l) * N];
          const int64_t own = column[i];
          for (int32_t j = i + 1; j < N; ++j) {
            const int64_t difference = column[j] - own;
            const uint64_t size = static_cast<uint64_t>(difference < 0 ? -difference : difference);
            sum[j] += static_cast<double>(size * size);
          }
        }
      }
      double* row = D.data() + RowStart(N, i);
      for (int32_t j = i + 1; j < N; ++j) row[j - i - 1] = std::sqrt(sum[j]);
    }
  }
}

}  // namespace

CondensedDistances HClusteringDistance(const GenotypeTable& X, bool sharingDistance,
                                       int32_t threads) {
  const int32_t N = X.N;
  if (N <= 0) return {};
  threads = std::max(threads, 1);
  CondensedDistances D = MakeCondensedDistances(N);
  if (sharingDistance) {
    SharingDistances(X, HasAvx2(), threads, D);
  } else {
    EuclideanDistances(X, threads, D);
  }
  return D;
}

CondensedDistances PortableSharingDistance(const GenotypeTable& X, int32_t threads) {
  if (X.N <= 0) return {};
  CondensedDistances D = MakeCondensedDistances(X.N);
  SharingDistances(X, false, std::max(threads, 1), D);
  return D;
}
