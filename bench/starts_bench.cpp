// The k-means start: the dot products of every individual with K columns of allele counts
// (one Lloyd pass's main work) against a literal copy-by-copy version, and the whole start
// (five seedings, Lloyd passes to a fixed point) on microsatellite-like and SNP-like samples.
#include <benchmark/benchmark.h>

#include <map>
#include <tuple>

#include "cluster/allele_counts.h"
#include "cluster/kmeans_start.h"
#include "data/population_sample.h"

namespace {

const PopulationSample& Sample(int32_t N, int32_t L, int32_t alleles, int32_t K) {
  static std::map<std::tuple<int32_t, int32_t, int32_t, int32_t>, PopulationSample> made;
  auto key = std::make_tuple(N, L, alleles, K);
  auto found = made.find(key);
  if (found != made.end()) return found->second;
  PopulationSampleSettings settings;
  settings.N = N, settings.L = L, settings.K = K, settings.Fst = 0.03;
  settings.fewestAlleles = alleles == 2 ? 2 : 10;
  settings.mostAlleles = alleles == 2 ? 2 : 20;
  RandomGenerator rng(5);
  SimulatePopulationSample(settings, rng, made[key]);
  return made[key];
}

// Columns of whole counts, as a Lloyd pass has them.
std::vector<double> Columns(const AlleleCountSpace& space, int32_t K) {
  std::vector<int32_t> labels(space.N);
  for (int32_t n = 0; n < space.N; ++n) labels[n] = n % K;
  std::vector<double> W;
  CountByLabel(space, labels, K, 1, W);
  return W;
}

void BM_DotWithColumns(benchmark::State& state) {
  const PopulationSample& s = Sample(state.range(0), state.range(1), state.range(2), 4);
  AlleleCountSpace space;
  PrepareAlleleCountSpace(s.X, 1, space);
  const std::vector<double> W = Columns(space, 4);
  std::vector<double> dots;
  for (auto _ : state) {
    DotWithColumns(space, W, 4, static_cast<int32_t>(state.range(3)), dots);
    benchmark::DoNotOptimize(dots.data());
  }
}
BENCHMARK(BM_DotWithColumns)
    ->Args({1000, 30, 15, 1})
    ->Args({1000, 10000, 2, 1})
    ->Args({1000, 10000, 2, 2})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The literal version: every copy's code looked up one at a time.
void BM_LiteralDots(benchmark::State& state) {
  const PopulationSample& s = Sample(state.range(0), state.range(1), state.range(2), 4);
  AlleleCountSpace space;
  PrepareAlleleCountSpace(s.X, 1, space);
  const std::vector<double> W = Columns(space, 4);
  std::vector<double> dots(static_cast<size_t>(space.N) * 4);
  for (auto _ : state) {
    for (int32_t n = 0; n < space.N; ++n) {
      for (int32_t k = 0; k < 4; ++k) {
        double sum = 0.0;
        for (int32_t a = 0; a < space.A; ++a) {
          for (int32_t l = 0; l < space.L; ++l) {
            sum +=
                W[(static_cast<size_t>(space.codeStart[l]) + GenotypeCode(s.X, n, a, l)) * 4 + k];
          }
        }
        dots[static_cast<size_t>(n) * 4 + k] = sum;
      }
    }
    benchmark::DoNotOptimize(dots.data());
  }
}
BENCHMARK(BM_LiteralDots)
    ->Args({1000, 30, 15})
    ->Args({1000, 10000, 2})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_KmeansStart(benchmark::State& state) {
  const int32_t K = static_cast<int32_t>(state.range(3));
  const PopulationSample& s = Sample(state.range(0), state.range(1), state.range(2), K);
  AlleleCountSpace space;
  PrepareAlleleCountSpace(s.X, 1, space);
  std::vector<int32_t> labels;
  for (auto _ : state) {
    RandomGenerator rng(9);
    KmeansLabels(space, K, KmeansSettings(), rng, 1, labels);
    benchmark::DoNotOptimize(labels.data());
  }
}
BENCHMARK(BM_KmeansStart)
    ->Args({1000, 30, 15, 5})
    ->Args({1000, 10000, 2, 4})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
