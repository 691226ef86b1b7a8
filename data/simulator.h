// Simulated genotype data: a K-cluster mixture model drawn at random, a genotype table
// drawn from it, and the model written next to the data as its ground truth.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "data/genotype_table.h"
#include "data/random.h"
#include "data/vectors.h"

// The model a simulated table is drawn from.
struct SimulatedModel {
  std::vector<double> w;       // cluster weights; sizes[k] / N once the sizes are set
  std::vector<int32_t> sizes;  // individuals per cluster, summing to N
  Vector3D<double> P;          // P[k][l][i]: frequency of allele i at locus l in cluster k
};

// Fills X (N x A x L, shaped by the caller) with allele indices 0..J[l]-1 drawn from a
// random K-cluster model and writes that model to path + "GroundTruth.txt". The draws, all
// from rng, come in this order: the weights (DrawSimulatedModel), the size repair
// (RoundClusterSizes), the frequencies of every cluster and locus, then one categorical draw
// per individual, copy and locus (DrawGenotypes). An empty J or X, settings that cannot be
// simulated, a model too large for memory and a ground-truth file that cannot be written end
// the run with one line naming SimulateGenotypeData.
void SimulateGenotypeData(const std::string& path, RandomGenerator& rng, int32_t N, int32_t A,
                          int32_t L, const std::vector<int32_t>& J, int32_t K, GenotypeTable& X);

// The steps of SimulateGenotypeData, in the order they draw.

// Cluster sizes for weights w (K >= 1 entries) and N individuals: w[k] * N + 0.5 truncated,
// then the rounding excess e = (sum of sizes) - N is repaired.
// - e > 0: uniform draws of a cluster until one holds more than e individuals, which gives
//   up e. When no cluster holds more than e (N small next to K) that search could never end;
//   instead, with no draw, one individual at a time is taken from the largest cluster (the
//   lowest index among equals) until e are gone.
// - e < 0: one uniform draw picks the cluster that takes the shortfall.
// The sizes then sum to N and none is negative.
std::vector<int32_t> RoundClusterSizes(RandomGenerator& rng, const std::vector<double>& w,
                                       int32_t N);

// The model: weights from a Dirichlet draw with K parameters 8.0, sizes (RoundClusterSizes),
// weights replaced by sizes[k] / N, then for k = 0..K-1 and l = 0..L-1 the parameters
// 1.0 .. J[l] of locus l shuffled in place (the order carries over from cluster to cluster)
// and P[k][l] drawn from the Dirichlet distribution with them. model must be empty.
void DrawSimulatedModel(RandomGenerator& rng, int32_t N, int32_t L, const std::vector<int32_t>& J,
                        int32_t K, SimulatedModel& model);

// Individuals in blocks in cluster order (the first sizes[0] in cluster 0, the next sizes[1]
// in cluster 1, ...); for n, a, l in ascending order X[n][a][l] = a categorical draw over
// P[k][l], k the cluster of n. A draw that reaches no allele (possible only when the
// frequencies sum to less than the uniform value) gives the last allele of positive
// frequency (allele 0 when none has), so every entry is a valid allele index.
// P's entries are non-negative (as Dirichlet draws are). X is rebuilt: the sum of sizes
// individuals of A copies of L loci, coded as they are drawn (AlleleCoder).
void DrawGenotypes(RandomGenerator& rng, const SimulatedModel& model, int32_t A, int32_t L,
                   const std::vector<int32_t>& J, GenotypeTable& X);

// Bytes the model of K clusters and the draw tables built from it take while simulating.
double SimulatedModelBytes(int32_t K, int32_t L, const std::vector<int32_t>& J);
