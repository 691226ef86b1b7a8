#include "sweep_data.h"

#include <fstream>

#include "data/random.h"
#include "data/simulator.h"

StudyData SimulatedStudy(unsigned long seed, int32_t N, int32_t A, int32_t L, int32_t J, int32_t K,
                         std::vector<int32_t>& truth) {
  RandomGenerator rng(seed);
  const std::vector<int32_t> alleles(L, J);
  SimulatedModel model;
  DrawSimulatedModel(rng, N, L, alleles, K, model);
  StudyData data;
  DrawGenotypes(rng, model, A, L, alleles, data.X);
  truth.clear();
  for (int32_t k = 0; k < K; ++k) truth.insert(truth.end(), model.sizes[k], k);
  for (int32_t n = 0; n < N; ++n) data.names.push_back("ind" + std::to_string(n + 1));
  for (int32_t l = 0; l < L; ++l) data.locusNames.push_back("locus" + std::to_string(l + 1));
  data.format = "STRUCTURE";
  data.detected = std::to_string(N) + " individuals, " + std::to_string(L) + " loci";
  return data;
}

void WritePlainStudy(const StudyData& data, const std::string& path) {
  std::ofstream out(path);
  std::vector<int32_t> row(data.X.L);
  for (int32_t n = 0; n < data.X.N; ++n) {
    for (int32_t a = 0; a < data.X.A; ++a) {
      DecodeGenotypeRow(data.X, n, a, row.data());
      for (int32_t v : row) out << v << '\t';
      out << '\n';
    }
  }
}

SweepSettings TestSettings(const std::vector<int32_t>& clusterCounts, int32_t replicates) {
  SweepSettings settings;
  settings.inputPath = "test";
  settings.clusterCounts = clusterCounts;
  settings.replicates = replicates;
  settings.seed = 7;
  settings.threads = 1;
  settings.quiet = true;
  return settings;
}
