#include "cluster/initialisation.h"

#include <algorithm>

#include "cluster/hclustering.h"

int32_t PerturbationCount(int32_t N, int32_t L) {
  const double share = L >= 120 ? 0.05 : 0.25;
  const int32_t M = static_cast<int32_t>(N * share);
  return M == 0 ? 1 : M;
}

void PerturbLabels(std::vector<int32_t>& labels, int32_t N, int32_t L, int32_t K,
                   RandomGenerator& rng) {
  // With one cluster no individual can be moved elsewhere: nothing is drawn.
  if (K <= 1) return;
  std::vector<int32_t> individuals(N);
  for (int32_t n = 0; n < N; ++n) individuals[n] = n;
  const int32_t M = PerturbationCount(N, L);
  std::vector<int32_t> moved(M);
  ChooseDraw(rng, moved.data(), M, individuals.data(), N);
  std::vector<int32_t> clusters(K);
  for (int32_t k = 0; k < K; ++k) clusters[k] = k;
  for (int32_t n : moved) {
    int32_t c = labels[n];
    while (c == labels[n]) ChooseDraw(rng, &c, 1, clusters.data(), K);
    labels[n] = c;
  }
}

void StartFromLabels(std::vector<int32_t> labels, int32_t N, int32_t L, int32_t K,
                     RandomGenerator& rng, Vector2D<double>& Q) {
  PerturbLabels(labels, N, L, K, rng);
  for (std::vector<double>& row : Q) std::fill(row.begin(), row.end(), 0.0);
  for (size_t n = 0; n < Q.size(); ++n) Q[n][labels[n]] = 1.0;
}

void InitialiseMemberships(const GenotypeTable& X, int32_t N, int32_t L, int32_t K, char method,
                           RandomGenerator& rng, Vector2D<double>& ClusteringProbabilities,
                           std::vector<double>& MixingProportions, Vector2D<double>& LogRatioMatrix,
                           std::vector<double>& DirichletParameters) {
  DirichletParameters.assign(K, 1.0);
  MixingProportions.assign(K, 1.0 / K);
  InitVctr2D(LogRatioMatrix, K, K, 0.0);
  InitVctr2D(ClusteringProbabilities, N, K, 0.0);
  Vector2D<double>& Q = ClusteringProbabilities;

  if (method == 'r') {
    for (int32_t n = 0; n < N; ++n) {
      const int32_t k = CategoricalDraw(rng, MixingProportions);
      // The K weights 1/K always reach a cluster; the guard only keeps the row in bounds.
      if (k < K) Q[n][k] = 1.0;
    }
  } else if (method == 'c') {
    StartFromLabels(HClustering(X, 6, K, true), N, L, K, rng, Q);
  } else if (method == 'd') {
    for (int32_t n = 0; n < N; ++n) DirichletDraw(rng, DirichletParameters, Q[n].data());
  }
}
