// Hierarchical clustering: the program's routines against the literal versions kept with
// the tests (every pair copy by copy; every merge rescanning every live pair), and the
// scaling of the whole routine with the number of individuals.
#include <benchmark/benchmark.h>
#include <gsl/gsl_rng.h>

#include <map>
#include <utility>

#include "cluster/hclustering.h"
#include "data/allele_coding.h"
#include "tests/reference_hclustering.h"

namespace {

// Random diploid table, values 1..10 at every locus.
GenotypeValues RandomTable(int32_t N, int32_t L) {
  GenotypeValues X;
  InitVctr3D(X, N, 2, L, 0);
  gsl_rng* g = gsl_rng_alloc(gsl_rng_mt19937);
  gsl_rng_set(g, static_cast<unsigned long>(N) * 1000 + L);
  for (auto& individual : X)
    for (auto& copy : individual)
      for (int32_t& v : copy) v = 1 + static_cast<int32_t>(gsl_rng_uniform_int(g, 10));
  gsl_rng_free(g);
  return X;
}

const GenotypeValues& Table(int32_t N, int32_t L) {
  static std::map<std::pair<int32_t, int32_t>, GenotypeValues> tables;
  auto it = tables.find({N, L});
  if (it == tables.end()) it = tables.emplace(std::make_pair(N, L), RandomTable(N, L)).first;
  return it->second;
}

const GenotypeTable& CodedTable(int32_t N, int32_t L) {
  static std::map<std::pair<int32_t, int32_t>, GenotypeTable> tables;
  auto it = tables.find({N, L});
  if (it == tables.end()) {
    it = tables.emplace(std::make_pair(N, L), CodeGenotypeValues(Table(N, L))).first;
  }
  return it->second;
}

const CondensedDistances& SharingDistances(int32_t N, int32_t L) {
  static std::map<std::pair<int32_t, int32_t>, CondensedDistances> matrices;
  auto it = matrices.find({N, L});
  if (it == matrices.end()) {
    it = matrices.emplace(std::make_pair(N, L), HClusteringDistance(CodedTable(N, L), true)).first;
  }
  return it->second;
}

// Ward on allele sharing, L = 50; the matrix copy is outside the timing.
template <bool literal>
void BM_Engine(benchmark::State& state) {
  const int32_t N = static_cast<int32_t>(state.range(0));
  const CondensedDistances& D0 = SharingDistances(N, 50);
  for (auto _ : state) {
    state.PauseTiming();
    CondensedDistances D = D0;
    std::vector<int32_t> kept, absorbed;
    state.ResumeTiming();
    if (literal) {
      ReferenceHClusteringEngine(N, D, 6, kept, absorbed);
    } else {
      HClusteringEngine(N, D, 6, kept, absorbed);
    }
    benchmark::DoNotOptimize(kept.data());
  }
}

template <bool literal>
void BM_SharingDistance(benchmark::State& state) {
  const int32_t N = static_cast<int32_t>(state.range(0));
  const GenotypeValues& X = Table(N, static_cast<int32_t>(state.range(1)));
  const GenotypeTable& coded = CodedTable(N, static_cast<int32_t>(state.range(1)));
  for (auto _ : state) {
    CondensedDistances D =
        literal ? ReferenceHClusteringDistance(X, true) : HClusteringDistance(coded, true);
    benchmark::DoNotOptimize(D.data());
  }
}

// The whole routine as the clustering start calls it: Ward, allele sharing, K = 3.
void BM_HClustering(benchmark::State& state) {
  const GenotypeTable& X =
      CodedTable(static_cast<int32_t>(state.range(0)), static_cast<int32_t>(state.range(1)));
  for (auto _ : state) {
    std::vector<int32_t> labels = HClustering(X, 6, 3, true);
    benchmark::DoNotOptimize(labels.data());
  }
}

}  // namespace

BENCHMARK_TEMPLATE(BM_Engine, true)
    ->Arg(500)
    ->Arg(1000)
    ->Arg(2000)
    ->Iterations(1)
    ->Repetitions(3)
    ->ReportAggregatesOnly()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_Engine, false)
    ->Arg(500)
    ->Arg(1000)
    ->Arg(2000)
    ->Repetitions(5)
    ->ReportAggregatesOnly()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_SharingDistance, true)
    ->Args({2000, 50})
    ->Iterations(1)
    ->Repetitions(3)
    ->ReportAggregatesOnly()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_SharingDistance, false)
    ->Args({2000, 50})
    ->Args({5000, 100})
    ->Repetitions(5)
    ->ReportAggregatesOnly()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HClustering)
    ->Args({500, 100})
    ->Args({1000, 100})
    ->Args({2000, 100})
    ->Repetitions(5)
    ->ReportAggregatesOnly()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HClustering)
    ->Args({5000, 100})
    ->Args({10000, 100})
    ->Iterations(1)
    ->Repetitions(3)
    ->ReportAggregatesOnly()
    ->Unit(benchmark::kMillisecond);
