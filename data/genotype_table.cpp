#include "data/genotype_table.h"

#include <algorithm>
#include <utility>

int32_t CodeWidth(int64_t codes) {
  int32_t width = 2;
  while (width < 32 && (int64_t{1} << width) < codes) width *= 2;
  return width;
}

size_t LayOutGenotypeBlocks(GenotypeTable& X, int32_t N, int32_t A, int32_t L,
                            Vector2D<int32_t> alleleValues, std::vector<int32_t> missingValue) {
  X.N = N;
  X.A = A;
  X.L = L;
  X.alleleValues = std::move(alleleValues);
  X.missingValue = std::move(missingValue);
  X.width.assign(L, 0);
  X.position.assign(L, 0);
  X.blockOf.assign(L, 0);
  X.blocks.clear();

  constexpr int32_t kRowBits = 64 * kBlockRowWords;
  const size_t rows = static_cast<size_t>(N) * static_cast<size_t>(A);
  size_t start = 0;
  auto closeBlock = [&](int32_t endLocus, int32_t bits) {
    LocusBlock& block = X.blocks.back();
    block.endLocus = endLocus;
    block.rowWords = (bits + 63) / 64;
    block.start = start;
    start += rows * static_cast<size_t>(block.rowWords);
  };
  int32_t bits = 0;
  for (int32_t l = 0; l < L; ++l) {
    const int32_t w = CodeWidth(static_cast<int64_t>(X.alleleValues[l].size()) + 1);
    int32_t at = (bits + w - 1) / w * w;
    if (X.blocks.empty() || at + w > kRowBits) {
      if (!X.blocks.empty()) closeBlock(l, bits);
      X.blocks.push_back(LocusBlock{l, l, 0, 0});
      at = 0;
    }
    X.width[l] = static_cast<uint8_t>(w);
    X.position[l] = static_cast<uint16_t>(at);
    X.blockOf[l] = static_cast<int32_t>(X.blocks.size()) - 1;
    bits = at + w;
  }
  if (!X.blocks.empty()) closeBlock(L, bits);
  std::vector<uint64_t>().swap(X.words);
  return start;
}

void LayOutGenotypeTable(GenotypeTable& X, int32_t N, int32_t A, int32_t L,
                         Vector2D<int32_t> alleleValues, std::vector<int32_t> missingValue) {
  const size_t words =
      LayOutGenotypeBlocks(X, N, A, L, std::move(alleleValues), std::move(missingValue));
  X.words.assign(words, 0);
}

double GenotypeTableBytes(double N, double A, double L, double bitsPerCode) {
  return N * A * L * bitsPerCode / 8.0;
}

void DecodeGenotypeRow(const GenotypeTable& X, int32_t n, int32_t a, int32_t* out) {
  for (size_t b = 0; b < X.blocks.size(); ++b) {
    const LocusBlock& block = X.blocks[b];
    const uint64_t* row = BlockRow(X, static_cast<int32_t>(b), n, a);
    for (int32_t l = block.firstLocus; l < block.endLocus; ++l) {
      const uint32_t at = X.position[l];
      const uint64_t mask = (uint64_t{1} << X.width[l]) - 1;
      out[l] = CodeValue(X, l, static_cast<uint32_t>((row[at >> 6] >> (at & 63)) & mask));
    }
  }
}

GenotypeValues DecodeGenotypeTable(const GenotypeTable& X) {
  GenotypeValues values(X.N, Vector2D<int32_t>(X.A, std::vector<int32_t>(X.L)));
  for (int32_t n = 0; n < X.N; ++n) {
    for (int32_t a = 0; a < X.A; ++a) DecodeGenotypeRow(X, n, a, values[n][a].data());
  }
  return values;
}

void InitGenotypeTable(GenotypeTable& X, int32_t N, int32_t A, int32_t L) {
  const int32_t loci = L > 0 ? L : 0;
  LayOutGenotypeTable(X, N > 0 ? N : 0, A > 0 ? A : 0, loci, Vector2D<int32_t>(loci, {0}),
                      std::vector<int32_t>(loci, -9));
}

GenotypeTable SelectIndividuals(const GenotypeTable& X, const std::vector<int32_t>& individuals) {
  GenotypeTable Y;
  LayOutGenotypeTable(Y, static_cast<int32_t>(individuals.size()), X.A, X.L, X.alleleValues,
                      X.missingValue);
  for (size_t b = 0; b < X.blocks.size(); ++b) {
    const size_t words = static_cast<size_t>(X.blocks[b].rowWords);
    for (size_t i = 0; i < individuals.size(); ++i) {
      for (int32_t a = 0; a < X.A; ++a) {
        const uint64_t* from = BlockRow(X, static_cast<int32_t>(b), individuals[i], a);
        std::copy(from, from + words,
                  BlockRow(Y, static_cast<int32_t>(b), static_cast<int32_t>(i), a));
      }
    }
  }
  return Y;
}

uint64_t GenotypeTableChecksum(const GenotypeTable& X) {
  uint64_t h = 0xcbf29ce484222325ULL;
  const auto mix = [&h](uint64_t value) {
    for (int byte = 0; byte < 8; ++byte)
      h = (h ^ ((value >> (8 * byte)) & 0xff)) * 0x100000001b3ULL;
  };
  mix(static_cast<uint64_t>(X.N));
  mix(static_cast<uint64_t>(X.A));
  mix(static_cast<uint64_t>(X.L));
  for (const std::vector<int32_t>& values : X.alleleValues) {
    mix(values.size());
    for (int32_t value : values) mix(static_cast<uint64_t>(static_cast<int64_t>(value)));
  }
  for (int32_t n = 0; n < X.N; ++n) {
    for (int32_t a = 0; a < X.A; ++a) {
      uint64_t codes = 0;
      for (int32_t l = 0; l < X.L; ++l) {
        codes = codes * 0x9e3779b97f4a7c15ULL + GenotypeCode(X, n, a, l) + 1;
      }
      mix(codes);
    }
  }
  return h;
}
