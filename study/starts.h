// The starts of a sweep run, each one routine chosen by name. A start fills the N x K
// memberships Q (given as zeros) drawing only from the run's own generator, so that a run's
// outcome depends on its seed alone.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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
};

using StartRoutine = void (*)(const StartContext& context, int32_t K, RandomGenerator& rng,
                              Vector2D<double>& Q);

struct StartMethod {
  const char* name;
  bool needsWardTree;
  StartRoutine routine;
  const char* summary;  // one line for --help
};

// Every start, in the order --help lists them:
// - "ward": the classic clustering start (-mc): the Ward tree cut into K groups, then the
//   perturbation (PerturbLabels); one-hot rows.
// - "random": the classic random start (-mr): one categorical draw over K equal weights per
//   individual, ascending; one-hot rows.
// - "dirichlet": the classic Dirichlet start (-md): one flat Dirichlet draw per individual.
// Each draws exactly what the classic start draws, in the same order.
const std::vector<StartMethod>& StartMethods();

// The start of that name, or nullptr.
const StartMethod* FindStart(const std::string& name);

// The names of every start, separated by "|" (for messages and --help).
std::string StartNames();

// Computes the Ward merge sequence of X into context (threads for the dissimilarities; the
// result does not depend on it). Ends the run with one line naming inputPath when the
// N(N-1)/2 dissimilarities do not fit in this computer's memory.
void PrepareWardTree(StartContext& context, int32_t threads, const std::string& inputPath);
