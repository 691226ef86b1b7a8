// The EM iteration of the K-cluster mixture model: mixing proportions, allele
// frequencies, clustering probabilities, the settling-phase variants, the log-likelihood
// of every iteration, and the frequency floor applied after the last iteration.
#pragma once

#include <cstdint>
#include <vector>

#include "data/genotype_table.h"
#include "data/random.h"
#include "data/vectors.h"

// Where one locus sits in the table and in the per-iteration tables of the workspace.
struct EmLocus {
  uint32_t at = 0;       // bit position of its code in its block's row
  uint32_t mask = 0;     // 2^width - 1
  uint32_t slot = 0;     // its first slot (code 0)
  uint32_t missing = 0;  // its missing code J[l]
};

// Loci firstLocus .. endLocus - 1 of table block `block`, taken together by every step:
// their terms are small enough to stay in the core's first-level cache while all
// individuals pass. A packed segment holds only loci of 2-bit (or only of 4-bit) codes, one
// after another from a word boundary, a slot for every code, and is decoded a word at a time.
struct EmSegment {
  int32_t block = 0;
  int32_t firstLocus = 0;
  int32_t endLocus = 0;
  int8_t packedWidth = 0;  // 2 or 4 when packed, else 0
  int32_t firstWord = 0;   // packed: the word of the block's rows that holds its first code
  bool endsBlock = false;  // the last segment of its block
};

// Up to sixteen clusters handled side by side, in `groups` groups of four lanes (the lanes
// past the last cluster hold neutral values and are never read back). Offsets in doubles.
struct EmChunk {
  int32_t firstCluster = 0;
  int32_t clusters = 0;
  int32_t groups = 0;
  size_t logTerms = 0, factors = 0, counts = 0, sums = 0, memberships = 0;
};

// Everything the iterations need besides the estimates themselves, made once before the
// first iteration so that the loop allocates nothing.
//
// Every locus has a slot for each of its codes (alleles 0 .. J[l]-1, the missing code J[l]);
// a 2- or 4-bit locus has one for every code its width holds, the last never an allele. For
// each chunk of clusters and slot: a log record of two rows of lanes (the floored log
// frequency added to g_k; the log of the likelihood factor, added to h_k), a factor row (the
// likelihood factor multiplied into f_k: the frequency, or 1 for the missing code and for a
// negative allele value) and a count row (the weighted allele count F; the row of the missing
// code and the last row of a 2- or 4-bit locus take contributions that are never read).
// Every individual keeps its running g, h and f in a record of three rows while the segments
// pass.
struct EmWorkspace {
  int32_t N = 0, A = 0, L = 0, K = 0;
  int32_t threads = 1;       // threads of every step; the results do not depend on it
  bool wideVectors = false;  // the processor runs the AVX2 versions of the inner loops
  const GenotypeTable* X = nullptr;
  std::vector<int32_t> J;
  std::vector<EmLocus> loci;
  std::vector<EmSegment> segments;
  std::vector<EmChunk> chunks;
  std::vector<int32_t> alleleStart;     // L + 1 entries: allele j of locus l is alleleStart[l] + j
  std::vector<uint8_t> negativeAllele;  // the allele's value is negative

  // Rewritten every iteration; the chunks' tables start at a 64-byte boundary of `lanes`.
  std::vector<double> lanes;               // every chunk's records, sums and padded Q rows
  std::vector<uint8_t> productSpent;       // individual n's s_n is known to be below DBL_MIN
  std::vector<double> logLikelihoodTerms;  // ln s_n of every individual
  std::vector<double> floorLogPi;          // floored log of every mixing proportion
  std::vector<double> logPi;               // plain log of every mixing proportion
  std::vector<double> ratioScratch;        // K x K log ratios of each thread but the last
};

// Sizes the per-iteration storage for K clusters over X (N x A x L, kept by reference) and
// `threads` threads. AlleleValues[l] lists the J[l] alleles of locus l ascending.
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
//   individual is impossible under every cluster. Once s_n from an individual's products so
//   far is below DBL_MIN, its products are no longer formed: every later factor lies in
//   [0, 1] and rounding is monotone, so the final s_n would be below DBL_MIN as well and the
//   term takes the log-space path with the same bits.
// - The stochastic draw always finds a cluster (DrawCluster).
//
// Threads (w.threads) never change a bit: each sum is done by one thread in its documented
// order. The counts and frequencies are split by segments of loci (each count sums its
// individuals ascending), the E-step and the likelihood terms by ranges of individuals
// (each individual's sums run over the copies a outer, l inner, segment after segment);
// the mixing proportions, the stochastic draws (after every posterior is known) and the
// log-likelihood (the sum of the individuals' terms, ascending) run on one thread.
// LogRatioMatrix ends as the last individual left it.
double EmIteration(int32_t t, char emVariant, int32_t settlingCount, RandomGenerator& rng,
                   EmWorkspace& w, std::vector<double>& MixingProportions,
                   Vector3D<double>& AlleleFrequencies, Vector2D<double>& ClusteringProbabilities,
                   Vector2D<double>& LogRatioMatrix, double& AnnealingExponent);

// EmIteration's two halves, for the EM map of the accelerated runs (cluster/mixture_em_map.h):
// EmMStep is its M-step (mixing proportions and allele frequencies from the memberships Q),
// EmEStep its plain E-step from given (pi, P): the memberships Q, and the log-likelihood of
// (pi, P), which it returns. EmMStep followed by EmEStep gives the same bits as a plain
// EmIteration (EmEStep recomputes the logarithms of P that EmIteration takes from its M-step,
// with the same operations). Threads as EmIteration: the same bits on any number.
void EmMStep(EmWorkspace& w, const Vector2D<double>& Q, std::vector<double>& pi,
             Vector3D<double>& P);
double EmEStep(EmWorkspace& w, const std::vector<double>& pi, const Vector3D<double>& P,
               Vector2D<double>& Q, Vector2D<double>& LogRatioMatrix);

// Runs I iterations from the starting ClusteringProbabilities (N x K), with the annealing
// exponent started at 1.2^-settlingCount. LogLikelihoodHistory (I entries) receives each
// iteration's log-likelihood; after every 100th iteration "<t+1> Iterations Completed"
// goes to standard output. AlleleFrequencies must be K x L x J[l] and LogRatioMatrix K x K.
// `threads` threads share each iteration; the results are the same for any number.
void RunEM(const GenotypeTable& X, const Vector2D<int32_t>& AlleleValues,
           const std::vector<int32_t>& J, int32_t N, int32_t A, int32_t L, int32_t K, int32_t I,
           char emVariant, int32_t settlingCount, RandomGenerator& rng,
           std::vector<double>& MixingProportions, Vector3D<double>& AlleleFrequencies,
           Vector2D<double>& ClusteringProbabilities, Vector2D<double>& LogRatioMatrix,
           std::vector<double>& LogLikelihoodHistory, int32_t threads = 1);

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
