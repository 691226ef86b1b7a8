// Agglomerative hierarchical clustering of the individuals of a genotype table: the
// pairwise dissimilarities, the merging engine (Lance-Williams updates, seven linkage
// methods) and the cut of the merge tree into K labelled groups.
#pragma once

#include <cstdint>
#include <vector>

#include "data/genotype_table.h"

// One dissimilarity per unordered pair {i, j}, i < j, stored row by row:
// (0,1)..(0,N-1), (1,2)..(1,N-1), ... See CondensedIndex.
using CondensedDistances = std::vector<double>;

// A pair whose dissimilarity is this or more (or NaN) is never merged as a closest pair.
constexpr double kNoDistance = 1e300;

// Position of the pair (i, j), i < j, among the N(N-1)/2 entries for N items.
inline int64_t CondensedIndex(int64_t N, int64_t i, int64_t j) {
  return i * N - (i + 1) * (i + 2) / 2 + j;
}

// The new dissimilarity between the merged cluster d + c and a third cluster e, from the
// values before the merge: dde = D(d,e), dce = D(c,e), ddc = D(d,c), and the cluster sizes
// nd, nc, ne. Method 0 group average, 1 centroid, 2 complete linkage, 3 weighted average,
// 4 median, 5 single linkage, 6 Ward (applied to the dissimilarity as built, not squared).
// Every engine calls this one function, so equal inputs give equal bits.
template <int32_t method>
inline double LinkageUpdate(double dde, double dce, double ddc, double nd, double nc, double ne) {
  static_assert(method >= 0 && method <= 6);
  if constexpr (method == 0) {
    return (nd * dde + nc * dce) / (nd + nc);
  } else if constexpr (method == 1) {
    return (nd * dde + nc * dce - nc * nd * ddc / (nd + nc)) / (nd + nc);
  } else if constexpr (method == 2) {
    return dce > dde ? dce : dde;
  } else if constexpr (method == 3) {
    return (dce + dde) * 0.5;
  } else if constexpr (method == 4) {
    return (dde + dce) * 0.5 - ddc * 0.25;
  } else if constexpr (method == 5) {
    return dde > dce ? dce : dde;
  } else {
    return ((nc + ne) * dce + (nd + ne) * dde - ne * ddc) / (ne + nc + nd);
  }
}

// The same, with the method chosen at run time (0..6; any other method returns dde).
double LinkageUpdate(int32_t method, double dde, double dce, double ddc, double nd, double nc,
                     double ne);

// N(N-1)/2 zeros, or the run ends with one line naming the routine and N when the
// machine cannot hold them.
CondensedDistances MakeCondensedDistances(int32_t N);

// Dissimilarity of every pair of individuals of X (N x A x L).
// sharingDistance: 1 - s / (A*A*L), s = number of (copy of i, copy of j, locus) triples with
// equal values. Otherwise Euclidean: square root of the sum over copies a and loci l of
// (X[i][a][l] - X[j][a][l])^2 of the values, copy a paired with copy a. Missing codes are
// plain values.
// threads: rows are split among them; the result does not depend on it.
CondensedDistances HClusteringDistance(const GenotypeTable& X, bool sharingDistance,
                                       int32_t threads = 1);

// The allele-sharing kind of HClusteringDistance counted without the AVX2 kernels that the
// processor may offer (the same bits; for comparing the two).
CondensedDistances PortableSharingDistance(const GenotypeTable& X, int32_t threads = 1);

// Merges the N items one pair at a time, always the closest live pair, until one cluster is
// left; D is updated in place by LinkageUpdate. Merge t joins kept[t] (the smaller index,
// which names the merged cluster from then on) and absorbed[t] (retired). Among equal
// distances the pair (j, k) with the smallest j, then the smallest k, is merged first.
// When no live pair is below kNoDistance (NaN counts as not below), that step merges the two
// live clusters with the smallest indices; so if every distance is unusable the remaining
// clusters are merged in index order. kept and absorbed are set to N-1 zeros when empty.
// A method outside 0..6 ends the run at the first distance update.
void HClusteringEngine(int32_t N, CondensedDistances& D, int32_t method, std::vector<int32_t>& kept,
                       std::vector<int32_t>& absorbed);

// Replays the first N-K merges (none when K >= N; at most N-1) and labels the groups
// 0, 1, ... in the order of their smallest member. N = kept.size() + 1.
std::vector<int32_t> HClusteringCut(const std::vector<int32_t>& kept,
                                    const std::vector<int32_t>& absorbed, int32_t K);

// One group label per individual of X, K groups (N when N < K). Ends the run when X holds
// no individuals.
std::vector<int32_t> HClustering(const GenotypeTable& X, int32_t method, int32_t K,
                                 bool sharingDistance, int32_t threads = 1);
