// Reading a large genotype file: the program's reader against a plain ifstream >> int loop.
#include <benchmark/benchmark.h>
#include <gsl/gsl_rng.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>

#include "data/allele_coding.h"
#include "data/genotype_file.h"

namespace {

// About 100 MB: 28,000 individuals, diploid, 500 loci of two- and three-digit values.
constexpr int32_t kN = 28000, kA = 2, kL = 500;

// The benchmark's table: values 95 to 106 drawn with a fixed generator.
GenotypeValues RandomValues() {
  GenotypeValues X;
  InitVctr3D(X, kN, kA, kL, 0);
  gsl_rng* g = gsl_rng_alloc(gsl_rng_mt19937);
  for (auto& individual : X)
    for (auto& copy : individual)
      for (int32_t& v : copy) v = 95 + static_cast<int32_t>(gsl_rng_uniform_int(g, 12));
  gsl_rng_free(g);
  return X;
}

const std::string& DataFile() {
  static const std::string path = [] {
    const std::string p = "/tmp/emclade-bench-genotypes-100mb.txt";
    SaveGenotypeDataToStructureFile(p, CodeGenotypeValues(RandomValues()));
    return p;
  }();
  return path;
}

void BM_ReaderProgram(benchmark::State& state) {
  const std::string& path = DataFile();
  for (auto _ : state) {
    state.PauseTiming();
    GenotypeTable X;
    InitGenotypeTable(X, kN, kA, kL);
    state.ResumeTiming();
    LoadGenotypeDataFromStructureFile(path, X, kN, kA, kL, 0, 0);
    benchmark::DoNotOptimize(X.words.back());
    state.PauseTiming();
    X = GenotypeTable();  // freeing the table is not reading
    state.ResumeTiming();
  }
}

// The coding alone: the rows of the same table handed to AlleleCoder from memory.
void BM_CoderOnly(benchmark::State& state) {
  const GenotypeValues X = RandomValues();
  for (auto _ : state) {
    GenotypeTable coded;
    AlleleCoder coder(kN, kA, kL, "BM_CoderOnly");
    for (const auto& individual : X) {
      for (const auto& copy : individual) {
        std::copy(copy.begin(), copy.end(), coder.Row());
        coder.AddRow();
      }
    }
    coder.Finish(coded);
    benchmark::DoNotOptimize(coded.words.back());
    state.PauseTiming();
    coded = GenotypeTable();
    state.ResumeTiming();
  }
}

// Coding a diploid biallelic table of N x L (args) from rows made on the fly (values 0 and
// 1 from a seeded xorshift generator), with the peak resident memory of the process: the
// columns give way to the laid-out table block by block. Run one size per process.
void BM_CoderBiallelic(benchmark::State& state) {
  const int32_t N = static_cast<int32_t>(state.range(0)), L = static_cast<int32_t>(state.range(1));
  uint64_t x = 88172645463325252ull;
  size_t words = 0;
  for (auto _ : state) {
    GenotypeTable coded;
    AlleleCoder coder(N, 2, L, "BM_CoderBiallelic");
    for (int64_t r = 0; r < int64_t{2} * N; ++r) {
      int32_t* row = coder.Row();
      for (int32_t l = 0; l < L; l += 64) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        for (int32_t i = 0; i < 64 && l + i < L; ++i)
          row[l + i] = static_cast<int32_t>((x >> i) & 1);
      }
      coder.AddRow();
    }
    coder.Finish(coded);
    words = coded.words.size();
    benchmark::DoNotOptimize(coded.words.back());
  }
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  state.counters["peak_RSS_MiB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
  state.counters["table_MiB"] = static_cast<double>(words * sizeof(uint64_t)) / 1048576.0;
}

void BM_ReaderIfstream(benchmark::State& state) {
  const std::string& path = DataFile();
  for (auto _ : state) {
    state.PauseTiming();
    GenotypeValues X;
    InitVctr3D(X, kN, kA, kL, 0);
    state.ResumeTiming();
    std::ifstream in(path);
    for (int32_t n = 0; n < kN; ++n)
      for (int32_t a = 0; a < kA; ++a)
        for (int32_t l = 0; l < kL; ++l) in >> X[n][a][l];
    benchmark::DoNotOptimize(X[kN - 1][kA - 1][kL - 1]);
    state.PauseTiming();
    X = GenotypeValues();  // freeing the table is not reading
    state.ResumeTiming();
  }
}

}  // namespace

BENCHMARK(BM_ReaderProgram)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK(BM_CoderOnly)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK(BM_CoderBiallelic)
    ->Args({2000, 50000})
    ->Args({20000, 100000})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK(BM_ReaderIfstream)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();
