// Hierarchical clustering: the program's routines against the literal versions kept with
// the tests (every pair copy by copy; every merge rescanning every live pair), the
// dissimilarity of a SNP-sized table on 1 and 2 threads, and the scaling of the whole
// routine with the number of individuals.
#include <benchmark/benchmark.h>
#include <gsl/gsl_rng.h>

#include <map>
#include <utility>

#include "cluster/hclustering.h"
#include "cluster/observed_sharing.h"
#include "data/allele_coding.h"
#include "data/population_sample.h"
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

// Biallelic diploid table of N individuals in 4 equal clusters, each cluster with its own
// allele frequency at every locus (uniform in (0, 1)), as the simulator lays out -j2 data;
// a share of copies missing when asked. Coded directly, without a table of values.
GenotypeTable SnpTable(int32_t N, int32_t L, double missingShare) {
  GenotypeTable X;
  LayOutGenotypeTable(X, N, 2, L, Vector2D<int32_t>(L, {0, 1}), std::vector<int32_t>(L, -9));
  gsl_rng* g = gsl_rng_alloc(gsl_rng_mt19937);
  gsl_rng_set(g, static_cast<unsigned long>(L) + (missingShare > 0 ? 7 : 0));
  std::vector<double> p(static_cast<size_t>(4) * L);
  for (double& f : p) f = gsl_rng_uniform_pos(g);
  for (int32_t n = 0; n < N; ++n) {
    const double* frequency = &p[static_cast<size_t>(n * 4 / N) * L];
    for (int32_t a = 0; a < 2; ++a) {
      for (int32_t l = 0; l < L; ++l) {
        uint32_t code = gsl_rng_uniform(g) < frequency[l] ? 0 : 1;
        if (missingShare > 0 && gsl_rng_uniform(g) < missingShare) code = 2;
        SetGenotypeCode(X, n, a, l, code);
      }
    }
  }
  gsl_rng_free(g);
  return X;
}

// 2,000 x 50,000, complete (range 1 = 0) or with 1 % of the copies missing (range 1 = 1);
// range 2 is the thread count; range 3 = 0 counts with the portable kernels only.
void BM_SnpSharingDistance(benchmark::State& state) {
  static std::map<int64_t, GenotypeTable> tables;
  auto it = tables.find(state.range(1));
  if (it == tables.end()) {
    it = tables.emplace(state.range(1), SnpTable(2000, 50000, state.range(1) ? 0.01 : 0.0)).first;
  }
  const int32_t threads = static_cast<int32_t>(state.range(2));
  for (auto _ : state) {
    CondensedDistances D = state.range(3) ? HClusteringDistance(it->second, true, threads)
                                          : PortableSharingDistance(it->second, threads);
    benchmark::DoNotOptimize(D.data());
  }
}

// The study starts' dissimilarity (over the copies observed in both) against the classic
// allele sharing, side by side on one thread: N individuals of a Balding-Nichols sample with
// uneven batch missingness, 300 loci of 5-30 alleles (range(1) 0) or 3,000 SNPs (1).
void BM_ObservedSharing(benchmark::State& state) {
  static std::map<std::pair<int64_t, int64_t>, PopulationSample> samples;
  const auto key = std::make_pair(state.range(0), state.range(1));
  auto it = samples.find(key);
  if (it == samples.end()) {
    PopulationSampleSettings settings;
    settings.N = static_cast<int32_t>(state.range(0)), settings.K = 5, settings.batches = 10;
    settings.L = state.range(1) ? 3000 : 300;
    settings.fewestAlleles = state.range(1) ? 2 : 5;
    settings.mostAlleles = state.range(1) ? 2 : 30;
    RandomGenerator rng(5);
    it = samples.emplace(key, PopulationSample()).first;
    SimulatePopulationSample(settings, rng, it->second);
  }
  for (auto _ : state) {
    CondensedDistances D = state.range(2) ? ObservedSharingDistance(it->second.X, 1)
                                          : HClusteringDistance(it->second.X, true, 1);
    benchmark::DoNotOptimize(D.data());
  }
}

// Dissimilarity plus merging plus cut, N = 2,000, L = 50 of 10 alleles, Ward, K = 3: the
// literal routines against the program's on range(1) threads.
template <bool literal>
void BM_DistanceAndMerging(benchmark::State& state) {
  const int32_t N = static_cast<int32_t>(state.range(0));
  const GenotypeValues& X = Table(N, 50);
  const GenotypeTable& coded = CodedTable(N, 50);
  for (auto _ : state) {
    std::vector<int32_t> labels;
    if (literal) {
      CondensedDistances D = ReferenceHClusteringDistance(X, true);
      std::vector<int32_t> kept, absorbed;
      ReferenceHClusteringEngine(N, D, 6, kept, absorbed);
      labels = HClusteringCut(kept, absorbed, 3);
    } else {
      labels = HClustering(coded, 6, 3, true, static_cast<int32_t>(state.range(1)));
    }
    benchmark::DoNotOptimize(labels.data());
  }
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

// range(2): threads of the program's routine.
template <bool literal>
void BM_SharingDistance(benchmark::State& state) {
  const int32_t N = static_cast<int32_t>(state.range(0));
  const GenotypeValues& X = Table(N, static_cast<int32_t>(state.range(1)));
  const GenotypeTable& coded = CodedTable(N, static_cast<int32_t>(state.range(1)));
  const int32_t threads = static_cast<int32_t>(state.range(2));
  for (auto _ : state) {
    CondensedDistances D =
        literal ? ReferenceHClusteringDistance(X, true) : HClusteringDistance(coded, true, threads);
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
    ->Args({2000, 50, 1})
    ->Iterations(1)
    ->Repetitions(3)
    ->ReportAggregatesOnly()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_SharingDistance, false)
    ->Args({2000, 50, 1})
    ->Args({2000, 50, 2})
    ->Args({5000, 100, 1})
    ->Args({5000, 100, 2})
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
BENCHMARK(BM_SnpSharingDistance)
    ->ArgNames({"N", "missing", "threads", "avx2"})
    ->Args({2000, 0, 1, 1})
    ->Args({2000, 0, 2, 1})
    ->Args({2000, 0, 1, 0})
    ->Args({2000, 1, 1, 1})
    ->Args({2000, 1, 2, 1})
    ->Args({2000, 1, 1, 0})
    ->Iterations(1)
    ->Repetitions(3)
    ->ReportAggregatesOnly()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_DistanceAndMerging, true)
    ->Args({2000, 1})
    ->Iterations(1)
    ->Repetitions(3)
    ->ReportAggregatesOnly()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_DistanceAndMerging, false)
    ->Args({2000, 1})
    ->Args({2000, 2})
    ->Repetitions(7)
    ->ReportAggregatesOnly()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ObservedSharing)
    ->ArgNames({"N", "snp", "observed"})
    ->Args({1000, 0, 0})
    ->Args({1000, 0, 1})
    ->Args({1000, 1, 0})
    ->Args({1000, 1, 1})
    ->Args({3000, 0, 0})
    ->Args({3000, 0, 1})
    ->Iterations(1)
    ->Repetitions(5)
    ->ReportAggregatesOnly()
    ->Unit(benchmark::kMillisecond);
