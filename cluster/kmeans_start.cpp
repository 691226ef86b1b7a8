#include "cluster/kmeans_start.h"

#include <algorithm>
#include <limits>

namespace {

// ||S_k||^2 of every column of W.
std::vector<double> ColumnSquares(const std::vector<double>& W, int32_t rows, int32_t K) {
  std::vector<double> squares(K, 0.0);
  for (int32_t r = 0; r < rows; ++r) {
    const double* w = W.data() + static_cast<size_t>(r) * K;
    for (int32_t k = 0; k < K; ++k) squares[k] += w[k] * w[k];
  }
  return squares;
}

// The squared distance of every individual to individual m: ||x_n||^2 + ||x_m||^2 - 2 x_n.x_m.
void DistancesToIndividual(const AlleleCountSpace& space, int32_t m, int32_t threads,
                           std::vector<double>& column, std::vector<double>& dots,
                           std::vector<double>& distances) {
  column.assign(space.rows, 0.0);
  AddCounts(space, m, 0, 1, 1.0, column);
  DotWithColumns(space, column, 1, threads, dots);
  distances.resize(space.N);
  for (int32_t n = 0; n < space.N; ++n) {
    distances[n] = space.squaredNorm[n] + space.squaredNorm[m] - 2.0 * dots[n];
  }
}

// k-means++: K centres, and every individual in the cluster of its nearest one.
void SeedClusters(const AlleleCountSpace& space, int32_t K, RandomGenerator& rng, int32_t threads,
                  std::vector<int32_t>& labels) {
  const int32_t N = space.N;
  std::vector<double> column, dots, nearest, distances;
  int32_t centre = UniformIntDraw(rng, N);
  DistancesToIndividual(space, centre, threads, column, dots, nearest);
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
    DistancesToIndividual(space, centre, threads, column, dots, distances);
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

// The within-cluster sum of squares of labels from W, their columns of summed counts.
double SquaresOfClusters(const AlleleCountSpace& space, const std::vector<double>& W,
                         const std::vector<int32_t>& labels, int32_t K) {
  const std::vector<double> squares = ColumnSquares(W, space.rows, K);
  std::vector<double> norms(K, 0.0);
  std::vector<int32_t> sizes(K, 0);
  for (int32_t n = 0; n < space.N; ++n) {
    norms[labels[n]] += space.squaredNorm[n];
    ++sizes[labels[n]];
  }
  double total = 0.0;
  for (int32_t k = 0; k < K; ++k) {
    if (sizes[k] > 0) total += norms[k] - squares[k] / sizes[k];
  }
  return total;
}

}  // namespace

double RefineKmeans(const AlleleCountSpace& space, int32_t K, int32_t maxPasses, int32_t threads,
                    std::vector<int32_t>& labels) {
  const int32_t N = space.N;
  std::vector<double> W, dots;
  CountByLabel(space, labels, K, threads, W);
  std::vector<int32_t> sizes(K, 0), next(N);
  for (int32_t label : labels) ++sizes[label];
  std::vector<double> distance(N);
  for (int32_t pass = 0; pass < maxPasses; ++pass) {
    const std::vector<double> squares = ColumnSquares(W, space.rows, K);
    DotWithColumns(space, W, K, threads, dots);
    std::vector<int32_t> nextSizes(K, 0);
    for (int32_t n = 0; n < N; ++n) {
      const double* dot = dots.data() + static_cast<size_t>(n) * K;
      int32_t best = -1;
      double bestDistance = std::numeric_limits<double>::infinity();
      for (int32_t k = 0; k < K; ++k) {
        if (sizes[k] == 0) continue;
        const double size = sizes[k];
        const double d = space.squaredNorm[n] - 2.0 * dot[k] / size + squares[k] / (size * size);
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
    if (next == labels) return SquaresOfClusters(space, W, labels, K);
    // The centroids follow the moved individuals only: whole counts, exact either way.
    for (int32_t n = 0; n < N; ++n) {
      if (next[n] == labels[n]) continue;
      AddCounts(space, n, labels[n], K, -1.0, W);
      AddCounts(space, n, next[n], K, 1.0, W);
    }
    labels.swap(next);
    sizes.swap(nextSizes);
  }
  return SquaresOfClusters(space, W, labels, K);
}

double WithinClusterSquares(const AlleleCountSpace& space, const std::vector<int32_t>& labels,
                            int32_t K, int32_t threads) {
  std::vector<double> W;
  CountByLabel(space, labels, K, threads, W);
  return SquaresOfClusters(space, W, labels, K);
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
