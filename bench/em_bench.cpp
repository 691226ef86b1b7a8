// The EM iteration: the program's version against the copy-by-copy literal one, a whole
// default-sized estimation, and one iteration of a large table with its peak memory.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <iostream>
#include <streambuf>

#include "cluster/em.h"
#include "data/allele_coding.h"
#include "reference_em.h"

namespace {

// A table drawn from a seeded generator: J alleles per locus, values 1..J uniformly, and
// Dirichlet starting memberships (or one-hot random ones, as a run starts with -m r).
struct Problem {
  int32_t N, A, L, K;
  GenotypeValues X;
  GenotypeTable coded;
  Vector2D<int32_t> V;
  std::vector<int32_t> J;
  int32_t Jmax = 0;
  std::vector<double> pi;
  Vector3D<double> P;
  Vector2D<double> Q;
  Vector2D<double> R;
};

Problem MakeProblem(int32_t N, int32_t A, int32_t L, int32_t J, int32_t K, unsigned long seed) {
  Problem p{N, A, L, K, {}, {}, {}, {}, 0, {}, {}, {}, {}};
  RandomGenerator rng(seed);
  InitVctr3D(p.X, N, A, L, 0);
  for (auto& individual : p.X)
    for (auto& copy : individual)
      for (int32_t& x : copy) x = 1 + UniformIntDraw(rng, J);
  p.coded = CodeGenotypeValues(p.X);
  CodeAlleles(p.coded, L, p.V, p.J, p.Jmax);
  p.pi.assign(K, 1.0 / K);
  InitVctr3D(p.P, K, L, p.J, 0.0);
  InitVctr2D(p.Q, N, K, 0.0);
  InitVctr2D(p.R, K, K, 0.0);
  const std::vector<double> ones(K, 1.0);
  for (auto& row : p.Q) DirichletDraw(rng, ones, row.data());
  return p;
}

// Discards the progress lines while a benchmark runs.
struct NullBuffer : std::streambuf {
  int overflow(int c) override { return c; }
};

void BM_IterationLiteral(benchmark::State& state) {
  Problem p = MakeProblem(1000, 2, 100, 10, 5, 1);
  RandomGenerator rng(2);
  double beta = 1.0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(reference::EmIteration(5, p.X, p.V, p.J, p.N, p.A, p.L, p.K, 'c', 0,
                                                    rng, p.pi, p.P, p.Q, p.R, beta));
  }
}

// One iteration of the program on problem p; the peak resident memory of the process
// (table, estimates and workspace) is reported alongside.
void TimeProgramIteration(benchmark::State& state, Problem& p) {
  RandomGenerator rng(2);
  double beta = 1.0;
  EmWorkspace w;
  PrepareEmWorkspace(p.coded, p.V, p.J, p.N, p.A, p.L, p.K, w);
  for (auto _ : state) {
    benchmark::DoNotOptimize(EmIteration(5, 'c', 0, rng, w, p.pi, p.P, p.Q, p.R, beta));
  }
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  state.counters["peak_RSS_MiB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
}

void BM_IterationProgram(benchmark::State& state) {
  Problem p = MakeProblem(1000, 2, 100, 10, 5, 1);
  TimeProgramIteration(state, p);
}

// The default analysis (N 150, A 2, L 10 of 10 alleles, K 3, I 1000, -a as given) from the
// start of the run's clock: a random one-hot start, RunEM and the frequency floor.
void BM_DefaultEstimation(benchmark::State& state) {
  const char variant = static_cast<char>(state.range(0));
  const Problem table = MakeProblem(150, 2, 10, 10, 3, 1);
  NullBuffer null;
  std::streambuf* saved = std::cout.rdbuf(&null);
  for (auto _ : state) {
    RandomGenerator rng(7);
    std::vector<double> pi(3, 1.0 / 3);
    Vector2D<double> Q, R;
    InitVctr2D(R, 3, 3, 0.0);
    InitVctr2D(Q, 150, 3, 0.0);
    for (auto& row : Q) row[CategoricalDraw(rng, pi)] = 1.0;
    Vector3D<double> P;
    InitVctr3D(P, 3, 10, table.J, 0.0);
    std::vector<double> H(1000, 0.0);
    RunEM(table.coded, table.V, table.J, 150, 2, 10, 3, 1000, variant, 100, rng, pi, P, Q, R, H);
    FinishAlleleFrequencies(P, table.J, table.Jmax, rng);
    benchmark::DoNotOptimize(H.back());
  }
  std::cout.rdbuf(saved);
}

// One iteration at N 5,000, A 2, L 1,000 of 10 alleles, K 5.
void BM_IterationLarge(benchmark::State& state) {
  Problem p = MakeProblem(5000, 2, 1000, 10, 5, 1);
  TimeProgramIteration(state, p);
}

// A diploid table of N individuals and L biallelic loci (values 0 and 1, every code drawn
// with probability 1/2 by a seeded xorshift generator), laid out and filled a word at a
// time, with Dirichlet starting memberships of K clusters.
Problem MakeBiallelicProblem(int32_t N, int32_t L, int32_t K, unsigned long seed) {
  Problem p{N, 2, L, K, {}, {}, {}, {}, 0, {}, {}, {}, {}};
  LayOutGenotypeTable(p.coded, N, 2, L, Vector2D<int32_t>(L, std::vector<int32_t>{0, 1}),
                      std::vector<int32_t>(L, -9));
  uint64_t x = 88172645463325252ull ^ seed;
  for (const LocusBlock& block : p.coded.blocks) {
    const int32_t bits = 2 * (block.endLocus - block.firstLocus);
    uint64_t* word = p.coded.words.data() + block.start;
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
  CodeAlleles(p.coded, L, p.V, p.J, p.Jmax);
  p.pi.assign(K, 1.0 / K);
  InitVctr3D(p.P, K, L, p.J, 0.0);
  InitVctr2D(p.Q, N, K, 0.0);
  InitVctr2D(p.R, K, K, 0.0);
  RandomGenerator rng(seed);
  const std::vector<double> ones(K, 1.0);
  for (auto& row : p.Q) DirichletDraw(rng, ones, row.data());
  return p;
}

// One iteration at SNP scale: args N, L, K, threads. Reports the bytes the table takes per
// allele copy and the peak resident memory of the process.
void BM_IterationBiallelic(benchmark::State& state) {
  const int32_t N = static_cast<int32_t>(state.range(0)), L = static_cast<int32_t>(state.range(1));
  const int32_t K = static_cast<int32_t>(state.range(2)),
                threads = static_cast<int32_t>(state.range(3));
  Problem p = MakeBiallelicProblem(N, L, K, 1);
  RandomGenerator rng(2);
  double beta = 1.0;
  EmWorkspace w;
  PrepareEmWorkspace(p.coded, p.V, p.J, p.N, p.A, p.L, p.K, w, threads);
  for (auto _ : state) {
    benchmark::DoNotOptimize(EmIteration(5, 'c', 0, rng, w, p.pi, p.P, p.Q, p.R, beta));
  }
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  state.counters["peak_RSS_MiB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
  state.counters["table_bytes_per_copy"] =
      static_cast<double>(p.coded.words.size() * sizeof(uint64_t)) / (2.0 * N * L);
}

}  // namespace

BENCHMARK(BM_IterationLiteral)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IterationProgram)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DefaultEstimation)->Arg('c')->Arg('a')->Arg('s')->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IterationLarge)->Unit(benchmark::kMillisecond);
// Two sizes: run the large one on its own (--benchmark_filter=Biallelic/20000) for its peak
// memory, which the process counts from its start.
BENCHMARK(BM_IterationBiallelic)
    ->Args({2000, 50000, 4, 1})
    ->Args({2000, 50000, 4, 2})
    ->Args({20000, 100000, 4, 1})
    ->Args({20000, 100000, 4, 2})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
