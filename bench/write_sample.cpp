// Writes a simulated sample of known populations (data/population_sample.h) as files the
// study command reads: a PLINK fileset for biallelic loci (PREFIX.bed, .bim, .fam, the family
// ID naming the population), otherwise a STRUCTURE file (PREFIX.str: one row per copy, the
// individual's name and population in front), and PREFIX.truth with every individual's
// population, and PREFIX.ancestry with every individual's true ancestry proportions (one row
// of K, one-hot for an unmixed individual).
//
//   write_sample PREFIX N L K FST [ALLELES_MIN ALLELES_MAX [SEED [ADMIXED_SHARE]]]
//
// ALLELES 2 2 (the default) makes SNP-like loci.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "data/population_sample.h"
#include "data/random.h"

namespace {

void WriteBed(const PopulationSample& s, const std::string& prefix) {
  const GenotypeTable& X = s.X;
  std::ofstream fam(prefix + ".fam"), bim(prefix + ".bim");
  for (int32_t n = 0; n < X.N; ++n) {
    fam << "pop" << s.population[n] + 1 << " ind" << n + 1 << " 0 0 0 -9\n";
  }
  for (int32_t l = 0; l < X.L; ++l) bim << "1 snp" << l + 1 << " 0 " << l + 1 << " A G\n";
  std::FILE* bed = std::fopen((prefix + ".bed").c_str(), "wb");
  const unsigned char magic[3] = {0x6c, 0x1b, 0x01};
  std::fwrite(magic, 1, 3, bed);
  std::vector<unsigned char> bytes((X.N + 3) / 4);
  for (int32_t l = 0; l < X.L; ++l) {
    std::fill(bytes.begin(), bytes.end(), 0);
    const uint32_t J = static_cast<uint32_t>(X.alleleValues[l].size());
    for (int32_t n = 0; n < X.N; ++n) {
      const uint32_t a = GenotypeCode(X, n, 0, l), b = GenotypeCode(X, n, 1, l);
      // 00 homozygous first allele, 10 heterozygous, 11 homozygous second, 01 missing.
      uint32_t bits = 1;
      if (a < J && b < J) bits = a + b == 0 ? 0 : a + b == 1 ? 2 : 3;
      bytes[n / 4] |= static_cast<unsigned char>(bits << (2 * (n % 4)));
    }
    std::fwrite(bytes.data(), 1, bytes.size(), bed);
  }
  std::fclose(bed);
}

void WriteStructure(const PopulationSample& s, const std::string& prefix) {
  const GenotypeTable& X = s.X;
  std::ofstream out(prefix + ".str");
  std::vector<int32_t> values(X.L);
  for (int32_t n = 0; n < X.N; ++n) {
    for (int32_t a = 0; a < X.A; ++a) {
      DecodeGenotypeRow(X, n, a, values.data());
      out << "ind" << n + 1 << ' ' << s.population[n] + 1;
      for (int32_t v : values) out << ' ' << v;
      out << '\n';
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 6) {
    std::cerr << "usage: write_sample PREFIX N L K FST [ALLELES_MIN ALLELES_MAX [SEED "
                 "[ADMIXED_SHARE]]]\n";
    return 1;
  }
  const std::string prefix = argv[1];
  PopulationSampleSettings settings;
  settings.N = std::stoi(argv[2]);
  settings.L = std::stoi(argv[3]);
  settings.K = std::stoi(argv[4]);
  settings.Fst = std::stod(argv[5]);
  settings.fewestAlleles = argc > 7 ? std::stoi(argv[6]) : 2;
  settings.mostAlleles = argc > 7 ? std::stoi(argv[7]) : 2;
  settings.admixedShare = argc > 9 ? std::stod(argv[9]) : 0.0;
  RandomGenerator rng(argc > 8 ? std::stoul(argv[8]) : 1);
  PopulationSample sample;
  SimulatePopulationSample(settings, rng, sample);
  if (settings.mostAlleles == 2) {
    WriteBed(sample, prefix);
  } else {
    WriteStructure(sample, prefix);
  }
  std::ofstream truth(prefix + ".truth");
  for (int32_t p : sample.population) truth << p + 1 << '\n';
  std::ofstream ancestry(prefix + ".ancestry");
  ancestry.precision(6);
  for (const std::vector<double>& q : sample.ancestry) {
    for (size_t k = 0; k < q.size(); ++k) ancestry << (k > 0 ? " " : "") << std::fixed << q[k];
    ancestry << '\n';
  }
  return 0;
}
