// The EM iteration of the K-cluster mixture model: mixing proportions, allele
// frequencies, clustering probabilities, the settling-phase variants, the log-likelihood
// of every iteration, and the frequency floor applied after the last iteration.
#pragma once

#include <cstdint>
#include <vector>

#include "data/genotype_table.h"
#include "data/random.h"
#include "data/vectors.h"

// Everything the iterations need besides the estimates themselves, made once before the
// first iteration so that the loop allocates nothing.
//
// Allele slots number the alleles of all loci one after another: allele j of locus l is
// slot slotStart[l] + j. One more slot, missingSlot, stands for every copy whose value is
// not an allele of its locus (the missing code). A copy's slot is its code plus the start of
// its locus.
struct EmWorkspace {
  int32_t N = 0, A = 0, L = 0, K = 0;
  int32_t threads = 1;  // threads of every step; the results do not depend on it
  const GenotypeTable* X = nullptr;
  std::vector<int32_t> J;
  std::vector<int32_t> slotStart;  // L + 1 entries; slotStart[L] = missingSlot
  int32_t missingSlot = 0;
  std::vector<uint8_t> negativeSlot;  // the slot's allele value is negative
  std::vector<int32_t> copySlot;      // A x L slots of one individual, in table order (a, l)

  // Rewritten every iteration, laid out slot-major with the K clusters innermost.
  std::vector<double> alleleCounts;  // weighted allele counts F: [slot][k]
  // Per slot three rows of K: the floored log frequency added to g_k, the factor of the
  // likelihood product (1 for a missing copy or a negative allele value) and its logarithm.
  std::vector<double> slotTerms;
  std::vector<double> floorLogPi;                // floored log of every mixing proportion
  std::vector<double> logPi;                     // plain log of every mixing proportion
  std::vector<double> g, f, h;                   // per cluster sums of one individual
  std::vector<int32_t> locusSlots, locusCopies;  // distinct slots of one individual at one locus
};

// Sizes the per-iteration storage for K clusters over X (N x A x L, kept by reference).
// AlleleValues[l] lists the J[l] alleles of locus l ascending.
void PrepareEmWorkspace(const GenotypeTable& X, const Vector2D<int32_t>& AlleleValues,
                        const std::vector<int32_t>& J, int32_t N, int32_t A, int32_t L, int32_t K,
                        EmWorkspace& w, int32_t threads = 1);

// One iteration t: M-step (mixing proportions, allele frequencies), E-step (clustering
// probabilities through the capped matrix of pairwise log ratios), the variant step while
// t < settlingCount ('a' annealing, which multiplies AnnealingExponent by 1.2; 's' one
// categorical draw per individual, ascending; 'c' nothing), and the log-likelihood, which
// it returns. Every floating-point sum runs in the order the model documents, so the
// results are the same bits as a copy-by-copy evaluation of the same steps.
//
// Degenerate cases, decided here:
// - A cluster and locus whose weighted allele count S is 0 (an empty cluster, or every
//   copy of its members at the locus missing), or so small that 1/S overflows, gets the
//   uniform frequencies 1/J[l] for this iteration. Its mixing proportion (0 for an empty
//   cluster) still weighs its clustering probabilities down.
// - The log-likelihood term of an individual is ln s_n with s_n = sum_k pi_k f_k, from
//   plain products while s_n is a normal double; when s_n is 0 or subnormal it is
//   computed in log space instead, LogSumExp over k of (sum of ln P over the individual's
//   non-negative copies, a outer and l inner) + ln pi_k. It is -inf only when the
//   individual is impossible under every cluster.
// - The stochastic draw always finds a cluster (DrawCluster).
double EmIteration(int32_t t, char emVariant, int32_t settlingCount, RandomGenerator& rng,
                   EmWorkspace& w, std::vector<double>& MixingProportions,
                   Vector3D<double>& AlleleFrequencies, Vector2D<double>& ClusteringProbabilities,
                   Vector2D<double>& LogRatioMatrix, double& AnnealingExponent);

// Runs I iterations from the starting ClusteringProbabilities (N x K), with the annealing
// exponent started at 1.2^-settlingCount. LogLikelihoodHistory (I entries) receives each
// iteration's log-likelihood; after every 100th iteration "<t+1> Iterations Completed"
// goes to standard output. AlleleFrequencies must be K x L x J[l] and LogRatioMatrix K x K.
void RunEM(const GenotypeTable& X, const Vector2D<int32_t>& AlleleValues,
           const std::vector<int32_t>& J, int32_t N, int32_t A, int32_t L, int32_t K, int32_t I,
           char emVariant, int32_t settlingCount, RandomGenerator& rng,
           std::vector<double>& MixingProportions, Vector3D<double>& AlleleFrequencies,
           Vector2D<double>& ClusteringProbabilities, Vector2D<double>& LogRatioMatrix,
           std::vector<double>& LogLikelihoodHistory);

// The stochastic variant's assignment of one individual: the categorical draw over its K
// clustering probabilities q. When the draw reaches no cluster (q sums to less than the
// uniform drawn) the individual goes to the last cluster of positive probability, or to
// cluster 0 when none is positive.
int32_t DrawCluster(RandomGenerator& rng, const double* q, int32_t K);

// ln sum_k exp(t[k]), computed relative to the largest term M as
// M + ln(sum_k exp(t[k] - M)), k ascending; -inf when every t[k] is -inf.
double LogSumExp(const double* t, int32_t K);

// Keeps the final frequencies away from zero. With Jmax below 100 (otherwise the values
// in brackets): for k, l, j ascending, an entry below 0.001 (0.0001) becomes a normal draw
// of standard deviation 0.001 (0.0001) plus 0.01 (0.001), and then any entry below 0.002
// (0.0002) becomes 0.002 (0.0002); each P[k][l] is then renormalised by 1/sum.
void FinishAlleleFrequencies(Vector3D<double>& P, const std::vector<int32_t>& J, int32_t Jmax,
                             RandomGenerator& rng);
