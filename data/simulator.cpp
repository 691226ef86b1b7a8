#include "data/simulator.h"

#include <gsl/gsl_rng.h>

#include <queue>
#include <string>
#include <utility>
#include <vector>

#include "data/allele_coding.h"
#include "data/ground_truth_file.h"
#include "data/memory_check.h"
#include "data/messages.h"

namespace {

// Dirichlet parameter of every cluster weight.
constexpr double kWeightAlpha = 8.0;

std::string Shape(int32_t N, int32_t A, int32_t L) {
  return std::to_string(N) + " x " + std::to_string(A) + " x " + std::to_string(L);
}

// Settings the draws cannot work with end the run here, before any draw: the uniform draw
// needs 1 <= K <= the generator's largest output, the shuffle and Dirichlet draws at least
// one allele, and X and J must have the shape the loops write.
void CheckSimulationSettings(RandomGenerator& rng, int32_t N, int32_t A, int32_t L,
                             const std::vector<int32_t>& J, int32_t K, const GenotypeTable& X) {
  if (J.empty() || X.N <= 0) FailRun("Initialize J and X first - SimulateGenotypeData");
  if (N < 1 || A < 1 || L < 1) {
    FailRun("Cannot simulate a table of " + Shape(N, A, L) + " alleles - SimulateGenotypeData");
  }
  const unsigned long maxK = gsl_rng_max(rng.handle()) - gsl_rng_min(rng.handle());
  if (K < 1 || static_cast<unsigned long>(K) > maxK) {
    FailRun("Cannot simulate " + std::to_string(K) + " clusters (1 to " + std::to_string(maxK) +
            ") - SimulateGenotypeData");
  }
  const bool shaped = X.N == N && X.A == A && X.L == L && J.size() == static_cast<size_t>(L);
  if (!shaped) {
    FailRun("Genotype table is not " + Shape(N, A, L) + " or J has not " + std::to_string(L) +
            " entries - SimulateGenotypeData");
  }
  for (int32_t l = 0; l < L; ++l) {
    if (J[l] < 1) {
      FailRun("Cannot simulate " + std::to_string(J[l]) + " alleles at locus " +
              std::to_string(l + 1) + " - SimulateGenotypeData");
    }
  }
}

// No cluster holds more than e: take one individual at a time from the largest cluster,
// the lowest index first among equals. e is below the sum of sizes, so one always has some.
void TakeExcessFromLargest(std::vector<int32_t>& sizes, int64_t e) {
  // Ordered by size, then by the lowest index (stored negated).
  std::priority_queue<std::pair<int32_t, int32_t>> largest;
  for (size_t k = 0; k < sizes.size(); ++k) {
    largest.emplace(sizes[k], -static_cast<int32_t>(k));
  }
  for (; e > 0; --e) {
    const int32_t k = -largest.top().second;
    largest.pop();
    --sizes[k];
    largest.emplace(sizes[k], -k);
  }
}

}  // namespace

std::vector<int32_t> RoundClusterSizes(RandomGenerator& rng, const std::vector<double>& w,
                                       int32_t N) {
  const int32_t K = static_cast<int32_t>(w.size());
  std::vector<int32_t> sizes(K);
  int64_t sum = 0;
  int32_t largest = 0;
  for (int32_t k = 0; k < K; ++k) {
    sizes[k] = static_cast<int32_t>(w[k] * N + 0.5);
    sum += sizes[k];
    if (sizes[k] > largest) largest = sizes[k];
  }
  const int64_t e = sum - N;
  if (e > 0 && largest > e) {
    int32_t k = UniformIntDraw(rng, K);
    while (sizes[k] <= e) k = UniformIntDraw(rng, K);
    sizes[k] -= static_cast<int32_t>(e);
  } else if (e > 0) {
    TakeExcessFromLargest(sizes, e);
  } else if (e < 0) {
    const int32_t k = UniformIntDraw(rng, K);
    sizes[k] -= static_cast<int32_t>(e);
  }
  return sizes;
}

void DrawSimulatedModel(RandomGenerator& rng, int32_t N, int32_t L, const std::vector<int32_t>& J,
                        int32_t K, SimulatedModel& model) {
  model.w.assign(K, 0.0);
  DirichletDraw(rng, std::vector<double>(K, kWeightAlpha), model.w.data());
  model.sizes = RoundClusterSizes(rng, model.w, N);
  for (int32_t k = 0; k < K; ++k) model.w[k] = static_cast<double>(model.sizes[k]) / N;

  // Row l holds the parameters 1.0 .. J[l]; each shuffle starts from the previous order.
  Vector2D<double> alpha;
  InitVctr2D(alpha, L, J, 0.0);
  for (int32_t l = 0; l < L; ++l) {
    for (int32_t i = 0; i < J[l]; ++i) alpha[l][i] = i + 1.0;
  }
  InitVctr3D(model.P, K, L, J, 0.0);
  for (int32_t k = 0; k < K; ++k) {
    for (int32_t l = 0; l < L; ++l) {
      ShuffleDraw(rng, alpha[l]);
      DirichletDraw(rng, alpha[l], model.P[k][l].data());
    }
  }
}

void DrawGenotypes(RandomGenerator& rng, const SimulatedModel& model, int32_t A, int32_t L,
                   const std::vector<int32_t>& J, GenotypeTable& X) {
  const int32_t K = static_cast<int32_t>(model.sizes.size());
  // Running sums of every cluster's frequencies in one block: cluster k, locus l starts at
  // k * alleleTotal + start[l]. Frequencies are non-negative, so each row is non-decreasing.
  std::vector<size_t> start(L);
  size_t alleleTotal = 0;
  for (int32_t l = 0; l < L; ++l) {
    start[l] = alleleTotal;
    alleleTotal += static_cast<size_t>(J[l]);
  }
  std::vector<double> cumulative(static_cast<size_t>(K) * alleleTotal);
  // fallback[k * L + l]: the allele a draw that reaches none of P[k][l] gives.
  std::vector<int32_t> fallback(static_cast<size_t>(K) * L);
  for (int32_t k = 0; k < K; ++k) {
    for (int32_t l = 0; l < L; ++l) {
      const std::vector<double>& p = model.P[k][l];
      RunningSums(p.data(), J[l], &cumulative[k * alleleTotal + start[l]]);
      int32_t last = J[l] - 1;
      while (last > 0 && !(p[last] > 0.0)) --last;
      fallback[static_cast<size_t>(k) * L + l] = last;
    }
  }

  int32_t N = 0;
  for (int32_t k = 0; k < K; ++k) N += model.sizes[k];
  X = GenotypeTable();  // rebuilt from the draws below
  AlleleCoder coder(N, A, L, "SimulateGenotypeData");
  int32_t n = 0;
  for (int32_t k = 0; k < K; ++k) {
    const double* clusterSums = cumulative.data() + k * alleleTotal;
    const int32_t* clusterFallback = fallback.data() + static_cast<size_t>(k) * L;
    for (const int32_t blockEnd = n + model.sizes[k]; n < blockEnd; ++n) {
      for (int32_t a = 0; a < A; ++a) {
        int32_t* alleles = coder.Row();
        for (int32_t l = 0; l < L; ++l) {
          const int32_t i = CategoricalDrawCumulative(rng, clusterSums + start[l], J[l]);
          alleles[l] = i < J[l] ? i : clusterFallback[l];
        }
        coder.AddRow();
      }
    }
  }
  coder.Finish(X);
}

double SimulatedModelBytes(int32_t K, int32_t L, const std::vector<int32_t>& J) {
  double alleleTotal = 0.0;
  for (int32_t l = 0; l < L && l < static_cast<int32_t>(J.size()); ++l) alleleTotal += J[l];
  const double rowHeader = sizeof(std::vector<double>);
  // P as K x L rows and its running sums; the parameter rows; per-locus starts and the
  // fallback alleles.
  return double(K) * (2.0 * alleleTotal * sizeof(double) + L * (rowHeader + sizeof(int32_t))) +
         alleleTotal * sizeof(double) + L * (rowHeader + sizeof(size_t));
}

void SimulateGenotypeData(const std::string& path, RandomGenerator& rng, int32_t N, int32_t A,
                          int32_t L, const std::vector<int32_t>& J, int32_t K, GenotypeTable& X) {
  CheckSimulationSettings(rng, N, A, L, J, K, X);
  RequireMemory(SimulatedModelBytes(K, L, J),
                "a model of " + std::to_string(K) + " clusters over " + std::to_string(L) + " loci",
                "SimulateGenotypeData");
  SimulatedModel model;
  DrawSimulatedModel(rng, N, L, J, K, model);
  DrawGenotypes(rng, model, A, L, J, X);
  WriteGroundTruthFile(path + "GroundTruth.txt", N, A, L, J, K, model);
}
