// The starts of a sweep run, each one routine chosen by name. A start fills the N x K
// memberships Q (given as zeros) drawing only from the run's own generator, so that a run's
// outcome depends on its seed alone.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "cluster/allele_counts.h"
#include "data/genotype_table.h"
#include "data/random.h"
#include "data/vectors.h"

// What the starts of a sweep share, made once before the first run.
struct StartContext {
  const GenotypeTable* X = nullptr;
  int32_t N = 0, L = 0;
  // Ward's merge sequence on allele sharing over all N individuals (HClusteringEngine), when
  // a start of the sweep needs it; every K cuts the same sequence.
  std::vector<int32_t> kept, absorbed;
  // When the dissimilarities of all N individuals do not fit, the tree above is that of a
  // random subsample (its individuals, ascending), and wardLabels[K] holds every
  // individual's group for each K of the sweep (PrepareWardTree).
  std::vector<int32_t> subsample;
  std::map<int32_t, std::vector<int32_t>> wardLabels;
  // Every individual's allele counts, when a start of the sweep needs them.
  AlleleCountSpace counts;
  // The allele copies of the table that are not missing (the per-copy stopping rule).
  double observedCopies = 0.0;
};

// threads: those of the run's engine; a start's result does not depend on them.
using StartRoutine = void (*)(const StartContext& context, int32_t K, RandomGenerator& rng,
                              int32_t threads, Vector2D<double>& Q);

struct StartMethod {
  const char* name;
  bool needsWardTree;
  bool needsAlleleCounts;
  StartRoutine routine;
  // EM iterations of deterministic annealing that begin the runs of this start, for odd and
  // for even replicates (the classic -aa variant: memberships raised to the power 1.2^-T, the
  // power growing by 1.2 an iteration for T iterations); 0: plain EM from the first.
  int32_t annealing[2];
  // The Ward tree is made on at most this many individuals (a subsample beyond; see
  // PrepareWardTree); 0: as many as memory allows.
  int32_t wardIndividuals;
  const char* summary;  // one line for --help
};

// Every start, in the order --help lists them (the first is the default):
// - "ward-anneal": the "ward" start below on at most kWardAnnealIndividuals individuals (a
//   random subsample of that size beyond, the others joined by allele sharing), then the
//   first 12 (odd replicates) or 15 (even replicates) EM iterations annealed.
// - "kmeans": k-means of the allele-count vectors (KmeansLabels: k-means++ seeding, Lloyd
//   passes to a fixed point, the best of five seedings); one-hot rows.
// - "ward": the classic clustering start (-mc): the Ward tree cut into K groups, then the
//   perturbation (PerturbLabels); one-hot rows.
// - "random": the classic random start (-mr): one categorical draw over K equal weights per
//   individual, ascending; one-hot rows.
// - "dirichlet": the classic Dirichlet start (-md): one flat Dirichlet draw per individual.
// Each draws exactly what the classic start draws, in the same order.
const std::vector<StartMethod>& StartMethods();

constexpr int32_t kWardAnnealIndividuals = 5000;

// The annealed iterations that begin run (K, replicate) of start: none for K = 1 (one
// cluster has nothing to anneal).
int32_t AnnealingIterations(const StartMethod& start, int32_t K, int32_t replicate);

// The start of that name, or nullptr.
const StartMethod* FindStart(const std::string& name);

// The names of every start, separated by "|" (for messages and --help).
std::string StartNames();

// What the start column of runs.tsv says: the start's name, and for a Ward tree made on a
// subsample "ward(subsample M)".
std::string StartLabel(const StartContext& context, const StartMethod& start);

// Bytes of the N(N-1)/2 dissimilarities of N individuals, and the largest number of
// individuals whose dissimilarities take at most bytes.
double WardTreeBytes(double N);
int32_t WardSubsampleSize(double bytes);

// Computes the Ward merge sequence of X for start into context (threads for the
// dissimilarities; the result does not depend on them). When the dissimilarities of all N
// individuals take more than memoryBytes (0: half of this computer's memory), or N exceeds
// the start's wardIndividuals, the tree is made on a random subsample of the largest size
// that fits both: individuals chosen (one choice draw) by a generator of its own seeded with
// RunSeed(sweepSeed, 0, 0), a seed no run has (every run has K >= 1), so that every run of
// the sweep, in this process or another, has the same subsample. For every K of
// clusterCounts, wardLabels[K] is then the subsample's cut into K groups with every other
// individual joined to the group that shares the most alleles with it
// (JoinNearestBySharing). One line on standard error says so. A subsample smaller than the
// largest K ends the run with one line naming inputPath.
void PrepareWardTree(StartContext& context, const StartMethod& start,
                     const std::vector<int32_t>& clusterCounts, uint64_t sweepSeed,
                     double memoryBytes, int32_t threads, const std::string& inputPath);
