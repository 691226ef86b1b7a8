// The starting point of the EM iterations: the clustering probabilities of every individual,
// with the mixing proportions, the log-ratio scratch matrix and the Dirichlet parameters.
#pragma once

#include <cstdint>
#include <vector>

#include "data/genotype_table.h"
#include "data/random.h"
#include "data/vectors.h"

// Creates, in this order, DirichletParameters (K ones), MixingProportions (K times 1/K),
// LogRatioMatrix (K x K zeros) and ClusteringProbabilities Q (N x K zeros), then fills Q:
// - 'r': for each individual, one categorical draw over the mixing proportions; one-hot rows.
// - 'c': Ward clustering on allele sharing into K groups, then M individuals (N/4, or N/20
//   when L >= 120, truncated, at least 1) are chosen and each moved to a cluster drawn
//   uniformly until it differs from its own; one-hot rows. With K = 1 there is no other
//   cluster to move to, so the moves are skipped and nothing is drawn.
// - 'd': each row a flat Dirichlet draw; every entry positive.
void InitialiseMemberships(const GenotypeTable& X, int32_t N, int32_t L, int32_t K, char method,
                           RandomGenerator& rng, Vector2D<double>& ClusteringProbabilities,
                           std::vector<double>& MixingProportions, Vector2D<double>& LogRatioMatrix,
                           std::vector<double>& DirichletParameters);

// The number of individuals moved after the clustering start.
int32_t PerturbationCount(int32_t N, int32_t L);

// The perturbation of the clustering start: M = PerturbationCount(N, L) individuals chosen
// (one choice draw) and each moved to a cluster drawn uniformly until it differs from its
// own label. Nothing is drawn or moved when K = 1.
void PerturbLabels(std::vector<int32_t>& labels, int32_t N, int32_t L, int32_t K,
                   RandomGenerator& rng);

// The clustering start from given group labels (one per individual, each below K): the
// perturbation, then Q (N x K) set to the one-hot rows of the moved labels. The 'c' start
// is StartFromLabels(HClustering(X, 6, K, true), ...); callers that cut one merge tree for
// several K pass its cut for each K and get the same rows and draws.
void StartFromLabels(std::vector<int32_t> labels, int32_t N, int32_t L, int32_t K,
                     RandomGenerator& rng, Vector2D<double>& Q);
