// One EM step of the admixture model beside one iteration of the mixture model on the same
// SNP table (2-bit codes, every code drawn 0 or 1 with probability 1/2), same K and threads.
#include <benchmark/benchmark.h>

#include <vector>

#include "cluster/admixture_em.h"
#include "cluster/em.h"

namespace {

GenotypeTable RandomSnpTable(int32_t N, int32_t L) {
  GenotypeTable X;
  LayOutGenotypeTable(X, N, 2, L, Vector2D<int32_t>(L, std::vector<int32_t>{0, 1}),
                      std::vector<int32_t>(L, -9));
  uint64_t x = 88172645463325252ull;
  for (const LocusBlock& block : X.blocks) {
    const int32_t bits = 2 * (block.endLocus - block.firstLocus);
    uint64_t* word = X.words.data() + block.start;
    for (int64_t r = 0; r < int64_t{2} * N; ++r) {
      for (int32_t i = 0; i < block.rowWords; ++i, ++word) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        const int32_t used = std::min(64, bits - 64 * i);
        *word = x & 0x5555555555555555ull & (used == 64 ? ~0ull : (1ull << used) - 1);
      }
    }
  }
  return X;
}

// Args N, L, K, threads, model (0 mixture, 1 admixture).
void BM_ModelIteration(benchmark::State& state) {
  const int32_t N = static_cast<int32_t>(state.range(0)), L = static_cast<int32_t>(state.range(1));
  const int32_t K = static_cast<int32_t>(state.range(2));
  const int32_t threads = static_cast<int32_t>(state.range(3));
  const GenotypeTable X = RandomSnpTable(N, L);
  const std::vector<int32_t> J(L, 2);
  RandomGenerator rng(2);
  Vector2D<double> Q;
  InitVctr2D(Q, N, K, 0.0);
  const std::vector<double> ones(K, 1.0);
  for (auto& row : Q) DirichletDraw(rng, ones, row.data());
  if (state.range(4) == 0) {
    std::vector<double> pi(K, 1.0 / K);
    Vector3D<double> P;
    InitVctr3D(P, K, L, J, 0.0);
    Vector2D<double> R;
    InitVctr2D(R, K, K, 0.0);
    double beta = 1.0;
    EmWorkspace w;
    PrepareEmWorkspace(X, X.alleleValues, J, N, 2, L, K, w, threads);
    for (auto _ : state)
      benchmark::DoNotOptimize(EmIteration(5, 'c', 0, rng, w, pi, P, Q, R, beta));
    return;
  }
  AdmixtureModel m;
  PrepareAdmixtureModel(X, K, threads, m);
  std::vector<double> theta(AdmixtureThetaSize(N, K, m.J), 0.5), next(theta.size());
  for (int32_t n = 0; n < N; ++n)
    for (int32_t k = 0; k < K; ++k) theta[static_cast<size_t>(n) * K + k] = Q[n][k];
  for (size_t i = static_cast<size_t>(N) * K; i < theta.size(); ++i) theta[i] = 0.3 + 0.4 * (i % 2);
  ProjectAdmixture(m, theta.data(), 1e-5);
  for (auto _ : state) benchmark::DoNotOptimize(AdmixtureStep(m, theta.data(), next.data()));
}

}  // namespace

BENCHMARK(BM_ModelIteration)
    ->ArgNames({"N", "L", "K", "threads", "admixture"})
    ->Args({2000, 50000, 4, 1, 0})
    ->Args({2000, 50000, 4, 1, 1})
    ->Args({2000, 50000, 4, 2, 0})
    ->Args({2000, 50000, 4, 2, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
