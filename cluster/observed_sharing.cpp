#include "cluster/observed_sharing.h"

#include <omp.h>

#include <algorithm>
#include <vector>

// The popcount loop is compiled for x86-64-v3 and plain x86-64 with POPCNT besides the
// default; the loader picks the one the processor runs. All count integers: same results.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define EMCLADE_POPCOUNT_CLONES \
  __attribute__((target_clones("arch=x86-64-v3", "popcnt", "default")))
#else
#define EMCLADE_POPCOUNT_CLONES
#endif

namespace {

// Bit sets of one individual, copy by copy: A rows of H words (one bit per observed allele
// slot: locus l, code c < J[l] is slot slotStart[l] + c), then A rows of O words (one bit
// per locus where the copy is observed). An individual's bits are `stride` words.
struct ObservedBits {
  int32_t A = 0, H = 0, O = 0, stride = 0;
  std::vector<uint64_t> words;
};

ObservedBits BuildObservedBits(const GenotypeTable& X, int32_t threads) {
  ObservedBits B;
  const int32_t N = X.N, A = X.A, L = X.L;
  std::vector<int64_t> slotStart(L);
  int64_t slots = 0;
  for (int32_t l = 0; l < L; ++l) {
    slotStart[l] = slots;
    slots += static_cast<int64_t>(X.alleleValues[l].size());
  }
  B.A = A;
  B.H = static_cast<int32_t>((slots + 63) / 64);
  B.O = (L + 63) / 64;
  B.stride = A * (B.H + B.O);
  B.words.assign(static_cast<size_t>(N) * B.stride, 0);
#pragma omp parallel for num_threads(threads) schedule(static)
  for (int32_t n = 0; n < N; ++n) {
    uint64_t* own = B.words.data() + static_cast<size_t>(n) * B.stride;
    for (int32_t a = 0; a < A; ++a) {
      uint64_t* h = own + static_cast<size_t>(a) * B.H;
      uint64_t* o = own + static_cast<size_t>(A) * B.H + static_cast<size_t>(a) * B.O;
      for (int32_t l = 0; l < L; ++l) {
        const uint32_t code = GenotypeCode(X, n, a, l);
        if (code >= X.alleleValues[l].size()) continue;  // the missing code (or above)
        const int64_t slot = slotStart[l] + code;
        h[slot / 64] |= uint64_t{1} << (slot % 64);
        o[l / 64] |= uint64_t{1} << (l % 64);
      }
    }
  }
  return B;
}

inline int64_t CommonBits(const uint64_t* x, const uint64_t* y, int32_t words) {
  int64_t count = 0;
  for (int32_t w = 0; w < words; ++w) count += __builtin_popcountll(x[w] & y[w]);
  return count;
}

// Row i: D(i, j) for j > i, or -1 where no copy is observed in both.
EMCLADE_POPCOUNT_CLONES
void ObservedSharingRow(const ObservedBits& B, int32_t N, int32_t i, double* row) {
  const int32_t A = B.A, H = B.H, O = B.O;
  const uint64_t* own = B.words.data() + static_cast<size_t>(i) * B.stride;
  for (int32_t j = i + 1; j < N; ++j) {
    const uint64_t* other = B.words.data() + static_cast<size_t>(j) * B.stride;
    int64_t shared = 0, observed = 0;
    for (int32_t a = 0; a < A; ++a) {
      for (int32_t b = 0; b < A; ++b) {
        shared +=
            CommonBits(own + static_cast<size_t>(a) * H, other + static_cast<size_t>(b) * H, H);
        observed += CommonBits(own + static_cast<size_t>(A) * H + static_cast<size_t>(a) * O,
                               other + static_cast<size_t>(A) * H + static_cast<size_t>(b) * O, O);
      }
    }
    row[j - i - 1] =
        observed > 0 ? 1.0 - static_cast<double>(shared) / static_cast<double>(observed) : -1.0;
  }
}

}  // namespace

CondensedDistances ObservedSharingDistance(const GenotypeTable& X, int32_t threads) {
  const int32_t N = X.N;
  if (N <= 0) return {};
  threads = std::max(threads, 1);
  CondensedDistances D = MakeCondensedDistances(N);
  const ObservedBits B = BuildObservedBits(X, threads);
#pragma omp parallel for num_threads(threads) schedule(dynamic, 8)
  for (int32_t i = 0; i < N - 1; ++i) {
    ObservedSharingRow(B, N, i, D.data() + CondensedIndex(N, i, i + 1));
  }
  // Pairs with nothing in common: the mean of the others, one serial sum.
  double sum = 0.0;
  int64_t counted = 0, unknown = 0;
  for (double d : D) {
    if (d >= 0.0) {
      sum += d;
      ++counted;
    } else {
      ++unknown;
    }
  }
  if (unknown > 0) {
    const double mean = counted > 0 ? sum / static_cast<double>(counted) : 1.0;
    for (double& d : D) {
      if (d < 0.0) d = mean;
    }
  }
  return D;
}
