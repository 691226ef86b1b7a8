#include "app/run_driver.h"

#include <chrono>
#include <cstdint>
#include <iostream>
#include <string>
#include <vector>

#include "app/memory_check.h"
#include "cluster/initialisation.h"
#include "data/allele_coding.h"
#include "data/genotype_file.h"
#include "data/messages.h"
#include "data/random.h"
#include "data/vectors.h"

namespace {

// Nested vectors: each row carries its own header besides its elements.
double TableBytes(double rows, double cols, double elementBytes) {
  return rows * (cols * elementBytes + sizeof(std::vector<char>));
}

}  // namespace

int RunEstimation(const RunSettings& settings, unsigned long seed) {
  const int32_t N = settings.individualCount;
  const int32_t A = settings.ploidy;
  const int32_t L = settings.locusCount;
  const int32_t I = settings.iterationCount;
  const std::string inputPath = InputPath(settings);
  const std::string outputBase = OutputBase(settings);

  // 1. The run's one generator.
  RandomGenerator rng(seed);

  // 2. The genotype table, N x A x L zeros.
  std::vector<int32_t> J;
  if (settings.mode != 'l') J.assign(L, settings.simulatedAlleleCount);
  RequireMemory(TableBytes(double(N) * A, L, sizeof(int32_t)),
                "a genotype table of " + std::to_string(N) + " x " + std::to_string(A) + " x " +
                    std::to_string(L) + " alleles",
                "RunEstimation");
  GenotypeTable X;
  InitVctr3D(X, N, A, L, 0);

  // 3. The data: simulated and saved, or loaded.
  if (settings.mode == 'l') {
    LoadGenotypeDataFromStructureFile(inputPath, X, N, A, L, settings.extraRows,
                                      settings.extraColumns);
  } else {
    FailRun("Simulation is not available in this build - RunEstimation");
  }

  // 4. Allele coding.
  Vector2D<int32_t> AlleleValues;
  int32_t Jmax = 0;
  CodeAlleles(X, L, AlleleValues, J, Jmax);

  // 5. Length of the settling phase and of the averaging window.
  const int32_t settlingCount = static_cast<int32_t>(I * 0.1);
  (void)settlingCount;

  // 6. The measured time starts here: loading and coding are outside it.
  const auto start = std::chrono::steady_clock::now();

  // 7. Starting memberships.
  RequireMemory(TableBytes(N, settings.clusterCount, sizeof(double)) +
                    TableBytes(settings.clusterCount, settings.clusterCount, sizeof(double)),
                "the starting memberships of " + std::to_string(N) + " individuals in " +
                    std::to_string(settings.clusterCount) + " clusters",
                "RunEstimation");
  [[maybe_unused]] Vector2D<double> ClusteringProbabilities;
  [[maybe_unused]] std::vector<double> MixingProportions;
  [[maybe_unused]] Vector2D<double> LogRatioMatrix;
  [[maybe_unused]] std::vector<double> DirichletParameters;
  InitialiseMemberships(X, N, L, settings.clusterCount, settings.initMethod, rng,
                        ClusteringProbabilities, MixingProportions, LogRatioMatrix,
                        DirichletParameters);

  // 8. Allele frequencies and log-likelihood history.

  // 9. The EM iterations.

  // 10. Assignment-probability chart.

  // 11. Frequency floor; 12. the generator is released.

  // 13. Clustering report.

  // 14. Log-likelihood chart.

  // 15. Average log-likelihood.

  // 16. The time message.
  const auto stop = std::chrono::steady_clock::now();
  const int32_t milliseconds = static_cast<int32_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(stop - start).count());
  std::cout.setf(std::ios::fixed, std::ios::floatfield);
  std::cout.precision(3);
  std::cout << "This run takes " << milliseconds * 0.001
            << " seconds to complete on this computer." << std::endl;
  return 0;
}
