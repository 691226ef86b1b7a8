#include "cluster/em.h"

#include <omp.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <iostream>
#include <limits>
#include <string>

#include "data/memory_check.h"

namespace {

// Floor of the E-step's logarithms and cap of its log ratios: e^707 is still finite, so
// no exponential of a capped ratio can overflow.
constexpr double kLogFloor = -707.0;
constexpr double kRatioCap = 707.0;

// Four clusters' doubles. Adding and multiplying them lane by lane are the same IEEE
// operations as on one double at a time, so each lane keeps the bits of its own sum.
typedef double Lanes __attribute__((vector_size(32), may_alias));
constexpr int32_t kLanes = 4;
constexpr int32_t kChunkClusters = 16;

// The log records one segment may take: with the rows and sums streaming past, they stay in
// a core's 32 KiB first-level data cache.
constexpr size_t kSegmentBytes = 24 * 1024;

// The floored logarithm lambda(p) from ln p: -707 for p = 0 (ln p = -inf), else
// max(ln p, -707).
double FloorLog(double logP) {
  return std::max(logP, kLogFloor);
}

// The first cache-line boundary in the workspace's lane storage.
double* LaneBase(EmWorkspace& w) {
  const uintptr_t at = reinterpret_cast<uintptr_t>(w.lanes.data());
  return w.lanes.data() + ((64 - at % 64) % 64) / sizeof(double);
}

// Runs work(unit, thread) for units 0 .. units - 1 on `threads` threads (thread numbers from
// 0), each unit on one thread, handed out one at a time to whichever thread is free; on the
// calling thread alone when threads is 1. Which thread runs a unit never changes its result.
template <typename Work>
void RunUnits(int32_t threads, int32_t units, const Work& work) {
  if (threads <= 1) {
    for (int32_t unit = 0; unit < units; ++unit) work(unit, 0);
    return;
  }
#pragma omp parallel for num_threads(threads) schedule(dynamic, 1)
  for (int32_t unit = 0; unit < units; ++unit) work(unit, omp_get_thread_num());
}

// Units of work per thread: enough that a thread slowed by other jobs holds up no one.
constexpr int32_t kUnitsPerThread = 4;

// The start of part `part` of `parts` equal shares of total.
int32_t ShareStart(int64_t total, int32_t part, int32_t parts) {
  return static_cast<int32_t>(total * part / parts);
}

inline uint64_t CodeAt(const uint64_t* row, const EmLocus& locus) {
  return (row[locus.at >> 6] >> (locus.at & 63)) & locus.mask;
}

// One copy of `individuals` consecutive individuals over the loci of one segment, for one
// chunk of V lane groups.
struct SumTask {
  const uint64_t* rows;  // the first individual's row of the copy in the segment's block
  size_t rowStride;      // words from one individual's row to the next one's
  int32_t individuals;
  const EmLocus* firstLocus;
  const EmLocus* endLocus;
  int32_t firstWord;  // packed: the word of the segment's first code
  const double* logTerms;
  const double* factors;
  double* sums;          // the first individual's record (g, h, f)
  const uint8_t* spent;  // per individual: its product f no longer matters
};

// R individuals side by side, each locus in order: g_k += lambda, h_k += log factor,
// f_k *= factor. The 3 V R running values stay in registers, and the R individuals give
// independent chains that hide the latency of each operation. Without kProduct the factors
// are left out (f is then never read again). Packed (kWidth 2 or 4; 0 otherwise): the codes
// of 64 / kWidth loci come from one word per row, each at a fixed shift, and locus i of the
// segment has its 2^kWidth slots from slot 2^kWidth i on.
template <int V, int R, bool kProduct, int kWidth>
[[gnu::always_inline]] inline void SumGroup(const SumTask& task, int32_t first) {
  constexpr int kLog = 2 * V;  // lane groups per log record
  Lanes* sums = reinterpret_cast<Lanes*>(task.sums) + static_cast<size_t>(first) * 3 * V;
  Lanes g[R][V], h[R][V], f[R][V];
  const uint64_t* rows[R];
  for (int r = 0; r < R; ++r) {
    rows[r] = task.rows + static_cast<size_t>(first + r) * task.rowStride;
    for (int v = 0; v < V; ++v) {
      g[r][v] = sums[r * 3 * V + v];
      h[r][v] = sums[r * 3 * V + V + v];
      if constexpr (kProduct) f[r][v] = sums[r * 3 * V + 2 * V + v];
    }
  }
  // One copy's terms: t its log record, p its factor row.
  auto add = [&](int r, const Lanes* t, const Lanes* p) {
    for (int v = 0; v < V; ++v) {
      g[r][v] += t[v];
      h[r][v] += t[V + v];
      if constexpr (kProduct) f[r][v] *= p[v];
    }
  };
  const Lanes* logs = reinterpret_cast<const Lanes*>(task.logTerms);
  const Lanes* factors = reinterpret_cast<const Lanes*>(task.factors);
  if constexpr (kWidth > 0) {
    constexpr int32_t kPerWord = 64 / kWidth;
    constexpr uint64_t kSlots = uint64_t{1} << kWidth;
    const size_t slot = task.firstLocus->slot;
    const Lanes* t = logs + slot * kLog;
    const Lanes* p = factors + slot * V;
    const int32_t loci = static_cast<int32_t>(task.endLocus - task.firstLocus);
    const uint64_t* word[R];
    for (int r = 0; r < R; ++r) word[r] = rows[r] + task.firstWord;
    for (int32_t done = 0; done < loci; done += kPerWord) {
      uint64_t x[R];
      for (int r = 0; r < R; ++r) x[r] = *word[r]++;
      const int32_t count = std::min(loci - done, kPerWord);
#pragma GCC unroll 4
      for (int32_t i = 0; i < count; ++i, t += kSlots * kLog, p += kSlots * V) {
        for (int r = 0; r < R; ++r) {
          const uint64_t code = x[r] & (kSlots - 1);
          x[r] >>= kWidth;
          add(r, t + code * kLog, p + code * V);
        }
      }
    }
  } else {
    for (const EmLocus* locus = task.firstLocus; locus != task.endLocus; ++locus) {
      const Lanes* t = logs + static_cast<size_t>(locus->slot) * kLog;
      const Lanes* p = factors + static_cast<size_t>(locus->slot) * V;
      for (int r = 0; r < R; ++r) {
        const uint64_t code = CodeAt(rows[r], *locus);
        add(r, t + code * kLog, p + code * V);
      }
    }
  }
  for (int r = 0; r < R; ++r) {
    for (int v = 0; v < V; ++v) {
      sums[r * 3 * V + v] = g[r][v];
      sums[r * 3 * V + V + v] = h[r][v];
      if constexpr (kProduct) sums[r * 3 * V + 2 * V + v] = f[r][v];
    }
  }
}

template <int V, int kWidth>
[[gnu::always_inline]] inline void SumSegmentBody(const SumTask& task) {
  constexpr int R = V == 1 ? 4 : V == 2 ? 2 : 1;
  // The rows of the individuals a few groups ahead are fetched early: each row yields only a
  // few words to a segment, so the hardware would meet every one of them cold.
  constexpr int32_t kAhead = 4 * R;
  const int32_t word = kWidth > 0 ? task.firstWord : static_cast<int32_t>(task.firstLocus->at >> 6);
  int32_t i = 0;
  for (; i + R <= task.individuals; i += R) {
    for (int r = 0; r < R; ++r) {
      if (i + kAhead + r < task.individuals) {
        __builtin_prefetch(task.rows + static_cast<size_t>(i + kAhead + r) * task.rowStride + word);
      }
    }
    bool spent = true;
    for (int r = 0; r < R; ++r) spent = spent && task.spent[i + r];
    if (spent) {
      SumGroup<V, R, false, kWidth>(task, i);
    } else {
      SumGroup<V, R, true, kWidth>(task, i);
    }
  }
  for (; i < task.individuals; ++i) {
    if (task.spent[i]) {
      SumGroup<V, 1, false, kWidth>(task, i);
    } else {
      SumGroup<V, 1, true, kWidth>(task, i);
    }
  }
}

// The weighted counts of one segment for one chunk of V lane groups: every individual in
// ascending order adds c * Q[n][k] to the count row of each allele it carries c times.
struct CountTask {
  const uint64_t* rows;  // individual 0, copy 0 in the segment's block
  size_t rowWords;
  int32_t N, A;
  const EmLocus* firstLocus;
  const EmLocus* endLocus;
  int32_t firstWord;          // packed: the word of the segment's first code
  const double* memberships;  // N rows of V lane groups
  double* counts;
};

// The two copies of a diploid individual at one locus, without a branch: a homozygote adds
// 2q once, and its second add goes to the slot `spare` (like every add of a missing copy,
// to a slot nobody reads). choices: q, then 2q.
template <int V>
[[gnu::always_inline]] inline void CountPair(Lanes* slots, uint64_t c0, uint64_t c1, uint64_t spare,
                                             const Lanes* choices) {
  const uint64_t same = c0 == c1;
  const uint64_t other = c1 ^ ((c1 ^ spare) & (0 - same));
  const Lanes* add = choices + same * V;
  for (int v = 0; v < V; ++v) slots[c0 * V + v] += add[v];
  for (int v = 0; v < V; ++v) slots[other * V + v] += choices[v];
}

template <int V, int kWidth>
[[gnu::always_inline]] inline void CountSegmentBody(const CountTask& task) {
  // Locals, as the stores to the counts may alias anything reached through task.
  Lanes* const counts = reinterpret_cast<Lanes*>(task.counts);
  const Lanes* const memberships = reinterpret_cast<const Lanes*>(task.memberships);
  const EmLocus* const firstLocus = task.firstLocus;
  const EmLocus* const endLocus = task.endLocus;
  const size_t rowWords = task.rowWords;
  const int32_t N = task.N, A = task.A;
  const int32_t loci = static_cast<int32_t>(endLocus - firstLocus);
  Lanes* const segmentSlots = counts + static_cast<size_t>(firstLocus->slot) * V;
  // Packed: fields of kWidth bits, 2^kWidth slots per locus; the last one, never an allele,
  // takes the spare adds. kFieldLow has the lowest bit of every field set.
  constexpr int32_t kFieldWidth = kWidth > 0 ? kWidth : 2;
  constexpr int32_t kPerWord = 64 / kFieldWidth;
  constexpr uint64_t kSlots = uint64_t{1} << kFieldWidth;
  constexpr uint64_t kFieldLow = ~uint64_t{0} / (kSlots - 1);
  for (int32_t n = 0; n < N; ++n) {
    // choices: q, then 2q (a homozygote's two copies).
    Lanes choices[2 * V];
    const Lanes* q = choices;
    for (int v = 0; v < V; ++v) {
      choices[v] = memberships[static_cast<size_t>(n) * V + v];
      choices[V + v] = 2.0 * choices[v];
    }
    const uint64_t* row = task.rows + static_cast<size_t>(n) * A * rowWords;
    if (n + 8 < N) {
      const uint64_t* ahead = row + 8 * static_cast<size_t>(A) * rowWords +
                              (kWidth > 0 ? task.firstWord : firstLocus->at >> 6);
      for (int32_t a = 0; a < A; ++a) __builtin_prefetch(ahead + a * rowWords);
    }
    if (kWidth > 0 && (A == 1 || A == 2)) {
      // The pairs of a word at once: the lowest bit of field i of `same` is set when both
      // copies of locus i have one code, and `other` is the second copy's code, or the spare
      // slot for a homozygote.
      const uint64_t* first = row + task.firstWord;
      const uint64_t* second = first + rowWords;
      Lanes* slots = segmentSlots;
      for (int32_t done = 0; done < loci; done += kPerWord, ++first, ++second) {
        uint64_t x0 = *first;
        const int32_t count = std::min(loci - done, kPerWord);
        if (A == 1) {
          for (int i = 0; i < count; ++i, x0 >>= kFieldWidth, slots += kSlots * V) {
            Lanes* slot = slots + (x0 & (kSlots - 1)) * V;
            for (int v = 0; v < V; ++v) slot[v] += q[v];
          }
          continue;
        }
        const uint64_t x1 = *second;
        uint64_t equal = ~(x0 ^ x1);
        for (int32_t b = 1; b < kFieldWidth; b *= 2) equal &= equal >> b;
        uint64_t same = equal & kFieldLow;
        uint64_t other = x1 | (same * (kSlots - 1));
#pragma GCC unroll 4
        for (int i = 0; i < count; ++i, x0 >>= kFieldWidth, other >>= kFieldWidth,
                 same >>= kFieldWidth, slots += kSlots * V) {
          const Lanes* add = choices + (same & 1) * V;
          Lanes* slot0 = slots + (x0 & (kSlots - 1)) * V;
          for (int v = 0; v < V; ++v) slot0[v] += add[v];
          Lanes* slot1 = slots + (other & (kSlots - 1)) * V;
          for (int v = 0; v < V; ++v) slot1[v] += q[v];
        }
      }
    } else if (A == 2) {
      const uint64_t* second = row + rowWords;
      for (const EmLocus* locus = firstLocus; locus != endLocus; ++locus) {
        CountPair<V>(counts + static_cast<size_t>(locus->slot) * V, CodeAt(row, *locus),
                     CodeAt(second, *locus), locus->missing, choices);
      }
    } else if (A == 1) {
      for (const EmLocus* locus = firstLocus; locus != endLocus; ++locus) {
        Lanes* slot = counts + (static_cast<size_t>(locus->slot) + CodeAt(row, *locus)) * V;
        for (int v = 0; v < V; ++v) slot[v] += q[v];
      }
    } else {
      // Each allele once, at its first copy, with the number c of copies carrying it.
      for (const EmLocus* locus = firstLocus; locus != endLocus; ++locus) {
        for (int32_t a = 0; a < A; ++a) {
          const uint64_t code = CodeAt(row + a * rowWords, *locus);
          if (code == locus->missing) continue;
          bool seen = false;
          for (int32_t b = 0; b < a && !seen; ++b)
            seen = CodeAt(row + b * rowWords, *locus) == code;
          if (seen) continue;
          int32_t c = 1;
          for (int32_t b = a + 1; b < A; ++b) c += CodeAt(row + b * rowWords, *locus) == code;
          const double copies = c;
          Lanes* slot = counts + (static_cast<size_t>(locus->slot) + code) * V;
          for (int v = 0; v < V; ++v) slot[v] += copies * q[v];
        }
      }
    }
  }
}

// The inner loops in two versions: for any x86-64 processor, and for one with AVX2, chosen
// when the workspace is prepared. Both do the same IEEE operations (no contraction).
template <int V, int kWidth>
struct SumKernel {
  static void Plain(const SumTask& task) { SumSegmentBody<V, kWidth>(task); }
  [[gnu::target("avx2")]] static void Wide(const SumTask& task) { SumSegmentBody<V, kWidth>(task); }
};
template <int V, int kWidth>
struct CountKernel {
  static void Plain(const CountTask& task) { CountSegmentBody<V, kWidth>(task); }
  [[gnu::target("avx2")]] static void Wide(const CountTask& task) {
    CountSegmentBody<V, kWidth>(task);
  }
};

// The version of Kernel for `groups` lane groups (1 to 4), a packed width (0, 2, 4) and the
// processor.
template <template <int, int> class Kernel>
auto KernelVersion(bool wide, int32_t width, int32_t groups) -> decltype(&Kernel<1, 0>::Plain) {
  auto forWidth = [&]<int kWidth>() -> decltype(&Kernel<1, 0>::Plain) {
    switch (groups) {
      case 1:
        return wide ? &Kernel<1, kWidth>::Wide : &Kernel<1, kWidth>::Plain;
      case 2:
        return wide ? &Kernel<2, kWidth>::Wide : &Kernel<2, kWidth>::Plain;
      case 3:
        return wide ? &Kernel<3, kWidth>::Wide : &Kernel<3, kWidth>::Plain;
      default:
        return wide ? &Kernel<4, kWidth>::Wide : &Kernel<4, kWidth>::Plain;
    }
  };
  if (width == 2) return forWidth.template operator()<2>();
  if (width == 4) return forWidth.template operator()<4>();
  return forWidth.template operator()<0>();
}

// Step 1: pi_k = (sum over n ascending of Q[n][k]) * (1/N).
void UpdateMixingProportions(const EmWorkspace& w, const Vector2D<double>& Q,
                             std::vector<double>& pi) {
  const int32_t K = w.K;
  std::fill(pi.begin(), pi.begin() + K, 0.0);
  for (int32_t n = 0; n < w.N; ++n) {
    const double* q = Q[n].data();
    for (int32_t k = 0; k < K; ++k) pi[k] += q[k];
  }
  const double inverseN = 1.0 / w.N;
  for (int32_t k = 0; k < K; ++k) pi[k] = pi[k] * inverseN;
}

// The logarithms of this iteration's pi.
void UpdateLogPi(EmWorkspace& w, const std::vector<double>& pi) {
  for (int32_t k = 0; k < w.K; ++k) {
    const double logPi = std::log(pi[k]);
    w.logPi[k] = logPi;
    w.floorLogPi[k] = FloorLog(logPi);
  }
}

// The slots of locus l: its codes 0 .. J[l], or every code of a 2- or 4-bit locus.
size_t SlotCount(const GenotypeTable& X, const EmLocus& locus, int32_t l) {
  return X.width[l] <= 4 ? size_t{1} << X.width[l] : static_cast<size_t>(locus.missing) + 1;
}

// The terms of cluster i of the chunk at locus l from its frequencies p: the floored
// logarithms, the logarithms and the likelihood factors, once per cluster and allele instead
// of once per copy.
void SetLocusTerms(EmWorkspace& w, double* base, const EmChunk& chunk, int32_t i, int32_t l,
                   const double* p) {
  const int32_t laneCount = kLanes * chunk.groups;
  const size_t slot = w.loci[l].slot;
  const int32_t Jl = w.J[l];
  double* logs = base + chunk.logTerms + slot * 2 * laneCount + i;
  double* factors = base + chunk.factors + slot * laneCount + i;
  const uint8_t* negative = w.negativeAllele.data() + w.alleleStart[l];
  for (int32_t j = 0; j < Jl; ++j) {
    const double logP = std::log(p[j]);
    logs[static_cast<size_t>(j) * 2 * laneCount] = FloorLog(logP);
    // A negative allele value takes part in the counts and in g, but not in the
    // likelihood: factor 1 and log 0 leave its product and log sum unchanged.
    logs[static_cast<size_t>(j) * 2 * laneCount + laneCount] = negative[j] ? 0.0 : logP;
    factors[static_cast<size_t>(j) * laneCount] = negative[j] ? 1.0 : p[j];
  }
}

// Step 2 for the loci of one segment, then (when `terms`) their terms. The counts
// F[k][l][j] = sum over n ascending of c(n,l,j) * Q[n][k] (individuals without the allele
// add exactly +0 there, so only the alleles present are added); then P = F * (1/S) with S the
// sum over j ascending of F; then the terms of P (SetLocusTerms).
void UpdateSegment(EmWorkspace& w, double* base, const EmSegment& segment, Vector3D<double>& P,
                   bool terms) {
  const GenotypeTable& X = *w.X;
  const LocusBlock& block = X.blocks[segment.block];
  const EmLocus* firstLocus = w.loci.data() + segment.firstLocus;
  const EmLocus* endLocus = w.loci.data() + segment.endLocus;
  const size_t firstSlot = firstLocus->slot;
  const size_t endSlot = endLocus[-1].slot + SlotCount(X, endLocus[-1], segment.endLocus - 1);
  for (const EmChunk& chunk : w.chunks) {
    const int32_t laneCount = kLanes * chunk.groups;
    double* counts = base + chunk.counts;
    std::fill(counts + firstSlot * laneCount, counts + endSlot * laneCount, 0.0);
    const CountTask task{X.words.data() + block.start,
                         static_cast<size_t>(block.rowWords),
                         w.N,
                         w.A,
                         firstLocus,
                         endLocus,
                         segment.firstWord,
                         base + chunk.memberships,
                         counts};
    KernelVersion<CountKernel>(w.wideVectors, segment.packedWidth, chunk.groups)(task);

    for (int32_t i = 0; i < chunk.clusters; ++i) {
      const int32_t k = chunk.firstCluster + i;
      for (int32_t l = segment.firstLocus; l < segment.endLocus; ++l) {
        const size_t slot = w.loci[l].slot;
        const double* F = counts + slot * laneCount + i;
        const int32_t Jl = w.J[l];
        double S = 0.0;
        for (int32_t j = 0; j < Jl; ++j) S += F[static_cast<size_t>(j) * laneCount];
        const double inverseS = 1.0 / S;
        double* p = P[k][l].data();
        if (std::isinf(inverseS)) {
          // Nothing of cluster k was seen at locus l: uniform frequencies this iteration.
          for (int32_t j = 0; j < Jl; ++j) p[j] = 1.0 / Jl;
        } else {
          for (int32_t j = 0; j < Jl; ++j) p[j] = F[static_cast<size_t>(j) * laneCount] * inverseS;
        }
        if (terms) SetLocusTerms(w, base, chunk, i, l, p);
      }
    }
  }
}

// Individual n's record of the chunk: g, h and f, one row of lanes each.
double* SumsOf(double* base, const EmChunk& chunk, int32_t n) {
  return base + chunk.sums + static_cast<size_t>(n) * 3 * kLanes * chunk.groups;
}

// Whether s_n = sum_k pi_k f_k, from individual n's partial products so far, is already
// below DBL_MIN. Every factor still to come lies in [0, 1], so each product can only stay or
// shrink (rounding is monotone), and so can s_n: the final s_n is below DBL_MIN as well, and
// the likelihood term takes the log-space path whatever the remaining factors are.
bool ProductSpent(const EmWorkspace& w, double* base, const std::vector<double>& pi, int32_t n) {
  double s = 0.0;
  for (const EmChunk& chunk : w.chunks) {
    const double* f = SumsOf(base, chunk, n) + 2 * kLanes * chunk.groups;
    for (int32_t i = 0; i < chunk.clusters; ++i) s += pi[chunk.firstCluster + i] * f[i];
  }
  return s < DBL_MIN;
}

// The width (2 or 4) of the codes of loci first .. end - 1 of block b when they all have it
// and lie one after another from the block's start; else 0.
int32_t PackedWidth(const GenotypeTable& X, int32_t b, int32_t end) {
  const int32_t first = X.blocks[b].firstLocus;
  const int32_t width = X.width[first];
  if (width > 4) return 0;
  for (int32_t l = first; l < end; ++l) {
    if (X.width[l] != width || X.position[l] != width * (l - first)) return 0;
  }
  return width;
}

}  // namespace

void PrepareEmWorkspace(const GenotypeTable& X, const Vector2D<int32_t>& AlleleValues,
                        const std::vector<int32_t>& J, int32_t N, int32_t A, int32_t L, int32_t K,
                        EmWorkspace& w, int32_t threads) {
  w.threads = threads > 0 ? threads : 1;
  w.wideVectors = __builtin_cpu_supports("avx2");
  w.N = N;
  w.A = A;
  w.L = L;
  w.K = K;
  w.X = &X;
  w.J.assign(J.begin(), J.begin() + L);

  w.alleleStart.assign(L + 1, 0);
  for (int32_t l = 0; l < L; ++l) w.alleleStart[l + 1] = w.alleleStart[l] + J[l];
  w.negativeAllele.assign(w.alleleStart[L], 0);
  for (int32_t l = 0; l < L; ++l) {
    for (int32_t j = 0; j < J[l]; ++j)
      w.negativeAllele[w.alleleStart[l] + j] = AlleleValues[l][j] < 0;
  }

  // Slots: codes 0 .. J[l] of every locus (every code of a 2- or 4-bit locus), one locus
  // after another.
  w.loci.assign(L, EmLocus{});
  size_t slots = 0;
  for (int32_t l = 0; l < L; ++l) {
    EmLocus& locus = w.loci[l];
    locus.at = X.position[l];
    locus.mask = static_cast<uint32_t>((uint64_t{1} << X.width[l]) - 1);
    locus.slot = static_cast<uint32_t>(slots);
    locus.missing = static_cast<uint32_t>(J[l]);
    slots += SlotCount(X, locus, l);
  }

  // Chunks of up to sixteen clusters and their places in the lane storage, each table on a
  // cache-line boundary.
  w.chunks.clear();
  size_t doubles = 0;
  auto take = [&](size_t count) {
    const size_t at = doubles;
    doubles += (count + 7) / 8 * 8;
    return at;
  };
  for (int32_t k = 0; k < K; k += kChunkClusters) {
    EmChunk chunk;
    chunk.firstCluster = k;
    chunk.clusters = std::min(K - k, kChunkClusters);
    chunk.groups = (chunk.clusters + kLanes - 1) / kLanes;
    const size_t laneCount = static_cast<size_t>(kLanes) * chunk.groups;
    chunk.logTerms = take(slots * 2 * laneCount);
    chunk.factors = take(slots * laneCount);
    chunk.counts = take(slots * laneCount);
    chunk.sums = take(static_cast<size_t>(N) * 3 * laneCount);
    chunk.memberships = take(static_cast<size_t>(N) * laneCount);
    w.chunks.push_back(chunk);
  }
  RequireMemory(static_cast<double>(doubles) * sizeof(double) + double(L) * sizeof(EmLocus),
                "the EM tables of " + std::to_string(K) + " clusters over " + std::to_string(L) +
                    " loci and " + std::to_string(N) + " individuals",
                "RunEM");
  w.lanes.assign(doubles + 8, 0.0);
  // Factors of 1 wherever no frequency is written: the missing code and the unused lanes.
  double* base = LaneBase(w);
  for (const EmChunk& chunk : w.chunks) {
    std::fill_n(base + chunk.factors, slots * kLanes * chunk.groups, 1.0);
  }

  // Segments: each block's loci, cut where their log records would outgrow the budget; a
  // packed block is cut at whole words.
  w.segments.clear();
  const size_t recordBytes = 2 * sizeof(double) * kLanes * (K > 0 ? w.chunks[0].groups : 1);
  for (int32_t b = 0; b < static_cast<int32_t>(X.blocks.size()); ++b) {
    const int32_t first = X.blocks[b].firstLocus;
    const int32_t end = std::min(X.blocks[b].endLocus, L);
    if (first >= end) break;
    const int32_t width = PackedWidth(X, b, end);
    if (width > 0) {
      const int32_t perWord = 64 / width;
      const size_t wordBytes = static_cast<size_t>(perWord) * (size_t{1} << width) * recordBytes;
      const int32_t words = static_cast<int32_t>(std::max<size_t>(1, kSegmentBytes / wordBytes));
      for (int32_t l = first; l < end; l += perWord * words) {
        w.segments.push_back(EmSegment{b, l, std::min(end, l + perWord * words),
                                       static_cast<int8_t>(width), (l - first) / perWord, false});
      }
    } else {
      size_t bytes = 0;
      for (int32_t l = first; l < end; ++l) {
        const size_t locusBytes = recordBytes * (w.loci[l].missing + 1);
        if (l == first || bytes + locusBytes > kSegmentBytes) {
          w.segments.push_back(EmSegment{b, l, l, 0, 0, false});
          bytes = 0;
        }
        bytes += locusBytes;
        w.segments.back().endLocus = l + 1;
      }
    }
    w.segments.back().endsBlock = true;
  }

  w.productSpent.assign(N, 0);
  w.logLikelihoodTerms.assign(N, 0.0);
  w.floorLogPi.assign(K, 0.0);
  w.logPi.assign(K, 0.0);
  w.ratioScratch.assign(static_cast<size_t>(w.threads) * K * K, 0.0);
}

namespace {

// Steps 1 and 2 from the memberships Q: pi and its logarithms, the memberships padded to
// whole lane groups for the counts, P (and, when `terms`, the terms of P).
void MStep(EmWorkspace& w, const Vector2D<double>& Q, std::vector<double>& pi,
           Vector3D<double>& AlleleFrequencies, bool terms) {
  const int32_t N = w.N;
  double* base = LaneBase(w);
  // Step 1, and the memberships padded to whole lane groups for the counts.
  UpdateMixingProportions(w, Q, pi);
  UpdateLogPi(w, pi);
  for (const EmChunk& chunk : w.chunks) {
    const int32_t laneCount = kLanes * chunk.groups;
    double* row = base + chunk.memberships;
    for (int32_t n = 0; n < N; ++n, row += laneCount) {
      for (int32_t i = 0; i < chunk.clusters; ++i) row[i] = Q[n][chunk.firstCluster + i];
    }
  }

  // Step 2 and the terms, in units of consecutive segments.
  const int32_t segments = static_cast<int32_t>(w.segments.size());
  const int32_t segmentUnits = std::min(segments, kUnitsPerThread * w.threads);
  RunUnits(w.threads, segmentUnits, [&](int32_t unit, int32_t) {
    const int32_t s1 = ShareStart(segments, unit + 1, segmentUnits);
    for (int32_t s = ShareStart(segments, unit, segmentUnits); s < s1; ++s) {
      UpdateSegment(w, base, w.segments[s], AlleleFrequencies, terms);
    }
  });
}

// Steps 3 and 5 (and 4 under annealing with exponent beta) from pi and the terms in the
// workspace: Q, LogRatioMatrix and each individual's log-likelihood term.
void EStep(EmWorkspace& w, const std::vector<double>& pi, Vector2D<double>& Q,
           Vector2D<double>& LogRatioMatrix, bool annealing, double beta) {
  const int32_t N = w.N, A = w.A, K = w.K;
  const GenotypeTable& X = *w.X;
  double* base = LaneBase(w);
  // Steps 3 and 5 (and 4 under annealing), in units of consecutive individuals. Each
  // individual's sums of every cluster, each in its documented order (a outer, l inner),
  // share one pass over the copies: the copies a one after another, each through the
  // segments in locus order.
  const int32_t individualUnits = w.threads > 1 ? std::min(N, kUnitsPerThread * w.threads) : 1;
  RunUnits(w.threads, individualUnits, [&](int32_t unit, int32_t thread) {
    const int32_t n0 = ShareStart(N, unit, individualUnits);
    const int32_t n1 = ShareStart(N, unit + 1, individualUnits);
    for (const EmChunk& chunk : w.chunks) {
      const int32_t laneCount = kLanes * chunk.groups;
      for (int32_t n = n0; n < n1; ++n) {
        double* sums = SumsOf(base, chunk, n);
        std::fill_n(sums, 2 * laneCount, 0.0);
        std::fill_n(sums + 2 * laneCount, laneCount, 1.0);
      }
    }
    std::fill(w.productSpent.begin() + n0, w.productSpent.begin() + n1, 0);
    if (n1 == n0) return;
    for (int32_t a = 0; a < A; ++a) {
      for (const EmSegment& segment : w.segments) {
        const LocusBlock& block = X.blocks[segment.block];
        for (const EmChunk& chunk : w.chunks) {
          const SumTask task{BlockRow(X, segment.block, n0, a),
                             static_cast<size_t>(A) * block.rowWords,
                             n1 - n0,
                             w.loci.data() + segment.firstLocus,
                             w.loci.data() + segment.endLocus,
                             segment.firstWord,
                             base + chunk.logTerms,
                             base + chunk.factors,
                             SumsOf(base, chunk, n0),
                             w.productSpent.data() + n0};
          KernelVersion<SumKernel>(w.wideVectors, segment.packedWidth, chunk.groups)(task);
        }
        if (!segment.endsBlock) continue;
        for (int32_t n = n0; n < n1; ++n) {
          if (!w.productSpent[n]) w.productSpent[n] = ProductSpent(w, base, pi, n);
        }
      }
    }

    // The last individual's ratios stay in LogRatioMatrix; other units use their thread's
    // scratch.
    const bool last = n1 == N;
    double* scratch = w.ratioScratch.data() + static_cast<size_t>(thread) * K * K;
    auto ratio = [&](int32_t k, int32_t m) -> double& {
      return last ? LogRatioMatrix[k][m] : scratch[static_cast<size_t>(k) * K + m];
    };
    for (int32_t n = n0; n < n1; ++n) {
      // E-step: g_k (with lambda(pi_k) added last) in row n, pairwise ratios, posteriors.
      double* q = Q[n].data();
      for (const EmChunk& chunk : w.chunks) {
        const double* g = SumsOf(base, chunk, n);
        for (int32_t i = 0; i < chunk.clusters; ++i) {
          const int32_t k = chunk.firstCluster + i;
          q[k] = g[i] + w.floorLogPi[k];
        }
      }
      for (int32_t k = 0; k < K; ++k) {
        for (int32_t m = k + 1; m < K; ++m) {
          const double r = q[m] - q[k];
          ratio(k, m) = std::min(r, kRatioCap);
          ratio(m, k) = std::min(0.0 - r, kRatioCap);
        }
      }
      for (int32_t k = 0; k < K; ++k) {
        double sum = 0.0;
        // The diagonal ratio is 0 (never written): it contributes e^0 = 1.
        for (int32_t m = 0; m < K; ++m) sum += std::exp(m == k ? 0.0 : ratio(k, m));
        q[k] = 1.0 / sum;
      }

      if (annealing) {
        double sum = 0.0;
        for (int32_t k = 0; k < K; ++k) {
          q[k] = std::pow(q[k], beta);
          sum += q[k];
        }
        const double inverseSum = 1.0 / sum;
        for (int32_t k = 0; k < K; ++k) q[k] *= inverseSum;
      }

      // Log-likelihood term of individual n.
      double s = 0.0;
      if (!w.productSpent[n]) {
        for (const EmChunk& chunk : w.chunks) {
          const double* f = SumsOf(base, chunk, n) + 2 * kLanes * chunk.groups;
          for (int32_t i = 0; i < chunk.clusters; ++i) s += pi[chunk.firstCluster + i] * f[i];
        }
      }
      if (s >= DBL_MIN) {
        w.logLikelihoodTerms[n] = std::log(s);
      } else {
        double* h = scratch;  // K entries, free again once the posteriors are done
        for (const EmChunk& chunk : w.chunks) {
          const double* sums = SumsOf(base, chunk, n) + kLanes * chunk.groups;
          for (int32_t i = 0; i < chunk.clusters; ++i) {
            const int32_t k = chunk.firstCluster + i;
            h[k] = sums[i] + w.logPi[k];
          }
        }
        w.logLikelihoodTerms[n] = LogSumExp(h, K);
      }
    }
  });
}

// The log-likelihood: the individuals' terms summed ascending.
double SumLogLikelihood(const EmWorkspace& w) {
  double logLikelihood = 0.0;
  for (int32_t n = 0; n < w.N; ++n) logLikelihood += w.logLikelihoodTerms[n];
  return logLikelihood;
}

}  // namespace

double EmIteration(int32_t t, char emVariant, int32_t settlingCount, RandomGenerator& rng,
                   EmWorkspace& w, std::vector<double>& MixingProportions,
                   Vector3D<double>& AlleleFrequencies, Vector2D<double>& ClusteringProbabilities,
                   Vector2D<double>& LogRatioMatrix, double& AnnealingExponent) {
  const int32_t N = w.N, K = w.K;
  std::vector<double>& pi = MixingProportions;
  Vector2D<double>& Q = ClusteringProbabilities;
  MStep(w, Q, pi, AlleleFrequencies, true);

  const bool settling = t < settlingCount;
  const bool annealing = settling && emVariant == 'a';
  const bool stochastic = settling && emVariant == 's';
  const double beta = AnnealingExponent;
  EStep(w, pi, Q, LogRatioMatrix, annealing, beta);

  // Step 4 of the stochastic variant: one draw per individual, ascending, each over its
  // own row of posteriors.
  if (stochastic) {
    for (int32_t n = 0; n < N; ++n) {
      double* q = Q[n].data();
      const int32_t drawn = DrawCluster(rng, q, K);
      for (int32_t k = 0; k < K; ++k) q[k] = k == drawn ? 1.0 : 0.0;
    }
  }
  if (annealing) AnnealingExponent = beta * 1.2;

  return SumLogLikelihood(w);
}

void EmMStep(EmWorkspace& w, const Vector2D<double>& Q, std::vector<double>& pi,
             Vector3D<double>& P) {
  MStep(w, Q, pi, P, false);
}

double EmEStep(EmWorkspace& w, const std::vector<double>& pi, const Vector3D<double>& P,
               Vector2D<double>& Q, Vector2D<double>& LogRatioMatrix) {
  UpdateLogPi(w, pi);
  double* base = LaneBase(w);
  const int32_t segments = static_cast<int32_t>(w.segments.size());
  const int32_t segmentUnits = std::min(segments, kUnitsPerThread * w.threads);
  RunUnits(w.threads, segmentUnits, [&](int32_t unit, int32_t) {
    const int32_t s1 = ShareStart(segments, unit + 1, segmentUnits);
    for (int32_t s = ShareStart(segments, unit, segmentUnits); s < s1; ++s) {
      const EmSegment& segment = w.segments[s];
      for (const EmChunk& chunk : w.chunks) {
        for (int32_t i = 0; i < chunk.clusters; ++i) {
          for (int32_t l = segment.firstLocus; l < segment.endLocus; ++l) {
            SetLocusTerms(w, base, chunk, i, l, P[chunk.firstCluster + i][l].data());
          }
        }
      }
    }
  });
  EStep(w, pi, Q, LogRatioMatrix, false, 1.0);
  return SumLogLikelihood(w);
}

void RunEM(const GenotypeTable& X, const Vector2D<int32_t>& AlleleValues,
           const std::vector<int32_t>& J, int32_t N, int32_t A, int32_t L, int32_t K, int32_t I,
           char emVariant, int32_t settlingCount, RandomGenerator& rng,
           std::vector<double>& MixingProportions, Vector3D<double>& AlleleFrequencies,
           Vector2D<double>& ClusteringProbabilities, Vector2D<double>& LogRatioMatrix,
           std::vector<double>& LogLikelihoodHistory, int32_t threads) {
  EmWorkspace w;
  PrepareEmWorkspace(X, AlleleValues, J, N, A, L, K, w, threads);
  double AnnealingExponent = std::pow(1.2, -settlingCount);
  for (int32_t t = 0; t < I; ++t) {
    LogLikelihoodHistory[t] =
        EmIteration(t, emVariant, settlingCount, rng, w, MixingProportions, AlleleFrequencies,
                    ClusteringProbabilities, LogRatioMatrix, AnnealingExponent);
    if ((t + 1) % 100 == 0) std::cout << t + 1 << " Iterations Completed" << std::endl;
  }
}

int32_t DrawCluster(RandomGenerator& rng, const double* q, int32_t K) {
  const int32_t drawn = CategoricalDraw(rng, q, K);
  if (drawn < K) return drawn;
  for (int32_t k = K - 1; k >= 0; --k) {
    if (q[k] > 0.0) return k;
  }
  return 0;
}

double LogSumExp(const double* t, int32_t K) {
  double largest = -std::numeric_limits<double>::infinity();
  for (int32_t k = 0; k < K; ++k) largest = std::max(largest, t[k]);
  if (std::isinf(largest) && largest < 0.0) return largest;
  double sum = 0.0;
  for (int32_t k = 0; k < K; ++k) sum += std::exp(t[k] - largest);
  return largest + std::log(sum);
}

void FinishAlleleFrequencies(Vector3D<double>& P, const std::vector<int32_t>& J, int32_t Jmax,
                             RandomGenerator& rng) {
  const bool manyAlleles = Jmax >= 100;
  const double low = manyAlleles ? 0.0001 : 0.001;
  const double sigma = low;
  const double lift = manyAlleles ? 0.001 : 0.01;
  const double floor = manyAlleles ? 0.0002 : 0.002;
  for (auto& cluster : P) {
    for (size_t l = 0; l < cluster.size(); ++l) {
      double* p = cluster[l].data();
      const int32_t Jl = J[l];
      for (int32_t j = 0; j < Jl; ++j) {
        if (p[j] < low) p[j] = GaussianDraw(rng, sigma) + lift;
        if (p[j] < floor) p[j] = floor;
      }
      double sum = 0.0;
      for (int32_t j = 0; j < Jl; ++j) sum += p[j];
      const double inverseSum = 1.0 / sum;
      for (int32_t j = 0; j < Jl; ++j) p[j] *= inverseSum;
    }
  }
}
