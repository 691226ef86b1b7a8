#include "app/run_driver.h"

#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <iostream>
#include <string>
#include <vector>

#include "app/result_files.h"
#include "charts/plot_ap.h"
#include "charts/plot_lh.h"
#include "cluster/em.h"
#include "cluster/initialisation.h"
#include "data/allele_coding.h"
#include "data/genotype_file.h"
#include "data/genotype_table.h"
#include "data/memory_check.h"
#include "data/messages.h"
#include "data/random.h"
#include "data/simulator.h"
#include "data/vectors.h"

namespace {

// Nested vectors: each row carries its own header besides its elements.
double TableBytes(double rows, double cols, double elementBytes) {
  return rows * (cols * elementBytes + sizeof(std::vector<char>));
}

// The folder that every output file of a run goes to: outputBase up to its last "/".
std::string OutputFolderOf(const std::string& outputBase) {
  const size_t slash = outputBase.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return outputBase.substr(0, slash);
}

}  // namespace

int RunEstimation(const RunSettings& settings, unsigned long seed) {
  const int32_t N = settings.individualCount;
  const int32_t A = settings.ploidy;
  const int32_t L = settings.locusCount;
  const int32_t I = settings.iterationCount;
  const std::string inputPath = InputPath(settings);
  const std::string outputBase = OutputBase(settings);

  // A load-and-analyse run writes nothing until after the EM iterations: refuse an output
  // folder that cannot take its files now rather than after the work.
  if (settings.mode == 'l') {
    const std::string folder = OutputFolderOf(outputBase);
    if (access(folder.c_str(), W_OK | X_OK) != 0) {
      FailRun("Cannot write to output folder " + folder + " - RunEstimation");
    }
  }

  // 1. The run's one generator.
  RandomGenerator rng(seed);

  // 2. The genotype table, N x A x L zeros.
  std::vector<int32_t> J;
  if (settings.mode != 'l') J.assign(L, settings.simulatedAlleleCount);
  RequireMemory(GenotypeTableBytes(N, A, L, 2) + double(L) * sizeof(std::vector<int32_t>),
                "a genotype table of " + std::to_string(N) + " x " + std::to_string(A) + " x " +
                    std::to_string(L) + " alleles",
                "RunEstimation");
  GenotypeTable X;
  InitGenotypeTable(X, N, A, L);

  // 3. The data: simulated and saved, or loaded.
  if (settings.mode == 'l') {
    LoadGenotypeDataFromStructureFile(inputPath, X, N, A, L, settings.extraRows,
                                      settings.extraColumns);
  } else {
    SimulateGenotypeData(outputBase, rng, N, A, L, J, settings.clusterCount, X);
    SaveGenotypeDataToStructureFile(outputBase, X);
    // Mode o ends here: the data file and its ground truth are its only output.
    if (settings.mode == 'o') {
      rng.Release();
      return 0;
    }
  }

  // 4. Allele coding.
  Vector2D<int32_t> AlleleValues;
  int32_t Jmax = 0;
  CodeAlleles(X, L, AlleleValues, J, Jmax);

  // 5. Length of the settling phase and of the averaging window.
  const int32_t settlingCount = static_cast<int32_t>(I * 0.1);

  // 6. The measured time starts here: loading and coding are outside it.
  const auto start = std::chrono::steady_clock::now();

  // 7. Starting memberships.
  const int32_t K = settings.clusterCount;
  RequireMemory(TableBytes(N, K, sizeof(double)) + TableBytes(K, K, sizeof(double)) +
                    TableBytes(double(K) * L, Jmax, sizeof(double)) + double(I) * sizeof(double),
                "the estimates of " + std::to_string(N) + " individuals, " + std::to_string(K) +
                    " clusters, " + std::to_string(L) + " loci and " + std::to_string(I) +
                    " iterations",
                "RunEstimation");
  std::vector<double> DirichletParameters;
  std::vector<double> MixingProportions;
  Vector2D<double> LogRatioMatrix;
  Vector2D<double> ClusteringProbabilities;
  InitialiseMemberships(X, N, L, K, settings.initMethod, rng, ClusteringProbabilities,
                        MixingProportions, LogRatioMatrix, DirichletParameters);

  // 8. Allele frequencies and log-likelihood history.
  Vector3D<double> AlleleFrequencies;
  InitVctr3D(AlleleFrequencies, K, L, J, 0.0);
  std::vector<double> LogLikelihoodHistory(I > 0 ? I : 0, 0.0);

  // 9. The EM iterations.
  RunEM(X, AlleleValues, J, N, A, L, K, I, settings.emVariant, settlingCount, rng,
        MixingProportions, AlleleFrequencies, ClusteringProbabilities, LogRatioMatrix,
        LogLikelihoodHistory);
  // Nothing after the iterations reads the table: its memory goes back before the charts.
  X = GenotypeTable();

  // 10. Assignment-probability chart.
  PlotAP(ClusteringProbabilities, outputBase + "AP.png");

  // 11. Frequency floor; 12. the generator is released.
  FinishAlleleFrequencies(AlleleFrequencies, J, Jmax, rng);
  rng.Release();

  // 13. Clustering report.
  WriteClusteringReport(outputBase + "TR.txt", ClusteringProbabilities, AlleleFrequencies,
                        AlleleValues, J, MixingProportions);

  // 14. Log-likelihood chart.
  PlotLH(LogLikelihoodHistory, outputBase + "LH.png");

  // 15. Average log-likelihood.
  WriteAverageLogLikelihood(outputBase + "AL.txt", LogLikelihoodHistory, settlingCount, I);

  // 16. The time message.
  const auto stop = std::chrono::steady_clock::now();
  const int32_t milliseconds = static_cast<int32_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(stop - start).count());
  std::cout.setf(std::ios::fixed, std::ios::floatfield);
  std::cout.precision(3);
  std::cout << "This run takes " << milliseconds * 0.001 << " seconds to complete on this computer."
            << std::endl;
  return 0;
}
