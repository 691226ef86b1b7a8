#include "cluster/kmeans_start.h"

#include <algorithm>
#include <limits>

namespace {

// The column table of the centres of W (K columns of summed counts): at locus l, centre k
// has the allele frequencies p = S / T of its members' observed copies (T of them), and
// code row c < J[l] holds 1 + sum over alleles of p^2 - 2 p_c = ||e_c - p||^2, the squared
// distance of one copy of allele c from the centre; the missing row and every row of a
// locus where the centre has no observed copy hold 0. A dot with an individual
// (DotWithColumns) is then its distance from the centre over its observed copies.
void CentreColumns(const AlleleCountSpace& space, const std::vector<double>& W, int32_t K,
                   std::vector<double>& C) {
  C.assign(W.size(), 0.0);
  std::vector<double> T(K), Q(K);
  for (int32_t l = 0; l < space.L; ++l) {
    const size_t first = static_cast<size_t>(space.codeStart[l]) * K;
    const int32_t J = static_cast<int32_t>(space.fields[l].missing);
    std::fill(T.begin(), T.end(), 0.0);
    std::fill(Q.begin(), Q.end(), 0.0);
    for (int32_t c = 0; c < J; ++c) {
      for (int32_t k = 0; k < K; ++k) T[k] += W[first + static_cast<size_t>(c) * K + k];
    }
    for (int32_t c = 0; c < J; ++c) {
      for (int32_t k = 0; k < K; ++k) {
        const double p = T[k] > 0.0 ? W[first + static_cast<size_t>(c) * K + k] / T[k] : 0.0;
        Q[k] += p * p;
      }
    }
    for (int32_t c = 0; c < J; ++c) {
      for (int32_t k = 0; k < K; ++k) {
        const size_t at = first + static_cast<size_t>(c) * K + k;
        if (T[k] > 0.0) C[at] = 1.0 + Q[k] - 2.0 * (W[at] / T[k]);
      }
    }
  }
}

// The squared distance of every individual to individual m as a centre.
void DistancesToIndividual(const AlleleCountSpace& space, int32_t m, int32_t threads,
                           std::vector<double>& column, std::vector<double>& centre,
                           std::vector<double>& distances) {
  column.assign(space.rows, 0.0);
  AddCounts(space, m, 0, 1, 1.0, column);
  CentreColumns(space, column, 1, centre);
  DotWithColumns(space, centre, 1, threads, distances);
}

// k-means++: K centres, and every individual in the cluster of its nearest one.
void SeedClusters(const AlleleCountSpace& space, int32_t K, RandomGenerator& rng, int32_t threads,
                  std::vector<int32_t>& labels) {
  const int32_t N = space.N;
  std::vector<double> column, columns, nearest, distances;
  int32_t centre = UniformIntDraw(rng, N);
  DistancesToIndividual(space, centre, threads, column, columns, nearest);
  labels.assign(N, 0);
  for (int32_t k = 1; k < K; ++k) {
    double total = 0.0;
    for (int32_t n = 0; n < N; ++n) total += nearest[n];
    if (total > 0.0) {
      const double target = UniformDraw(rng) * total;
      double running = 0.0;
      centre = N - 1;
      for (int32_t n = 0; n < N; ++n) {
        running += nearest[n];
        if (running > target) {
          centre = n;
          break;
        }
      }
      // Rounding cannot leave the last positive distance behind: the running sum is exact.
    } else {
      centre = UniformIntDraw(rng, N);
    }
    DistancesToIndividual(space, centre, threads, column, columns, distances);
    for (int32_t n = 0; n < N; ++n) {
      if (distances[n] < nearest[n]) {
        nearest[n] = distances[n];
        labels[n] = k;
      }
    }
  }
}

// Gives every empty cluster the individual farthest from its centroid (distance[n]) out of a
// cluster of two or more members; the moved individual is then at distance 0.
void FillEmptyClusters(int32_t K, std::vector<int32_t>& labels, std::vector<int32_t>& sizes,
                       std::vector<double>& distance) {
  for (int32_t k = 0; k < K; ++k) {
    if (sizes[k] > 0) continue;
    int32_t farthest = -1;
    for (size_t n = 0; n < labels.size(); ++n) {
      if (sizes[labels[n]] < 2) continue;
      if (farthest < 0 || distance[n] > distance[farthest]) farthest = static_cast<int32_t>(n);
    }
    if (farthest < 0) return;  // fewer individuals than clusters: cannot happen for K <= N
    --sizes[labels[farthest]];
    labels[farthest] = k;
    sizes[k] = 1;
    distance[farthest] = 0.0;
  }
}

// The within-cluster sum of squares of labels from W, their columns of summed counts: over
// clusters k and loci l ascending, T - sum over alleles of S^2 / T (T > 0 observed copies).
double SquaresOfClusters(const AlleleCountSpace& space, const std::vector<double>& W, int32_t K) {
  double total = 0.0;
  for (int32_t k = 0; k < K; ++k) {
    for (int32_t l = 0; l < space.L; ++l) {
      double T = 0.0;
      total += LocusSquares(space, W, K, k, l, T);
    }
  }
  return total;
}

}  // namespace

double RefineKmeans(const AlleleCountSpace& space, int32_t K, int32_t maxPasses, int32_t threads,
                    std::vector<int32_t>& labels) {
  const int32_t N = space.N;
  std::vector<double> W, C, dots;
  CountByLabel(space, labels, K, threads, W);
  std::vector<int32_t> sizes(K, 0), next(N);
  for (int32_t label : labels) ++sizes[label];
  std::vector<double> distance(N);
  for (int32_t pass = 0; pass < maxPasses; ++pass) {
    CentreColumns(space, W, K, C);
    DotWithColumns(space, C, K, threads, dots);
    std::vector<int32_t> nextSizes(K, 0);
    for (int32_t n = 0; n < N; ++n) {
      const double* dot = dots.data() + static_cast<size_t>(n) * K;
      int32_t best = -1;
      double bestDistance = std::numeric_limits<double>::infinity();
      for (int32_t k = 0; k < K; ++k) {
        if (sizes[k] == 0) continue;
        const double d = dot[k];
        if (best < 0 || d < bestDistance) {
          best = k;
          bestDistance = d;
        }
      }
      next[n] = best;
      distance[n] = bestDistance;
      ++nextSizes[best];
    }
    FillEmptyClusters(K, next, nextSizes, distance);
    if (next == labels) return SquaresOfClusters(space, W, K);
    // The centroids follow the moved individuals only: whole counts, exact either way.
    for (int32_t n = 0; n < N; ++n) {
      if (next[n] == labels[n]) continue;
      AddCounts(space, n, labels[n], K, -1.0, W);
      AddCounts(space, n, next[n], K, 1.0, W);
    }
    labels.swap(next);
    sizes.swap(nextSizes);
  }
  return SquaresOfClusters(space, W, K);
}

double WithinClusterSquares(const AlleleCountSpace& space, const std::vector<int32_t>& labels,
                            int32_t K, int32_t threads) {
  std::vector<double> W;
  CountByLabel(space, labels, K, threads, W);
  return SquaresOfClusters(space, W, K);
}

double KmeansLabels(const AlleleCountSpace& space, int32_t K, const KmeansSettings& settings,
                    RandomGenerator& rng, int32_t threads, std::vector<int32_t>& labels) {
  labels.assign(space.N, 0);
  if (K <= 1) return WithinClusterSquares(space, labels, 1, threads);
  double best = std::numeric_limits<double>::infinity();
  std::vector<int32_t> trial;
  for (int32_t s = 0; s < std::max(settings.seedings, 1); ++s) {
    SeedClusters(space, K, rng, threads, trial);
    const double squares = RefineKmeans(space, K, settings.maxPasses, threads, trial);
    if (s == 0 || squares < best) {
      best = squares;
      labels = trial;
    }
  }
  return best;
}
