// The k-means start: the individuals' allele-count vectors (cluster/allele_counts.h)
// clustered by k-means, seeded by k-means++ and refined by Lloyd passes to a fixed point; of
// several seedings the one of lowest within-cluster sum of squares is kept.
#pragma once

#include <cstdint>
#include <vector>

#include "cluster/allele_counts.h"
#include "data/random.h"

struct KmeansSettings {
  int32_t seedings = 5;
  // Lloyd passes of one seeding at most. A pass that moves no individual is a fixed point
  // and ends the seeding; the cap only guarantees an end should rounding ever make a cycle.
  int32_t maxPasses = 100;
};

// Missing copies count nowhere: a centre is, at every locus, the allele frequencies p of its
// members' observed copies, and the squared distance of individual n from it is the sum over
// n's observed copies of ||e_c - p||^2 (e_c the copy's allele as a 0/1 vector; loci where the
// centre has no observed copy add nothing). On complete data this orders the centres as the
// Euclidean distance of the count vectors to their means does. Each distance is one thread's
// sum, copies and loci ascending, from centres made serially of whole-number counts, so the
// result is the same bits for any number of threads. The within-cluster sum of squares is
// the sum over clusters and loci of T - sum over alleles of S^2 / T (S the allele's observed
// copies in the cluster, T all of them).
//
// One seeding: the first centre is the individual of one uniform integer draw; each further
// centre is the first individual n whose running sum (n ascending) of D(n) exceeds u times
// their total, D(n) the squared distance to the nearest centre chosen so far and u one
// uniform draw in (0, 1) (when every D(n) is 0, a uniform integer draw instead). Every
// individual starts in the cluster of its nearest centre (the earliest among equals). Then
// Lloyd passes: every individual to the nearest centroid (the lowest cluster among equals),
// the centroids recomputed, until a pass moves no individual or maxPasses have run.
// An empty cluster after a pass takes the individual farthest from its centroid (the lowest
// index among equals) out of a cluster of two or more; with K = 1 nothing is drawn.
//
// labels receives N labels 0 .. K-1 (K <= N) of the seeding of lowest within-cluster sum of
// squares (the earliest among equals), which is returned. The draws, all from rng, are those
// of the seedings in turn.
double KmeansLabels(const AlleleCountSpace& space, int32_t K, const KmeansSettings& settings,
                    RandomGenerator& rng, int32_t threads, std::vector<int32_t>& labels);

// Lloyd passes from labels (0 .. K-1 each) to a fixed point or maxPasses, as in KmeansLabels;
// returns the within-cluster sum of squares of the labels it leaves.
double RefineKmeans(const AlleleCountSpace& space, int32_t K, int32_t maxPasses, int32_t threads,
                    std::vector<int32_t>& labels);

// The within-cluster sum of squares of labels (0 .. K-1 each): sum over k ascending of
// and loci ascending of T - sum of S^2 / T; empty clusters add nothing.
double WithinClusterSquares(const AlleleCountSpace& space, const std::vector<int32_t>& labels,
                            int32_t K, int32_t threads);
