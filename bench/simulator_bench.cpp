// Simulating a genotype table: the program's simulator against the same draws made with the
// plain categorical draw over nested frequency rows, and against the generator alone (the
// floor: one uniform per allele copy).
#include <benchmark/benchmark.h>
#include <gsl/gsl_rng.h>

#include <string>
#include <vector>

#include "data/simulator.h"

namespace {

// 4 x 10^6 categorical draws per run: 2,000 diploid individuals, 1,000 loci of 10 alleles.
constexpr int32_t kN = 2000, kA = 2, kL = 1000, kK = 3, kJ = 10;
constexpr int64_t kDraws = int64_t{kN} * kA * kL;

void BM_SimulateGenotypeData(benchmark::State& state) {
  const std::vector<int32_t> J(kL, kJ);
  GenotypeTable X;
  InitGenotypeTable(X, kN, kA, kL);
  for (auto _ : state) {
    RandomGenerator rng(1);
    SimulateGenotypeData("/tmp/emclade-bench-sim", rng, kN, kA, kL, J, kK, X);
    benchmark::DoNotOptimize(X.words.back());
  }
  state.SetItemsProcessed(state.iterations() * kDraws);
}

// The same model and draws, each allele from CategoricalDraw over the nested row P[k][l].
void BM_LiteralDraws(benchmark::State& state) {
  const std::vector<int32_t> J(kL, kJ);
  GenotypeValues X;
  InitVctr3D(X, kN, kA, kL, 0);
  for (auto _ : state) {
    RandomGenerator rng(1);
    SimulatedModel model;
    DrawSimulatedModel(rng, kN, kL, J, kK, model);
    int32_t n = 0;
    for (int32_t k = 0; k < kK; ++k) {
      for (const int32_t end = n + model.sizes[k]; n < end; ++n) {
        for (int32_t a = 0; a < kA; ++a) {
          for (int32_t l = 0; l < kL; ++l) {
            X[n][a][l] = CategoricalDraw(rng, model.P[k][l].data(), kJ);
          }
        }
      }
    }
    benchmark::DoNotOptimize(X[kN - 1][kA - 1][kL - 1]);
  }
  state.SetItemsProcessed(state.iterations() * kDraws);
}

void BM_UniformOnly(benchmark::State& state) {
  for (auto _ : state) {
    RandomGenerator rng(1);
    double sum = 0.0;
    for (int64_t d = 0; d < kDraws; ++d) sum += gsl_rng_uniform_pos(rng.handle());
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * kDraws);
}

}  // namespace

BENCHMARK(BM_SimulateGenotypeData)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LiteralDraws)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UniformOnly)->Unit(benchmark::kMillisecond);
