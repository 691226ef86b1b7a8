#include "cluster/admixture_em.h"

#include "cluster/block_squarem.h"

#include <omp.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

// Four individuals' doubles (lane r: individual 4 g + r of group g). Lane by lane the same IEEE
// operations as one double at a time.
typedef double Lanes __attribute__((vector_size(32)));
typedef int64_t Bits __attribute__((vector_size(32)));
typedef uint64_t Codes __attribute__((vector_size(32)));
constexpr int32_t kLanes = 4;

// A segment's B lane sums stay in a core's first-level data cache while a tile's groups pass.
constexpr size_t kSegmentBytes = 24 * 1024;
// Groups of four individuals that pass each segment together (their records and the
// segment's frequencies and B sums stay in cache); each such tile keeps its own B sums.
constexpr int32_t kTileGroups = 32;
// Units of segments per thread when the tiles' B sums are added into P'.
constexpr int32_t kUnitsPerThread = 4;
constexpr double kLn2 = 0.693147180559945309417232121458176568;

template <typename Work>
void RunUnits(int32_t threads, int32_t units, const Work& work) {
  if (threads <= 1) {
    for (int32_t unit = 0; unit < units; ++unit) work(unit);
    return;
  }
#pragma omp parallel for num_threads(threads) schedule(dynamic, 1)
  for (int32_t unit = 0; unit < units; ++unit) work(unit);
}

// The first 64-byte boundary of lane storage (every such vector has 8 spare doubles).
Lanes* LaneBase(std::vector<double>& v) {
  const uintptr_t at = reinterpret_cast<uintptr_t>(v.data());
  return reinterpret_cast<Lanes*>(v.data() + ((64 - at % 64) % 64) / sizeof(double));
}

int32_t Groups(int32_t N) {
  return (N + kLanes - 1) / kLanes;
}

// m = f 2^e exactly, f in [0.5, 1) (as frexp), e added to E, for every lane whose m is
// normal; `odd` marks the lanes where it was not (zero, subnormal, not finite), whose m and E
// are then meaningless and made again by ExactProducts.
[[gnu::always_inline]] inline void SplitProduct(Lanes& m, Lanes& E, Bits& odd) {
  const Bits bits = reinterpret_cast<Bits>(m);
  const Bits field = (bits >> 52) & 0x7ff;
  odd |= (field == 0) | (field == 0x7ff);
  const Bits kept = (bits & ~(int64_t{0x7ff} << 52)) | (int64_t{1022} << 52);
  m = reinterpret_cast<Lanes>(kept);
  E += __builtin_convertvector(field - 1022, Lanes);
}

// h where the copy's code equals x, else 1.
[[gnu::always_inline]] inline void MultiplyWhere(Lanes& m, const Codes& code, uint64_t x,
                                                 const Lanes& h) {
  const Bits eq = code == x;
  const Bits ones = reinterpret_cast<Bits>(Lanes{1.0, 1.0, 1.0, 1.0});
  m *= reinterpret_cast<Lanes>((reinterpret_cast<Bits>(h) & eq) | (ones & ~eq));
}

// One locus for one group: codes[a] holds each lane's code of copy a; p the locus's
// frequencies (allele x, cluster k at x K + k); q the group's K proportions. The A sums go to
// acc[k], the product to m (split after the locus by the caller) and the B sums to
// b[x K + k]: h and w made once for both. Lanes that do not carry x get w = 0 (their additions
// are of +0, their factors 1).
template <int KC>
[[gnu::always_inline]] inline void AddLocus(int32_t Kr, int32_t A, int32_t Jl,
                                            const uint8_t* observed, const Codes* codes,
                                            const double* p, const Lanes* q, Lanes* acc,
                                            Lanes* sums, Lanes& m) {
  const int32_t K = KC > 0 ? KC : Kr;
  const Bits one = reinterpret_cast<Bits>(Lanes{1.0, 1.0, 1.0, 1.0});
  auto countOf = [&](uint64_t x, Bits& seen, Lanes& count) {
    seen = codes[0] == x;
    count = reinterpret_cast<Lanes>(seen & one);
    for (int32_t a = 1; a < A; ++a) {
      const Bits eq = codes[a] == x;
      seen |= eq;
      count += reinterpret_cast<Lanes>(eq & one);
    }
  };
  auto add = [&](int32_t x, const double* px, const Lanes& h, const Lanes& w) {
    Lanes* b = sums + static_cast<size_t>(x) * K;
    for (int32_t k = 0; k < K; ++k) {
      acc[k] += w * px[k];
      b[k] += w * q[k];
    }
    for (int32_t a = 0; a < A; ++a) MultiplyWhere(m, codes[a], x, h);
  };
  if (Jl == 2 && observed[0] && observed[1]) {
    // Two alleles: one division for both weights.
    Bits seen0, seen1;
    Lanes count0, count1;
    countOf(0, seen0, count0);
    countOf(1, seen1, count1);
    const double* p1 = p + K;
    Lanes h0 = q[0] * p[0], h1 = q[0] * p1[0];
    for (int32_t k = 1; k < K; ++k) {
      h0 += q[k] * p[k];
      h1 += q[k] * p1[k];
    }
    const Lanes r = 1.0 / (h0 * h1);
    const Lanes w0 = reinterpret_cast<Lanes>(reinterpret_cast<Bits>(count0 * (h1 * r)) & seen0);
    const Lanes w1 = reinterpret_cast<Lanes>(reinterpret_cast<Bits>(count1 * (h0 * r)) & seen1);
    add(0, p, h0, w0);
    add(1, p1, h1, w1);
    return;
  }
  for (int32_t x = 0; x < Jl; ++x, p += K) {
    if (!observed[x]) continue;
    Bits seen;
    Lanes count;
    countOf(x, seen, count);
    // No lane carries x: every addition would be of +0 and every factor 1.
    if (!(seen[0] | seen[1] | seen[2] | seen[3])) continue;
    Lanes h = q[0] * p[0];
    for (int32_t k = 1; k < K; ++k) h += q[k] * p[k];
    add(x, p, h, reinterpret_cast<Lanes>(reinterpret_cast<Bits>(count / h) & seen));
  }
}

struct PassTask {
  const AdmixtureModel* m;
  const AdmixtureSegment* segment;
  int32_t group;              // the group of four individuals
  const Lanes* q;             // its K proportions
  Lanes* acc;                 // its K A sums
  Lanes* product;             // its m, E and the odd lanes' marks
  Lanes* sums;                // the segment's B sums (from its first locus's first allele)
  const double* frequencies;  // allele by allele, K each
};

// One segment for one group.
template <int KC>
[[gnu::always_inline]] inline void SegmentBody(const PassTask& task) {
  const AdmixtureModel& m = *task.m;
  const GenotypeTable& X = *m.X;
  const AdmixtureSegment& s = *task.segment;
  const int32_t K = KC > 0 ? KC : m.K;
  const int32_t A = m.A;
  constexpr int32_t kMaxLocal = KC > 0 ? KC : 1;
  Lanes qLocal[kMaxLocal], accLocal[kMaxLocal];
  const Lanes* q = task.q;
  Lanes* acc = task.acc;
  if constexpr (KC > 0) {
    for (int32_t k = 0; k < K; ++k) qLocal[k] = task.q[k];
    q = qLocal;
    for (int32_t k = 0; k < K; ++k) accLocal[k] = task.acc[k];
    acc = accLocal;
  }
  Lanes product = task.product[0];
  Lanes exponent = task.product[1];
  Bits odd = reinterpret_cast<Bits>(task.product[2]);
  // Rows of the four individuals, copy a of lane r at rows[a * 4 + r] (none past N).
  constexpr int32_t kMaxA = 8;
  const uint64_t* rows[kMaxA * kLanes];
  Codes codes[kMaxA];
  const int32_t A0 = std::min(A, kMaxA);
  for (int32_t a = 0; a < A0; ++a) {
    for (int32_t r = 0; r < kLanes; ++r) {
      const int32_t n = task.group * kLanes + r;
      rows[a * kLanes + r] = n < m.N ? BlockRow(X, s.block, n, a) : nullptr;
    }
  }
  const int32_t first = s.firstLocus;
  if (s.packed && A <= kMaxA) {
    Codes words[kMaxA];
    const double* p = task.frequencies + static_cast<size_t>(m.alleleStart[first]) * K;
    Lanes* sumsAt = task.sums;
    for (int32_t l = first; l < s.endLocus; ++l) {
      const int32_t i = l - first;
      if (i % 32 == 0) {
        const int32_t word = s.firstWord + i / 32;
        for (int32_t a = 0; a < A; ++a) {
          for (int32_t r = 0; r < kLanes; ++r) {
            const uint64_t* row = rows[a * kLanes + r];
            words[a][r] = row != nullptr ? row[word] : ~uint64_t{0};
          }
        }
      }
      for (int32_t a = 0; a < A; ++a) {
        codes[a] = words[a] & 3;
        words[a] >>= 2;
      }
      const int32_t Jl = m.J[l];
      const uint8_t* observed = m.observed.data() + m.alleleStart[l];
      AddLocus<KC>(K, A, Jl, observed, codes, p, q, acc, sumsAt, product);
      SplitProduct(product, exponent, odd);
      sumsAt += static_cast<size_t>(Jl) * K;
      p += static_cast<size_t>(Jl) * K;
    }
  } else {
    // More copies than kMaxA: their codes on the heap, 32-byte aligned by hand (the vector
    // itself only promises 16).
    std::vector<uint64_t> many(A > kMaxA ? static_cast<size_t>(A) * kLanes + kLanes : 0);
    Codes* c = codes;
    if (A > kMaxA) {
      const uintptr_t at = reinterpret_cast<uintptr_t>(many.data());
      c = reinterpret_cast<Codes*>(many.data() + ((32 - at % 32) % 32) / sizeof(uint64_t));
    }
    Lanes* sumsAt = task.sums;
    for (int32_t l = first; l < s.endLocus; ++l) {
      const uint32_t at = X.position[l];
      const uint64_t mask = (uint64_t{1} << X.width[l]) - 1;
      for (int32_t a = 0; a < A; ++a) {
        for (int32_t r = 0; r < kLanes; ++r) {
          const int32_t n = task.group * kLanes + r;
          if (n >= m.N) {
            c[a][r] = ~uint64_t{0};
            continue;
          }
          const uint64_t* row = BlockRow(X, s.block, n, a);
          c[a][r] = (row[at >> 6] >> (at & 63)) & mask;
        }
      }
      const int32_t Jl = m.J[l];
      const double* p = task.frequencies + static_cast<size_t>(m.alleleStart[l]) * K;
      const uint8_t* observed = m.observed.data() + m.alleleStart[l];
      AddLocus<KC>(K, A, Jl, observed, c, p, q, acc, sumsAt, product);
      SplitProduct(product, exponent, odd);
      sumsAt += static_cast<size_t>(Jl) * K;
    }
  }
  if constexpr (KC > 0) {
    for (int32_t k = 0; k < K; ++k) task.acc[k] = accLocal[k];
  }
  task.product[0] = product;
  task.product[1] = exponent;
  task.product[2] = reinterpret_cast<Lanes>(odd);
}

template <int KC>
struct Kernel {
  static void Plain(const PassTask& task) { SegmentBody<KC>(task); }
  [[gnu::target("avx2")]] static void Wide(const PassTask& task) { SegmentBody<KC>(task); }
};

using KernelFunction = void (*)(const PassTask&);

KernelFunction KernelFor(bool wide, int32_t K) {
  switch (K) {
#define EMCLADE_ADMIXTURE_K(k) \
  case k:                      \
    return wide ? &Kernel<k>::Wide : &Kernel<k>::Plain;
    EMCLADE_ADMIXTURE_K(1)
    EMCLADE_ADMIXTURE_K(2)
    EMCLADE_ADMIXTURE_K(3)
    EMCLADE_ADMIXTURE_K(4)
    EMCLADE_ADMIXTURE_K(5)
    EMCLADE_ADMIXTURE_K(6)
    EMCLADE_ADMIXTURE_K(7)
    EMCLADE_ADMIXTURE_K(8)
#undef EMCLADE_ADMIXTURE_K
    default:
      return wide ? &Kernel<0>::Wide : &Kernel<0>::Plain;
  }
}

// The products of group g's individuals made again one copy at a time with frexp, for when
// one of them left the normal range on the way.
void ExactProducts(const AdmixtureModel& m, const double* from, int32_t g, Lanes* product) {
  const int32_t K = m.K;
  const size_t alleles = m.alleleStart[m.L];
  const double* P = from + static_cast<size_t>(m.N) * K;
  std::vector<int32_t> count;
  for (int32_t r = 0; r < kLanes && g * kLanes + r < m.N; ++r) {
    const int32_t n = g * kLanes + r;
    const double* q = from + static_cast<size_t>(n) * K;
    double f = 1.0, E = 0.0;
    for (int32_t l = 0; l < m.L; ++l) {
      count.assign(m.J[l], 0);
      for (int32_t a = 0; a < m.A; ++a) {
        const uint32_t code = GenotypeCode(*m.X, n, a, l);
        if (code < static_cast<uint32_t>(m.J[l])) ++count[code];
      }
      for (int32_t x = 0; x < m.J[l]; ++x) {
        if (count[x] == 0 || !m.observed[m.alleleStart[l] + x]) continue;
        const double* p = P + m.alleleStart[l] + x;
        double h = q[0] * p[0];
        for (int32_t k = 1; k < K; ++k) h += q[k] * p[k * alleles];
        for (int32_t c = 0; c < count[x]; ++c) f *= h;
      }
      int e = 0;
      f = std::frexp(f, &e);
      E += e;
    }
    product[0][r] = f;
    product[1][r] = E;
  }
}

double StepAdapter(void* model, const double* from, double* to) {
  return AdmixtureStep(*static_cast<AdmixtureModel*>(model), from, to);
}

void ProjectAdapter(void* model, double* theta, double epsilon) {
  ProjectAdmixture(*static_cast<const AdmixtureModel*>(model), theta, epsilon);
}

// Clamps the block into [epsilon, 1 - epsilon] and divides it by its sum.
void ProjectBlock(double* v, int32_t size, double epsilon) {
  double sum = 0.0;
  for (int32_t i = 0; i < size; ++i) {
    v[i] = std::min(std::max(v[i], epsilon), 1.0 - epsilon);
    sum += v[i];
  }
  for (int32_t i = 0; i < size; ++i) v[i] = v[i] / sum;
}

}  // namespace

int64_t AdmixtureThetaSize(int32_t N, int32_t K, const std::vector<int32_t>& J) {
  int64_t alleles = 0;
  for (const int32_t Jl : J) alleles += Jl;
  return static_cast<int64_t>(N) * K + static_cast<int64_t>(K) * alleles;
}

void PrepareAdmixtureModel(const GenotypeTable& X, int32_t K, int32_t threads, AdmixtureModel& m) {
  m.N = X.N;
  m.A = X.A;
  m.L = X.L;
  m.K = K;
  m.X = &X;
  m.threads = std::max(threads, 1);
  m.wideVectors = __builtin_cpu_supports("avx2");
  m.J.resize(X.L);
  m.alleleStart.assign(X.L + 1, 0);
  for (int32_t l = 0; l < X.L; ++l) {
    m.J[l] = static_cast<int32_t>(X.alleleValues[l].size());
    m.alleleStart[l + 1] = m.alleleStart[l] + m.J[l];
  }
  m.observed.assign(m.alleleStart[X.L], 1);
  for (int32_t l = 0; l < X.L; ++l) {
    for (int32_t j = 0; j < m.J[l]; ++j)
      m.observed[m.alleleStart[l] + j] = X.alleleValues[l][j] >= 0;
  }
  m.copies.assign(X.N, 0.0);
  m.observedCopies = 0.0;
  for (int32_t n = 0; n < X.N; ++n) {
    int64_t c = 0;
    for (int32_t a = 0; a < X.A; ++a) {
      for (int32_t l = 0; l < X.L; ++l) {
        const uint32_t code = GenotypeCode(X, n, a, l);
        c += code < static_cast<uint32_t>(m.J[l]) && m.observed[m.alleleStart[l] + code];
      }
    }
    m.copies[n] = static_cast<double>(c);
    m.observedCopies += m.copies[n];
  }

  // Segments: loci of one block whose B sums fit kSegmentBytes; packed ones cut at words.
  m.segments.clear();
  for (int32_t b = 0; b < static_cast<int32_t>(X.blocks.size()); ++b) {
    const LocusBlock& block = X.blocks[b];
    bool packed = true;
    int32_t Jmax = 1;
    for (int32_t l = block.firstLocus; l < block.endLocus; ++l) {
      packed = packed && X.width[l] == 2 && X.position[l] == 2 * (l - block.firstLocus);
      Jmax = std::max(Jmax, m.J[l]);
    }
    const size_t perLocus = static_cast<size_t>(Jmax) * K * sizeof(Lanes);
    int32_t size = static_cast<int32_t>(std::max<size_t>(1, kSegmentBytes / perLocus));
    if (packed) size = std::max(32, size / 32 * 32);
    for (int32_t l = block.firstLocus; l < block.endLocus; l += size) {
      m.segments.push_back(AdmixtureSegment{b, l, std::min(block.endLocus, l + size), packed,
                                            (l - block.firstLocus) / 32});
    }
  }
  const size_t groups = Groups(X.N);
  const size_t alleles = m.alleleStart[X.L];
  const size_t tiles = (groups + kTileGroups - 1) / kTileGroups;
  m.segmentSlots = 0;
  for (const AdmixtureSegment& s : m.segments) {
    m.segmentSlots = std::max<int64_t>(
        m.segmentSlots,
        static_cast<int64_t>(m.alleleStart[s.endLocus] - m.alleleStart[s.firstLocus]) * K);
  }
  m.frequencies.assign(alleles * K, 0.0);
  m.laneQ.assign(groups * K * kLanes + 8, 0.0);
  m.sums.assign(static_cast<size_t>(m.threads) * m.segmentSlots * kLanes + 8, 0.0);
  m.tileSums.assign(tiles * alleles * K, 0.0);
  m.records.assign(groups * (K + 3) * kLanes + 8, 0.0);
}

double AdmixtureStep(AdmixtureModel& m, const double* from, double* to) {
  const int32_t N = m.N, K = m.K, L = m.L;
  const int32_t groups = Groups(N);
  const size_t alleles = m.alleleStart[L];
  const double* Pfrom = from + static_cast<size_t>(N) * K;
  // This step's P allele by allele, and Q four individuals to a lane group (0 past N).
  for (int32_t k = 0; k < K; ++k) {
    for (size_t s = 0; s < alleles; ++s) m.frequencies[s * K + k] = Pfrom[k * alleles + s];
  }
  Lanes* laneQ = LaneBase(m.laneQ);
  for (int32_t g = 0; g < groups; ++g) {
    for (int32_t k = 0; k < K; ++k) {
      for (int32_t r = 0; r < kLanes; ++r) {
        const int32_t n = g * kLanes + r;
        laneQ[static_cast<size_t>(g) * K + k][r] =
            n < N ? from[static_cast<size_t>(n) * K + k] : 0.0;
      }
    }
  }
  Lanes* records = LaneBase(m.records);
  Lanes* scratch = LaneBase(m.sums);
  const int32_t segments = static_cast<int32_t>(m.segments.size());

  // One pass: tiles of groups, each over every segment in order; each segment's B sums made
  // in a thread's scratch lanes, then folded into the tile's own sums.
  const KernelFunction kernel = KernelFor(m.wideVectors, K);
  const int32_t tiles = (groups + kTileGroups - 1) / kTileGroups;
  const size_t slots = alleles * K;
  RunUnits(m.threads, tiles, [&](int32_t tile) {
    const int32_t g0 = tile * kTileGroups, g1 = std::min(groups, g0 + kTileGroups);
    Lanes* sums = scratch + static_cast<size_t>(omp_get_thread_num()) * m.segmentSlots;
    double* tileSums = m.tileSums.data() + static_cast<size_t>(tile) * slots;
    for (int32_t g = g0; g < g1; ++g) {
      Lanes* record = records + static_cast<size_t>(g) * (K + 3);
      for (int32_t k = 0; k < K; ++k) record[k] = Lanes{};
      record[K] = Lanes{1.0, 1.0, 1.0, 1.0};
      record[K + 1] = Lanes{};
      record[K + 2] = Lanes{};
    }
    for (const AdmixtureSegment& segment : m.segments) {
      const size_t s0 = m.alleleStart[segment.firstLocus] * static_cast<size_t>(K);
      const size_t s1 = m.alleleStart[segment.endLocus] * static_cast<size_t>(K);
      std::fill(sums, sums + (s1 - s0), Lanes{});
      for (int32_t g = g0; g < g1; ++g) {
        Lanes* record = records + static_cast<size_t>(g) * (K + 3);
        kernel(PassTask{&m, &segment, g, laneQ + static_cast<size_t>(g) * K, record, record + K,
                        sums, m.frequencies.data()});
      }
      for (size_t i = s0; i < s1; ++i) {
        const Lanes& B = sums[i - s0];
        tileSums[i] = ((B[0] + B[1]) + B[2]) + B[3];
      }
    }
    for (int32_t g = g0; g < g1; ++g) {
      Lanes* record = records + static_cast<size_t>(g) * (K + 3);
      const Bits odd = reinterpret_cast<Bits>(record[K + 2]);
      if (odd[0] | odd[1] | odd[2] | odd[3]) ExactProducts(m, from, g, record + K);
    }
  });

  // P': units of consecutive segments; B the tiles' sums added in tile order.
  const int32_t units = std::min(segments, kUnitsPerThread * m.threads);
  double* Pto = to + static_cast<size_t>(N) * K;
  RunUnits(m.threads, units, [&](int32_t unit) {
    const int32_t s0 = static_cast<int32_t>(static_cast<int64_t>(segments) * unit / units);
    const int32_t s1 = static_cast<int32_t>(static_cast<int64_t>(segments) * (unit + 1) / units);
    for (int32_t s = s0; s < s1; ++s) {
      const AdmixtureSegment& segment = m.segments[s];
      for (int32_t l = segment.firstLocus; l < segment.endLocus; ++l) {
        const size_t first = m.alleleStart[l];
        const int32_t Jl = m.J[l];
        for (int32_t k = 0; k < K; ++k) {
          const double* p = Pfrom + k * alleles + first;
          double* out = Pto + k * alleles + first;
          double D = 0.0;
          for (int32_t x = 0; x < Jl; ++x) {
            const double* B = m.tileSums.data() + (first + x) * K + k;
            double sum = B[0];
            for (int32_t t = 1; t < tiles; ++t) sum += B[static_cast<size_t>(t) * slots];
            out[x] = p[x] * sum;
            D += out[x];
          }
          if (D > 0.0 && std::isfinite(D)) {
            for (int32_t x = 0; x < Jl; ++x) out[x] = out[x] / D;
          } else {
            for (int32_t x = 0; x < Jl; ++x) out[x] = p[x];
          }
        }
      }
    }
  });

  // Q' and the log-likelihood terms, n ascending.
  double loglik = 0.0;
  for (int32_t n = 0; n < N; ++n) {
    Lanes* record = records + static_cast<size_t>(n / kLanes) * (K + 3);
    const int32_t r = n % kLanes;
    const double* q = from + static_cast<size_t>(n) * K;
    double* out = to + static_cast<size_t>(n) * K;
    for (int32_t k = 0; k < K; ++k)
      out[k] = m.copies[n] > 0.0 ? (q[k] * record[k][r]) / m.copies[n] : q[k];
    loglik += record[K + 1][r] * kLn2 + std::log(record[K][r]);
  }
  return loglik;
}

void ProjectAdmixture(const AdmixtureModel& m, double* theta, double epsilon) {
  for (int32_t n = 0; n < m.N; ++n)
    ProjectBlock(theta + static_cast<size_t>(n) * m.K, m.K, epsilon);
  double* P = theta + static_cast<size_t>(m.N) * m.K;
  const size_t alleles = m.alleleStart[m.L];
  for (int32_t k = 0; k < m.K; ++k) {
    for (int32_t l = 0; l < m.L; ++l)
      ProjectBlock(P + k * alleles + m.alleleStart[l], m.J[l], epsilon);
  }
}

EmMap AdmixtureEmMap(AdmixtureModel& m) {
  EmMap map;
  map.size = static_cast<int64_t>(m.N) * m.K + static_cast<int64_t>(m.K) * m.alleleStart[m.L];
  map.step = &StepAdapter;
  map.project = &ProjectAdapter;
  map.model = &m;
  return map;
}

std::vector<int64_t> AdmixtureBlocks(const AdmixtureModel& m) {
  std::vector<int64_t> starts(m.N + 1);
  for (int32_t n = 0; n <= m.N; ++n) starts[n] = static_cast<int64_t>(n) * m.K;
  return starts;
}

AcceleratedRun RunAdmixtureEm(AdmixtureModel& m, std::vector<double>& theta,
                              const AcceleratorSettings& settings) {
  return RunBlockSquarem(AdmixtureEmMap(m), AdmixtureBlocks(m), kAdmixtureStopCycles, theta,
                         settings);
}

void PackAdmixture(const AdmixtureModel& m, const Vector2D<double>& Q, const Vector3D<double>& P,
                   std::vector<double>& theta) {
  theta.assign(static_cast<size_t>(m.N) * m.K + static_cast<size_t>(m.K) * m.alleleStart[m.L], 0.0);
  for (int32_t n = 0; n < m.N; ++n) {
    for (int32_t k = 0; k < m.K; ++k) theta[static_cast<size_t>(n) * m.K + k] = Q[n][k];
  }
  double* out = theta.data() + static_cast<size_t>(m.N) * m.K;
  for (int32_t k = 0; k < m.K; ++k) {
    for (int32_t l = 0; l < m.L; ++l) {
      for (int32_t j = 0; j < m.J[l]; ++j) *out++ = P[k][l][j];
    }
  }
}

void UnpackAdmixture(const AdmixtureModel& m, const std::vector<double>& theta, Vector2D<double>& Q,
                     Vector3D<double>& P) {
  Q.clear();
  P.clear();
  InitVctr2D(Q, m.N, m.K, 0.0);
  InitVctr3D(P, m.K, m.L, m.J, 0.0);
  for (int32_t n = 0; n < m.N; ++n) {
    for (int32_t k = 0; k < m.K; ++k) Q[n][k] = theta[static_cast<size_t>(n) * m.K + k];
  }
  const double* in = theta.data() + static_cast<size_t>(m.N) * m.K;
  for (int32_t k = 0; k < m.K; ++k) {
    for (int32_t l = 0; l < m.L; ++l) {
      for (int32_t j = 0; j < m.J[l]; ++j) P[k][l][j] = *in++;
    }
  }
}
