// Samples of K populations with known membership, for tests and benchmarks of realistic
// difficulty: every population's allele frequencies are drawn around shared ancestral
// frequencies (the Balding-Nichols model), so F_ST sets how far apart they are.
#pragma once

#include <cstdint>
#include <vector>

#include "data/genotype_table.h"
#include "data/random.h"
#include "data/vectors.h"

struct PopulationSampleSettings {
  int32_t N = 200, A = 2, L = 10, K = 3;
  // Alleles of every locus drawn uniformly from fewestAlleles .. mostAlleles (2 and 2: SNPs).
  int32_t fewestAlleles = 10, mostAlleles = 20;
  double Fst = 0.03;
  // Each genotype (all A copies of an individual at a locus) is missing with this chance.
  double missingShare = 0.02;
  // Uneven missingness, when batches > 0 (missingShare is then not used): missingness that
  // follows the laboratory, not the population. Every individual belongs to one of
  // `batches` sampling batches; a share heavyShare of the individuals miss a share of their
  // genotypes drawn from heavyMissing, the others one drawn from lightMissing; within a batch
  // the loci fail in one order, so that an individual missing the share m misses the first
  // round(m L) loci of its batch's order.
  int32_t batches = 0;
  double heavyShare = 0.05;
  double lightMissing[2] = {0.01, 0.05}, heavyMissing[2] = {0.30, 0.60};
  // Population sizes; empty: in proportion to 1, 2, ..., K (uneven sampling).
  std::vector<int32_t> sizes;
  // Share of individuals that are admixed: their ancestry proportions a flat Dirichlet draw,
  // each allele copy drawn from a population picked by them. 0: every individual unmixed.
  double admixedShare = 0.0;
};

struct PopulationSample {
  GenotypeTable X;                  // allele j of a locus is the value j + 1; a missing copy -9
  std::vector<int32_t> sizes;       // individuals per population, summing to N
  std::vector<int32_t> population;  // 0 .. K-1 per individual, in blocks: population 0 first
  std::vector<int32_t> batch;       // with uneven missingness: every individual's batch
  Vector2D<double> ancestral;       // L x J[l] ancestral frequencies
  Vector3D<double> P;               // K x L x J[l] population frequencies
  // N x K true ancestry proportions: one-hot for an unmixed individual (its population).
  Vector2D<double> ancestry;
};

// Sizes in proportion to 1, 2, ..., K: (k + 1) N / (K (K + 1) / 2) truncated, the rounding
// left-over given to the last (largest) population.
std::vector<int32_t> UnevenSizes(int32_t N, int32_t K);

// Draws, all from rng and in this order: for every locus its number of alleles J (a uniform
// integer; none when the range is one value) and its ancestral frequencies p (J = 2: the
// first allele's uniform on [0.05, 0.95]; otherwise a flat Dirichlet draw); then for every
// population k and locus l the frequencies P[k][l], a Dirichlet draw with parameters
// p (1 - F) / F; with uneven missingness, one uniform per batch and locus (the batch's
// order of the loci: ascending uniforms); then for every individual n (populations in
// blocks): with an admixed share above 0, first one uniform; below the share it is admixed:
// a flat Dirichlet draw gives its ancestry proportions, and each copy at each locus not
// missing draws its population (a categorical draw over them) before its allele; then its
// missing genotypes: with uneven missingness its batch (a uniform integer), one uniform
// against heavyShare and one for its share within the range, otherwise one uniform per locus;
// and for every copy a and locus l not missing one categorical draw over P[k][l]. Settings
// outside what can be drawn (N, A, L or K below 1, K above N, fewer than 2 alleles, F outside
// (0, 1), a missing share or range outside [0, 1), an admixed share outside [0, 1], sizes that do
// not sum to N) end the run with one line naming SimulatePopulationSample.
void SimulatePopulationSample(const PopulationSampleSettings& settings, RandomGenerator& rng,
                              PopulationSample& sample);
