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
// - plane loci (ploidy 1 or 2, 2-bit codes, at most three codes occurring at the locus):
//   bit planes per individual, 64 loci per word, counted with AND/OR/XOR and popcount;
// - count loci (ploidy up to 15, at most 256 codes): for every code a column holding each
//   individual's number of copies of it; s adds, for each copy of i, the column of its code;
// - any other locus: code against code.
// D holds the running counts as doubles; every partial count is an integer below 2^53, so
// each addition is exact and D(i, j) is the same whatever the order of the additions and
// whichever thread makes them. Finally D = 1 - s / (A*A*L).

constexpr uint64_t kEvenBits = 0x5555555555555555ULL;

// Bit 2k is set where the 2-bit field k of x (bits 2k, 2k + 1) is 0.
inline uint64_t ZeroFields2(uint64_t x) {
  return ~(x | (x >> 1)) & kEvenBits;
}

// The first counter to reach the entries writes its counts instead of adding them; the
// last one turns each count into its dissimilarity in the same pass: D = 1 - (count +
// added) / (A*A*L), added being the constant part of s that the plane loci leave out of
// their counts.
struct Finish {
  bool first = false;
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

// Bit planes. Plane loci have ploidy 1 or 2, 2-bit codes, and two codes at most (kind 2)
// or exactly three (kind 3) occurring at the locus; the occurring codes are ranked 0, 1
// (, 2) in ascending order. Per locus and individual, the planes hold one bit each:
// - kind 2, ploidy 1: high (the copy has rank 1);
// - kind 2, ploidy 2: het (the copies differ), hom (both have rank 1);
// - kind 3, ploidy 1: c1, c0 (the rank's two bits);
// - kind 3, ploidy 2: het, then c1, c0: the rank of both copies when they are equal, else
//   the rank that neither copy has.
// Lanes. The plane loci of row word g are the even bits of its source's mask; plane word k
// takes the lanes of two source words, the first on the even bits and the second on the
// odd bits. Lanes with no plane locus are padding: het = 1, every other plane 0. W is
// rounded up to groups of 4 words with words of padding. Group q of individual n: plane p
// words 4q..4q+3 at bits[(n * W + 4q) * planes + 4p].
constexpr int32_t kGroupWords = 4;

struct PlaneSource {
  RowWord word;
  uint64_t mask;        // even bits of the plane loci's fields
  uint64_t rank[4][2];  // rank[c][r]: fields where code c has bit r of its rank set
};

struct SharingPlanes {
  int32_t kind = 0;       // 2 or 3
  int32_t planes = 0;     // per locus: A (kind 2), A + 1 (kind 3)
  int32_t W = 0;          // plane words per individual, a multiple of kGroupWords
  int32_t planeLoci = 0;  // loci counted here
  std::vector<uint64_t> bits;
};

void BuildPlanes(const GenotypeTable& X, const std::vector<PlaneSource>& sources, int32_t kind,
                 int32_t threads, SharingPlanes& P) {
  const int32_t A = X.A;
  P.kind = kind;
  P.planes = kind == 2 ? A : A + 1;
  const int32_t used = static_cast<int32_t>((sources.size() + 1) / 2);
  P.W = (used + kGroupWords - 1) / kGroupWords * kGroupWords;
  const int32_t W = P.W;
  const int32_t planes = P.planes;
  P.bits.assign(static_cast<size_t>(X.N) * W * planes, 0);
  constexpr uint64_t kRepeat[4] = {0, kEvenBits, kEvenBits << 1, ~uint64_t{0}};
  // The rank of copy a of individual n in one source word: its bit r on the even bits.
  auto rank = [&](const PlaneSource& s, int32_t n, int32_t a, int32_t r) {
    const uint64_t x = X.words[s.word.first + (static_cast<size_t>(n) * A + a) * s.word.rowWords];
    uint64_t bit = 0;
    for (int32_t c = 0; c < 4; ++c) bit |= ZeroFields2(x ^ kRepeat[c]) & s.rank[c][r];
    return bit;
  };
#pragma omp parallel for num_threads(threads) schedule(static)
  for (int32_t n = 0; n < X.N; ++n) {
    uint64_t* out = P.bits.data() + static_cast<size_t>(n) * W * planes;
    for (int32_t k = 0; k < W; ++k) {
      uint64_t lanes[2][3] = {};  // [half][plane], on the even bits
      for (int32_t half = 0; half < 2; ++half) {
        uint64_t* plane = lanes[half];
        const size_t which = 2 * static_cast<size_t>(k) + half;
        const uint64_t padding =
            which < sources.size() ? kEvenBits & ~sources[which].mask : kEvenBits;
        if (which >= sources.size()) {
          if (A == 2) plane[0] = padding;
          continue;
        }
        const PlaneSource& s = sources[which];
        if (kind == 2 && A == 1) {
          plane[0] = rank(s, n, 0, 0);
        } else if (kind == 2) {
          const uint64_t b0 = rank(s, n, 0, 0), b1 = rank(s, n, 1, 0);
          plane[0] = (b0 ^ b1) | padding;
          plane[1] = b0 & b1;
        } else if (A == 1) {
          plane[0] = rank(s, n, 0, 1);
          plane[1] = rank(s, n, 0, 0);
        } else {
          const uint64_t a1 = rank(s, n, 0, 1), a0 = rank(s, n, 0, 0);
          const uint64_t b1 = rank(s, n, 1, 1), b0 = rank(s, n, 1, 0);
          const uint64_t het = (a1 ^ b1) | (a0 ^ b0);
          plane[0] = het | padding;
          plane[1] = (het & ~(a1 ^ b1) & s.mask) | (~het & a1);
          plane[2] = (het & ~(a0 ^ b0) & s.mask) | (~het & a0);
        }
      }
      const int32_t at = (k - k % kGroupWords) * planes + k % kGroupWords;
      for (int32_t p = 0; p < planes; ++p) {
        out[at + p * kGroupWords] = lanes[0][p] | (lanes[1][p] << 1);
      }
    }
  }
}

// What a pair counts on one word (or vector of words) of lanes, planes a of row i and b of
// row j: sets[k] with weight kWeight[k] each, s over the word = sum of weight * pop(set)
// plus a constant (added once at the end, see PlaneConstant).
// - kind 2, ploidy 1: a locus shares 1 - (high_i ^ high_j); set x = high_i ^ high_j.
// - kind 2, ploidy 2: with t = het_i | het_j, u = t | (hom_i ^ hom_j), a locus shares 4 when
//   u = 0 (equal homozygotes), 2 when t = 1 (a heterozygote), 0 otherwise (opposite
//   homozygotes): 2 t + 4 (1 - u); padding lanes add 2.
// - kind 3, ploidy 1: with z = (c1_i ^ c1_j) | (c0_i ^ c0_j), 1 - z.
// - kind 3, ploidy 2: with z as above, p = het_i & het_j, m = het_i ^ het_j: equal
//   homozygotes share 4, two heterozygotes 2 (the same two codes, z = 0) or 1, a
//   homozygote and a heterozygote 2 when the heterozygote holds its code (z = 1) or 0, and
//   opposite homozygotes 0: 4 (1 - y) + 2 x1 + x2 with y = z | het_i | het_j,
//   x1 = (p & ~z) | (m & z), x2 = p & z; padding lanes add 2.
template <int kKind, int kA>
struct PlaneKind {
  static constexpr int kPlanes = kKind == 2 ? kA : kA + 1;
  static constexpr int kSets = kA == 1 ? 1 : kKind;
  static constexpr int kWeight[3] = {kA == 1 ? -1 : (kKind == 2 ? 2 : -4), kKind == 2 ? -4 : 2, 1};
  template <typename V>
  [[gnu::always_inline]] static inline void Sets(const V* a, const V* b, V* sets) {
    if constexpr (kKind == 2 && kA == 1) {
      sets[0] = a[0] ^ b[0];
    } else if constexpr (kKind == 2) {
      const V t = a[0] | b[0];
      sets[0] = t;
      sets[1] = t | (a[1] ^ b[1]);
    } else if constexpr (kA == 1) {
      sets[0] = (a[0] ^ b[0]) | (a[1] ^ b[1]);
    } else {
      const V z = (a[1] ^ b[1]) | (a[2] ^ b[2]);
      const V p = a[0] & b[0];
      const V m = a[0] ^ b[0];
      sets[0] = z | a[0] | b[0];
      sets[1] = (p & ~z) | (m & z);
      sets[2] = p & z;
    }
  }
};

// The constant part of s over the plane loci: per word, 64 (ploidy 1) or 256 (ploidy 2),
// less the padding lanes' share (1 or 2 each).
int64_t PlaneConstant(const SharingPlanes& P, int32_t A) {
  const int64_t lanes = 64 * static_cast<int64_t>(P.W);
  const int64_t padding = lanes - P.planeLoci;
  return A == 1 ? lanes - padding : 4 * lanes - 2 * padding;
}

inline void Add(double& entry, double count, const Finish& f) {
  const double sum = f.first ? count : entry + count;
  entry = f.now ? Finished(sum, f) : sum;
}

// The pairs (i, j) and (i + 1, j) for j in [j0, j1), j > i + 1, and (i, i + 1) when
// j0 <= i + 1 < j1, over groups [q0, q1): counts(a0, a1, b, c0, c1) gives the varying part
// of s for (i, j) and (i + 1, j) from the rows' planes. The kernels are flattened: this and
// their counting loop are compiled for the kernel's instruction set.
template <typename PairCounts>
[[gnu::always_inline]] inline void AddRowPairCounts(const SharingPlanes& P, int32_t N, int32_t i,
                                                    int32_t j0, int32_t j1, const Finish& f,
                                                    double* D, PairCounts counts) {
  const size_t stride = static_cast<size_t>(P.W) * P.planes;
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

// Portable kernel, a word at a time.
template <int kKind, int kA>
EMCLADE_CPU_CLONES [[gnu::flatten]] void AddPlaneCounts(const SharingPlanes& P, int32_t N,
                                                        int32_t i, int32_t j0, int32_t j1,
                                                        int32_t q0, int32_t q1, const Finish& f,
                                                        double* D) {
  using Kind = PlaneKind<kKind, kA>;
  constexpr int32_t kStep = Kind::kPlanes * kGroupWords;
  AddRowPairCounts(P, N, i, j0, j1, f, D,
                   [q0, q1](const uint64_t* a0, const uint64_t* a1, const uint64_t* b, int64_t& c0,
                            int64_t& c1) {
                     int64_t n0[3] = {0, 0, 0}, n1[3] = {0, 0, 0};
                     for (int32_t q = q0; q < q1; ++q) {
                       for (int32_t w = 0; w < kGroupWords; ++w) {
                         uint64_t x0[Kind::kPlanes], x1[Kind::kPlanes], y[Kind::kPlanes];
                         for (int32_t p = 0; p < Kind::kPlanes; ++p) {
                           const size_t at = static_cast<size_t>(q) * kStep + p * kGroupWords + w;
                           x0[p] = a0[at];
                           x1[p] = a1[at];
                           y[p] = b[at];
                         }
                         uint64_t s0[3], s1[3];
                         Kind::Sets(x0, y, s0);
                         Kind::Sets(x1, y, s1);
                         for (int32_t k = 0; k < Kind::kSets; ++k) {
                           n0[k] += __builtin_popcountll(s0[k]);
                           n1[k] += __builtin_popcountll(s1[k]);
                         }
                       }
                     }
                     c0 = c1 = 0;
                     for (int32_t k = 0; k < Kind::kSets; ++k) {
                       c0 += Kind::kWeight[k] * n0[k];
                       c1 += Kind::kWeight[k] * n1[k];
                     }
                   });
}

#if defined(__x86_64__) && defined(__GNUC__)
// The same counts with AVX2, a group (256 lanes) at a time: each byte counted by table
// lookup on its two nibbles, the byte counts gathered for up to 31 groups (at most 248 in a
// byte) before they are summed into 64-bit lanes.
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

template <int kKind, int kA>
EMCLADE_AVX2 [[gnu::flatten]] void AddPlaneCountsAvx2(const SharingPlanes& P, int32_t N, int32_t i,
                                                      int32_t j0, int32_t j1, int32_t q0,
                                                      int32_t q1, const Finish& f, double* D) {
  using Kind = PlaneKind<kKind, kA>;
  constexpr int32_t kStep = Kind::kPlanes * kGroupWords;
  AddRowPairCounts(P, N, i, j0, j1, f, D,
                   [q0, q1](const uint64_t* a0, const uint64_t* a1, const uint64_t* b, int64_t& c0,
                            int64_t& c1) EMCLADE_AVX2 {
                     const __m256i zero = _mm256_setzero_si256();
                     __m256i n0[3] = {zero, zero, zero}, n1[3] = {zero, zero, zero};
                     for (int32_t r0 = q0; r0 < q1; r0 += 31) {
                       __m256i b0[3] = {zero, zero, zero}, b1[3] = {zero, zero, zero};
                       for (int32_t q = r0; q < std::min(q1, r0 + 31); ++q) {
                         __m256i x0[Kind::kPlanes], x1[Kind::kPlanes], y[Kind::kPlanes];
                         for (int32_t p = 0; p < Kind::kPlanes; ++p) {
                           const size_t at = static_cast<size_t>(q) * kStep + p * kGroupWords;
                           x0[p] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a0 + at));
                           x1[p] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a1 + at));
                           y[p] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + at));
                         }
                         __m256i s0[3], s1[3];
                         Kind::Sets(x0, y, s0);
                         Kind::Sets(x1, y, s1);
                         for (int32_t k = 0; k < Kind::kSets; ++k) {
                           b0[k] = _mm256_add_epi8(b0[k], ByteCounts(s0[k]));
                           b1[k] = _mm256_add_epi8(b1[k], ByteCounts(s1[k]));
                         }
                       }
                       for (int32_t k = 0; k < Kind::kSets; ++k) {
                         n0[k] = _mm256_add_epi64(n0[k], _mm256_sad_epu8(b0[k], zero));
                         n1[k] = _mm256_add_epi64(n1[k], _mm256_sad_epu8(b1[k], zero));
                       }
                     }
                     c0 = c1 = 0;
                     for (int32_t k = 0; k < Kind::kSets; ++k) {
                       c0 += Kind::kWeight[k] * SumLanes(n0[k]);
                       c1 += Kind::kWeight[k] * SumLanes(n1[k]);
                     }
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
template <int kKind, int kA>
void AddPlaneCountsAvx2(const SharingPlanes& P, int32_t N, int32_t i, int32_t j0, int32_t j1,
                        int32_t q0, int32_t q1, const Finish& f, double* D) {
  AddPlaneCounts<kKind, kA>(P, N, i, j0, j1, q0, q1, f, D);
}
#endif

// Adds the plane loci's varying part of s to every pair. Rows are taken two at a time: tile
// t = rows 2t and 2t + 1 (with N odd the last row has no later rows), tile t on thread
// t mod threads, which makes every count of its pairs. Each thread goes through blocks of
// groups (the two rows' block stays in the first-level cache), and within a block through
// chunks of kPlaneChunkRows later rows, whose words stay in its second-level cache while
// its tiles are counted against them. f applies with the last block.
constexpr int32_t kPlaneBlockGroups = 64;
constexpr int32_t kPlaneChunkRows = 64;

template <int kKind, int kA>
void AddPlaneLociCounts(const SharingPlanes& P, int32_t N, Finish f, bool avx2, int32_t threads,
                        CondensedDistances& D) {
  const bool starting = f.first;
  const bool finishing = f.now;
  const int32_t tiles = N / 2;
  const int32_t groups = P.W / kGroupWords;
  const auto kernel = avx2 ? AddPlaneCountsAvx2<kKind, kA> : AddPlaneCounts<kKind, kA>;
#pragma omp parallel num_threads(threads) firstprivate(f)
  {
    const int32_t team = omp_get_num_threads();
    const int32_t id = omp_get_thread_num();
    for (int32_t q0 = 0; q0 < groups; q0 += kPlaneBlockGroups) {
      const int32_t q1 = std::min(groups, q0 + kPlaneBlockGroups);
      f.first = starting && q0 == 0;
      f.now = finishing && q1 == groups;
      for (int32_t j0 = 0; j0 < N; j0 += kPlaneChunkRows) {
        const int32_t j1 = std::min(N, j0 + kPlaneChunkRows);
        // Tiles with a pair in [j0, j1): 2t + 1 < j1.
        for (int32_t t = id; t < tiles && 2 * t + 1 < j1; t += team) {
          kernel(P, N, 2 * t, j0, j1, q0, q1, f, D.data());
        }
      }
    }
  }
}

void AddPlaneLociCounts(const SharingPlanes& P, int32_t N, int32_t A, const Finish& f, bool avx2,
                        int32_t threads, CondensedDistances& D) {
  if (P.kind == 2) {
    (A == 1 ? AddPlaneLociCounts<2, 1> : AddPlaneLociCounts<2, 2>)(P, N, f, avx2, threads, D);
  } else {
    (A == 1 ? AddPlaneLociCounts<3, 1> : AddPlaneLociCounts<3, 2>)(P, N, f, avx2, threads, D);
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
  const int32_t n = to - from;
  if (f.first && f.now) {
    for (int32_t k = 0; k < n; ++k) out[k] = Finished(lane[k], f);
  } else if (f.first) {
    for (int32_t k = 0; k < n; ++k) out[k] = lane[k];
  } else if (f.now) {
    for (int32_t k = 0; k < n; ++k) out[k] = Finished(out[k] + lane[k], f);
  } else {
    for (int32_t k = 0; k < n; ++k) out[k] += lane[k];
  }
}

void AddCountLociCounts(const GenotypeTable& X, const std::vector<CountLocus>& loci, Finish f,
                        int32_t threads, CondensedDistances& D) {
  const bool starting = f.first;
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
    f.first = starting && first == 0;
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
  // found for every 2-bit field of the table at once. sources[kind - 2][g]: the plane loci
  // of each kind in row word g.
  const bool planesPossible =
      (A == 1 || A == 2) && std::find(X.width.begin(), X.width.end(), 2) != X.width.end();
  std::vector<uint64_t> present;
  if (planesPossible) present = FindPresentCodes2(X, firstOfBlock, words.size(), threads);
  std::vector<PlaneSource> sources[2];
  for (std::vector<PlaneSource>& kind : sources) {
    kind.assign(words.size(), PlaneSource{});
    for (size_t g = 0; g < words.size(); ++g) kind[g].word = words[g];
  }
  int32_t planeLoci[2] = {0, 0};
  std::vector<CountLocus> countLoci;
  std::vector<int32_t> otherLoci;
  for (int32_t l = 0; l < L; ++l) {
    const int32_t width = X.width[l];
    const int32_t g = firstOfBlock[X.blockOf[l]] + X.position[l] / 64;
    const uint32_t shift = X.position[l] % 64;
    if (planesPossible && width == 2) {
      int32_t occurring = 0;
      int32_t rank[4] = {0, 0, 0, 0};
      for (int32_t c = 0; c < 4; ++c) {
        rank[c] = occurring;
        occurring += (present[4 * g + c] >> shift) & 1;
      }
      if (occurring <= 3) {
        const int32_t kind = occurring <= 2 ? 2 : 3;
        PlaneSource& source = sources[kind - 2][g];
        source.mask |= uint64_t{1} << shift;
        for (int32_t c = 0; c < 4; ++c) {
          // Kind 2: bit 0 says "the higher code" (the only one, when one occurs).
          const int32_t r = kind == 2 ? (rank[c] == occurring - 1 ? 1 : 0) : rank[c];
          source.rank[c][0] |= static_cast<uint64_t>(r & 1) << shift;
          source.rank[c][1] |= static_cast<uint64_t>(r >> 1) << shift;
        }
        ++planeLoci[kind - 2];
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

  SharingPlanes planes[2];
  Finish f;
  f.denominator = static_cast<double>(static_cast<int64_t>(A) * A * L);
  for (int32_t kind = 2; kind <= 3; ++kind) {
    if (planeLoci[kind - 2] == 0) continue;
    std::vector<PlaneSource>& kindSources = sources[kind - 2];
    kindSources.erase(std::remove_if(kindSources.begin(), kindSources.end(),
                                     [](const PlaneSource& s) { return s.mask == 0; }),
                      kindSources.end());
    BuildPlanes(X, kindSources, kind, threads, planes[kind - 2]);
    planes[kind - 2].planeLoci = planeLoci[kind - 2];
    f.added += static_cast<double>(PlaneConstant(planes[kind - 2], A));
  }
  // The last counter to run finishes the entries.
  const int32_t last = !otherLoci.empty()   ? 4
                       : !countLoci.empty() ? 3
                       : planeLoci[1] > 0   ? 1
                       : planeLoci[0] > 0   ? 0
                                            : -1;
  f.first = true;
  for (int32_t k = 0; k < 2; ++k) {
    if (planeLoci[k] == 0) continue;
    f.now = last == k;
    AddPlaneLociCounts(planes[k], X.N, A, f, avx2, threads, D);
    SharingPlanes().bits.swap(planes[k].bits);
    f.first = false;
  }
  if (!countLoci.empty()) {
    f.now = last == 3;
    AddCountLociCounts(X, countLoci, f, threads, D);
    f.first = false;
  }
  if (!otherLoci.empty()) {
    f.now = true;
    AddOtherLociCounts(X, otherLoci, f, threads, D);
  }
  // No locus (or no copy): every count is 0.
  if (last < 0) {
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
