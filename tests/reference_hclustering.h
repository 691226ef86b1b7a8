// Literal versions of the hierarchical clustering routines, written for clarity only:
// every pair compared copy by copy, and every merge rescanning every live pair (N^3).
// Tests compare the program's routines with these; the benchmarks time them side by side.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <vector>

#include "cluster/hclustering.h"

// Every pair, copy against copy, locus by locus.
inline CondensedDistances ReferenceHClusteringDistance(const GenotypeValues& X,
                                                       bool sharingDistance) {
  const int32_t N = static_cast<int32_t>(X.size());
  const int32_t A = static_cast<int32_t>(X[0].size());
  const int32_t L = static_cast<int32_t>(X[0][0].size());
  CondensedDistances D(static_cast<size_t>(0.5 * (N - 1) * N));
  for (int32_t i = 0; i < N; ++i) {
    for (int32_t j = i + 1; j < N; ++j) {
      double value = 0.0;
      if (sharingDistance) {
        int32_t s = 0;
        for (int32_t a = 0; a < A; ++a)
          for (int32_t b = 0; b < A; ++b)
            for (int32_t l = 0; l < L; ++l) s += X[i][a][l] == X[j][b][l];
        value = 1 - s / static_cast<double>(A * A * L);
      } else {
        double sum = 0.0;
        for (int32_t a = 0; a < A; ++a) {
          for (int32_t l = 0; l < L; ++l) {
            const int64_t difference = static_cast<int64_t>(X[i][a][l]) - X[j][a][l];
            sum += static_cast<double>(difference * difference);
          }
        }
        value = std::sqrt(sum);
      }
      D[CondensedIndex(N, i, j)] = value;
    }
  }
  return D;
}

inline double& ReferenceAt(CondensedDistances& D, int32_t N, int32_t i, int32_t j) {
  return i < j ? D[CondensedIndex(N, i, j)] : D[CondensedIndex(N, j, i)];
}

// Each merge: every live row's nearest later partner found from scratch ("strictly less,
// first wins", nothing at kNoDistance or above, NaN never), then the first row with the
// smallest distance. With no usable pair the two smallest live indices are merged.
inline void ReferenceHClusteringEngine(int32_t N, CondensedDistances& D, int32_t method,
                                       std::vector<int32_t>& kept, std::vector<int32_t>& absorbed) {
  if (N <= 1) return;
  if (kept.empty()) kept.assign(N - 1, 0);
  if (absorbed.empty()) absorbed.assign(N - 1, 0);
  std::vector<int32_t> S(N, 1);
  std::vector<bool> retired(N, false);
  std::vector<int32_t> nearest(N, 0);
  std::vector<double> nearestDist(N, kNoDistance);
  for (int32_t t = 0; t < N - 1; ++t) {
    for (int32_t j = 0; j < N - 1; ++j) {
      if (retired[j]) continue;
      double best = kNoDistance;
      for (int32_t k = j + 1; k < N; ++k) {
        if (retired[k]) continue;
        if (ReferenceAt(D, N, j, k) < best) {
          best = ReferenceAt(D, N, j, k);
          nearest[j] = k;
        }
      }
      nearestDist[j] = best;
    }
    double best = kNoDistance;
    int32_t found = -1;
    for (int32_t j = 0; j < N - 1; ++j) {
      if (!retired[j] && nearestDist[j] < best) {
        best = nearestDist[j];
        found = j;
      }
    }
    int32_t d = 0;
    int32_t c = 0;
    if (found >= 0) {
      d = found;
      c = nearest[found];
    } else {
      d = 0;
      while (retired[d]) ++d;
      c = d + 1;
      while (retired[c]) ++c;
    }
    kept[t] = d;
    absorbed[t] = c;
    retired[c] = true;
    for (int32_t e = 0; e < N; ++e) {
      if (retired[e] || e == d) continue;
      if (static_cast<uint32_t>(method) > 6u) {
        std::cerr << "Unsupported Clustering Method - HClusteringEngine" << std::endl;
        std::exit(1);
      }
      ReferenceAt(D, N, d, e) =
          LinkageUpdate(method, ReferenceAt(D, N, d, e), ReferenceAt(D, N, c, e),
                        ReferenceAt(D, N, d, c), S[d], S[c], S[e]);
    }
    S[d] += S[c];
  }
}
