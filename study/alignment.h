// Cluster alignment: within each K every replicate's clusters matched to those of the best
// replicate, replicates that agree grouped into modes, and across K the clusters of each K
// matched to those of the K before it, so that a cluster keeps its number as K grows.
#pragma once

#include <cstdint>
#include <vector>

#include "study/study.h"

// Replicates whose memberships agree at least this much after matching form one mode.
constexpr double kModeSimilarity = 0.97;

// overlap[a * KB + b] = sum over individuals n, ascending, of min(A[n][a], B[n][b]): how much
// membership cluster a of A and cluster b of B share. A and B have the same rows.
std::vector<double> MembershipOverlap(const Vector2D<double>& A, const Vector2D<double>& B);

struct ClusterMatching {
  // order[c] = the cluster of B matched to cluster orderA[c] of A, for c < KA; the clusters of
  // B left unmatched (KB > KA) follow in ascending number.
  std::vector<int32_t> order;
  // The membership the matched clusters share, divided by N: for rows that sum to 1 this is
  // 1 - (mean over individuals of half the L1 distance between the matched rows), 1 for equal
  // memberships.
  double similarity = 0.0;
};

// The matching of B's clusters to A's (KA <= KB) that shares the most membership, found by an
// optimal assignment on MembershipOverlap.
ClusterMatching MatchClusters(const Vector2D<double>& A, const std::vector<int32_t>& orderA,
                              const Vector2D<double>& B);

// Whether run a is a better replicate than run b of the same K: a higher log-likelihood, or
// an equal one and a lower replicate number; a NaN log-likelihood is below every other.
bool Outranks(const RunRecord& a, const RunRecord& b);

// The index, among the runs of one K (indices into runs), of the best replicate: the one that
// outranks every other.
int32_t BestReplicate(const std::vector<RunRecord>& runs, const std::vector<int32_t>& ofK);

// Sets order, similarityToBest and mode of every run of study, and fills for every K of
// study.summaries (which must hold one entry per K with K set) best, modes and bestModeSize:
// - the best replicate of the first K keeps its own cluster order; the best of every later K
//   is matched to the best of the K before it in the sweep;
// - every other replicate is matched to the best of its K (similarityToBest);
// - modes: taking the replicates by descending log-likelihood, the first not yet in a mode
//   starts the next mode, and every replicate not yet in a mode whose memberships agree with
//   it at kModeSimilarity or more (after matching) joins it. Mode 1 holds the best replicate.
void AlignStudy(StudyRecord& study);

// The runs of study with K = K, by ascending replicate.
std::vector<int32_t> RunsOfK(const StudyRecord& study, int32_t K);
