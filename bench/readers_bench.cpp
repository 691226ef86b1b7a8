// The study readers on large files: a PLINK .bed of 20,000 x 100,000 (500 MB) read into
// 2-bit codes; a bgzipped VCF of 2,000 x 50,000 read through htslib, side by side with
// `bcftools view -Ou FILE > /dev/null` on the same file; STRUCTURE layout detection against
// the whole read of the same file. The files are made once in /tmp and kept.
#include <benchmark/benchmark.h>
#include <htslib/bgzf.h>
#include <omp.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "data/bed_tile.h"
#include "data/structure_layout.h"
#include "data/study_input.h"
#include "data/text_lines.h"

namespace {

bool Exists(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}

int64_t FileBytes(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 ? info.st_size : 0;
}

// .bed: 20,000 individuals x 100,000 variants of random genotypes, about 1 in 50 missing.
const std::string& BedPrefix() {
  static const std::string prefix = [] {
    const std::string p = "/tmp/emclade-bench-20000x100000";
    constexpr int32_t N = 20000, L = 100000;
    if (Exists(p + ".bed") && FileBytes(p + ".bed") == 3 + int64_t{L} * (N / 4)) return p;
    std::FILE* fam = std::fopen((p + ".fam").c_str(), "w");
    for (int32_t n = 0; n < N; ++n) std::fprintf(fam, "pop%d ind%d 0 0 0 -9\n", n % 7, n);
    std::fclose(fam);
    std::FILE* bim = std::fopen((p + ".bim").c_str(), "w");
    static const char* kBases[] = {"A", "C", "G", "T"};
    std::mt19937_64 bits(42);
    for (int32_t l = 0; l < L; ++l) {
      const int32_t a1 = static_cast<int32_t>(bits() % 4);
      std::fprintf(bim, "1\tsnp%d\t0\t%d\t%s\t%s\n", l, l + 1, kBases[a1],
                   kBases[(a1 + 1 + bits() % 3) % 4]);
    }
    std::fclose(bim);
    std::FILE* bed = std::fopen((p + ".bed").c_str(), "wb");
    const unsigned char magic[3] = {0x6c, 0x1b, 0x01};
    std::fwrite(magic, 1, 3, bed);
    std::vector<unsigned char> snp(N / 4);
    for (int32_t l = 0; l < L; ++l) {
      for (unsigned char& byte : snp) {
        byte = 0;
        for (int i = 0; i < 4; ++i) {
          const uint64_t r = bits() % 100;
          const unsigned g = r < 2 ? 1 : r < 40 ? 0 : r < 80 ? 2 : 3;
          byte |= static_cast<unsigned char>(g << (2 * i));
        }
      }
      std::fwrite(snp.data(), 1, snp.size(), bed);
    }
    std::fclose(bed);
    return p;
  }();
  return prefix;
}

// Argument: the number of threads.
void BM_ReadBed20000x100000(benchmark::State& state) {
  const std::string path = BedPrefix() + ".bed";
  const ReaderOptions options;
  omp_set_num_threads(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    StudyData data = ReadStudyInput(path, options);
    benchmark::DoNotOptimize(data.X.words.back());
    state.PauseTiming();
    data = StudyData();  // freeing the table is not reading
    state.ResumeTiming();
  }
  state.SetBytesProcessed(state.iterations() * FileBytes(path));
  omp_set_num_threads(omp_get_num_procs());
}

// The floor under the .bed read: making its table's words (2 x 20,000 rows x 196 blocks x 16
// words, 1 GB), zeroed, as LayOutGenotypeTable makes them.
void BM_ZeroedTableWords(benchmark::State& state) {
  for (auto _ : state) {
    std::vector<uint64_t> words(static_cast<size_t>(2) * 20000 * 196 * 16);
    benchmark::DoNotOptimize(words.data());
    state.PauseTiming();
    words = std::vector<uint64_t>();
    state.ResumeTiming();
  }
}

// Bgzipped VCF: 2,000 samples x 50,000 biallelic sites, unphased GT only, 1 in 50 missing.
const std::string& VcfPath() {
  static const std::string path = [] {
    const std::string p = "/tmp/emclade-bench-2000x50000.vcf.gz";
    if (Exists(p)) return p;
    constexpr int32_t N = 2000, L = 50000;
    BGZF* out = bgzf_open(p.c_str(), "w");
    std::string text =
        "##fileformat=VCFv4.2\n##contig=<ID=1,length=100000000>\n"
        "##FORMAT=<ID=GT,Number=1,Type=String,Description=\"Genotype\">\n"
        "#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT";
    for (int32_t n = 0; n < N; ++n) text += "\tind" + std::to_string(n);
    text += "\n";
    std::mt19937_64 bits(7);
    static const char* kCalls[] = {"0/0", "0/1", "1/1", "./."};
    for (int32_t l = 0; l < L; ++l) {
      text += "1\t" + std::to_string(100 + 10 * l) + "\tsnp" + std::to_string(l) +
              "\tA\tG\t.\t.\t.\tGT";
      for (int32_t n = 0; n < N; ++n) {
        const uint64_t r = bits() % 50;
        text += '\t';
        text += kCalls[r == 0 ? 3 : r % 3];
      }
      text += '\n';
      if (text.size() > (1 << 20)) {
        if (bgzf_write(out, text.data(), text.size()) < 0) std::abort();
        text.clear();
      }
    }
    if (bgzf_write(out, text.data(), text.size()) < 0 || bgzf_close(out) != 0) std::abort();
    return p;
  }();
  return path;
}

void BM_ReadVcfGz2000x50000(benchmark::State& state) {
  const std::string& path = VcfPath();
  const ReaderOptions options;
  for (auto _ : state) {
    StudyData data = ReadStudyInput(path, options);
    benchmark::DoNotOptimize(data.X.words.back());
  }
}

void BM_BcftoolsViewOu2000x50000(benchmark::State& state) {
  const std::string command = "bcftools view -Ou " + VcfPath() + " > /dev/null";
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    if (std::system(command.c_str()) != 0) state.SkipWithError("bcftools failed");
    state.SetIterationTime(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
}

// STRUCTURE text: 2,000 diploid individuals x 5,000 loci, name and population columns, a
// header row of marker names; about 46 MB.
const std::string& StructurePath() {
  static const std::string path = [] {
    const std::string p = "/tmp/emclade-bench-structure-2000x5000.str";
    if (Exists(p)) return p;
    constexpr int32_t N = 2000, L = 5000;
    std::FILE* f = std::fopen(p.c_str(), "w");
    for (int32_t l = 0; l < L; ++l) std::fprintf(f, "%sL%d", l ? " " : "", l);
    std::fprintf(f, "\n");
    std::mt19937 bits(3);
    for (int32_t n = 0; n < N; ++n) {
      for (int a = 0; a < 2; ++a) {
        std::fprintf(f, "ind%d %d", n, 1 + n % 5);
        for (int32_t l = 0; l < L; ++l)
          std::fprintf(f, " %d", bits() % 40 == 0 ? -9 : 100 + static_cast<int>(bits() % 8));
        std::fprintf(f, "\n");
      }
    }
    std::fclose(f);
    return p;
  }();
  return path;
}

void BM_DetectStructureLayout(benchmark::State& state) {
  const std::string text = ReadWholeFile(StructurePath());
  const ReaderOptions options;
  for (auto _ : state) {
    StructureLayout layout = DetectStructureLayout(StructurePath(), text, options);
    benchmark::DoNotOptimize(layout.L);
  }
}

void BM_ReadStructureWhole(benchmark::State& state) {
  const ReaderOptions options;
  for (auto _ : state) {
    StudyData data = ReadStudyInput(StructurePath(), options);
    benchmark::DoNotOptimize(data.X.words.back());
  }
}

// The tile coder alone on 512 loci x 20,000 individuals held in cache-sized pieces: the
// compute part of the .bed read, per instruction set.
void BM_CodeBedTiles(benchmark::State& state) {
  const BedTileCode code = static_cast<BedTileCode>(state.range(0));
  if (!BedTileCodeAvailable(code)) {
    state.SkipWithError("not on this machine");
    return;
  }
  constexpr int32_t N = 20000, loci = 512;
  constexpr size_t B = N / 4;
  std::vector<uint8_t> bytes(loci * B + 32);
  std::mt19937_64 bits(1);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(bits());
  BedTileMasks masks;
  for (int32_t i = 0; i < 32; ++i)
    SetBedLocusKind(masks, i, i % 3 ? BedLocusKind::kTwo : BedLocusKind::kSwapped);
  std::vector<uint64_t> rows(static_cast<size_t>(2) * N * 16);
  for (auto _ : state) {
    for (int32_t g = 0; g < (N + 127) / 128; ++g) {
      for (int32_t t = 0; t < 16; ++t) {
        CodeBedTiles(bytes.data() + 32 * t * B + 32 * g, B, 32, masks, std::min(128, N - 128 * g),
                     rows.data() + static_cast<size_t>(256) * g * 16 + t, 16, code);
      }
    }
    benchmark::DoNotOptimize(rows.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(loci * B));
}

}  // namespace

BENCHMARK(BM_ReadBed20000x100000)
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();
BENCHMARK(BM_ZeroedTableWords)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_ReadVcfGz2000x50000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_BcftoolsViewOu2000x50000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseManualTime();
BENCHMARK(BM_DetectStructureLayout)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadStructureWhole)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_CodeBedTiles)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
