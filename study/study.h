// The records of a study: what was asked for, every run (K, replicate) with its estimates,
// and the summary of every K. The files of a sweep are written from these records alone, so
// any step that has them (a single process, or a collection of runs made elsewhere) writes
// the same files.
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "data/genotype_table.h"
#include "data/study_input.h"
#include "data/vectors.h"

// One run of a sweep by its K and replicate.
struct RunId {
  int32_t K = 0;
  int32_t replicate = 0;
  friend bool operator==(const RunId&, const RunId&) = default;
  friend auto operator<=>(const RunId&, const RunId&) = default;
};

// What the study command was asked to do; filled once by the command line.
struct SweepSettings {
  std::string inputPath;
  ReaderOptions reader;
  std::vector<int32_t> clusterCounts;  // the K of the sweep, ascending, distinct
  bool clusterCountsGiven = true;      // false: the default range, cut at the individuals
  int32_t replicates = 10;
  uint64_t seed = 1;
  int32_t threads = 1;  // 1 or more; the results do not depend on it
  std::string start = "ward-anneal";
  std::string search = "none";    // after a run converges: "none" or "split-merge"
  std::string model = "mixture";  // study/model.h: "mixture" or "admixture"
  // --cv V: the choice of K by V-fold cross-validation (study/cross_validation.h); 0: none.
  int32_t cvFolds = 0;  // at most kMaxCvFolds
  // A supervised sweep (--supervised FILE; study/supervised_run.h): per individual its
  // reference population's cluster (-1: estimated) and the populations by cluster; empty
  // when the sweep is not supervised.
  std::string supervisedFile;
  std::vector<int32_t> referenceCluster;
  std::vector<std::string> referencePopulations;
  int32_t maxIterations = 10000;
  double tolerance = 1e-4;  // absolute rise of the log-likelihood; 0 runs every iteration
  // The EM after the annealing (study/accelerated_run.h): "squarem" or "none" (plain EM);
  // the stopping rule, "absolute" or "per-copy" (tolerance per observed allele copy).
  std::string acceleration = "squarem";
  std::string stop = "absolute";
  std::string outDir;
  bool force = false;   // replace an outDir that holds files, whole (study/study_folder.h)
  bool resume = false;  // keep the finished runs of an interrupted sweep (study/whole_sweep.h)
  bool quiet = false;   // no progress lines
  // Bytes the Ward start's dissimilarities may take (0: half of this computer's memory); not
  // an option of the command line: a seam for tests of the subsample rule.
  double wardMemoryBytes = 0.0;
  // A part of the sweep only (--runs, --shard; study/run_selection.h): these runs, or shard
  // `shard` of `shards` (from 1); each run's results go to its own folder under outDir/runs/
  // for a later collect. Empty and 0: the whole sweep.
  std::vector<RunId> onlyRuns;
  int32_t shard = 0, shards = 0;
  // The pictures: the K of the structure plot (empty: every K of the sweep), the format of
  // the files in plots/ ("png", "svg" or "pdf"), and the populations the plots show first,
  // in this order (read from populationOrderFile; the others follow as they first appear).
  std::vector<int32_t> plotClusterCounts;
  std::string plotFormat = "png";
  std::string populationOrderFile;
  std::vector<std::string> populationOrder;
};

constexpr int32_t kMaxCvFolds = 1000;

// One run: K clusters, replicate r (from 1), from its own seed.
struct RunRecord {
  int32_t K = 0;
  int32_t replicate = 0;
  uint32_t seed = 0;  // 1 .. 2^31 - 1 (RunSeed)
  std::string start;
  int32_t iterations = 0;       // EM iterations made
  bool converged = false;       // stopped by the tolerance rather than by maxIterations
  double loglik = 0.0;          // the log-likelihood of the last iteration
  double seconds = 0.0;         // wall time of the start and the iterations (differs run to run)
  std::vector<double> history;  // the log-likelihood of every iteration
  // The estimates as the last iteration left them, in the run's own cluster order.
  Vector2D<double> Q;               // N x K memberships
  Vector3D<double> P;               // K x L x J[l] allele frequencies (no floor)
  std::vector<double> proportions;  // K mixing proportions

  // Alignment: cluster c (0-based) of the aligned study is the run's cluster order[c].
  std::vector<int32_t> order;
  int32_t mode = 0;               // 1 = the mode of the best replicate, then 2, 3, ...
  double similarityToBest = 0.0;  // after matching, 1 for the best replicate itself
};

// One K over its replicates.
struct KSummary {
  int32_t K = 0;
  int32_t replicates = 0;
  int32_t converged = 0;
  int32_t best = 0;  // index into StudyRecord::runs of the best replicate
  double loglikBest = 0.0, loglikMean = 0.0, loglikSd = 0.0;  // sd: n - 1; NaN below 2
  int64_t parameters = 0;
  double AIC = 0.0, BIC = 0.0, ICL = 0.0;
  double deltaK = 0.0;  // NaN where it is not defined
  int32_t modes = 0;
  int32_t bestModeSize = 0;
  bool chosen = false;
  // The cross-validation error of the best replicate and its standard error (NaN without --cv).
  double cvError = std::numeric_limits<double>::quiet_NaN();
  double cvSe = std::numeric_limits<double>::quiet_NaN();
};

// Everything a sweep produced.
struct StudyRecord {
  SweepSettings settings;
  // The input as read: shape, alleles, names and populations (empty when unknown).
  int32_t N = 0, A = 0, L = 0;
  std::vector<int32_t> J;
  Vector2D<int32_t> alleleValues;
  std::vector<std::string> names, populations, locusNames;
  std::vector<double> missingShare;  // per individual: missing copies / (A L)
  std::string format, detected;
  uint64_t tableChecksum = 0;  // GenotypeTableChecksum of the coded table

  std::vector<RunRecord> runs;      // K ascending, then replicate ascending
  std::vector<RunId> missingRuns;   // runs of the sweep not collected (collect --allow-missing)
  std::vector<KSummary> summaries;  // one per K, ascending
  int32_t chosenK = 0;
  double treeSeconds = 0.0;   // the shared Ward tree (0 when no start needs it)
  double totalSeconds = 0.0;  // the whole sweep
};

// The index into runs of run (K, replicate), or -1.
int32_t FindRun(const StudyRecord& study, int32_t K, int32_t replicate);
