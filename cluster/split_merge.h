// Split-and-merge moves (after Ueda, Nakano, Ghahramani and Hinton 2000, "SMEM"): a
// converged mixture often sits in a poor optimum where one population is shared by two
// clusters while another cluster holds two populations. A move merges the pair of clusters
// whose memberships overlap most and splits the cluster that fits its members worst, then EM
// runs from there; the move is kept when it reaches a higher log-likelihood. Moves act on
// memberships only, so they serve any model whose EM starts from memberships.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "cluster/allele_counts.h"
#include "data/random.h"
#include "data/vectors.h"

struct SplitMergeMove {
  int32_t merged[2] = {0, 0};  // merged[0] keeps the pair, merged[1] takes half the split
  int32_t split = 0;
};

// Up to count moves of memberships Q (N x K, K >= 3), in the order to try them. Merge pairs
// rank by the cosine of their membership columns (largest first); split clusters, of two or
// more members (individuals whose largest membership is theirs; the lowest cluster among
// equals), by the mean within-cluster sum of squares per observed copy of their members'
// allele counts (KmeansLabels's measure, largest first: the cluster whose allele frequencies
// explain its members worst). Move (i-th pair, j-th split) comes before all moves of larger
// i + j, and among equal sums the smaller i first; a split within its pair is no move.
// Every sum runs in a fixed order: the moves do not depend on threads.
std::vector<SplitMergeMove> RankSplitMergeMoves(const AlleleCountSpace& space,
                                                const Vector2D<double>& Q, int32_t K, int32_t count,
                                                int32_t threads);

// Q after move: column merged[0] becomes q_merged[0] + q_merged[1]; the members of split are
// divided by 2-means of their allele counts (KmeansLabels, drawing from rng) into those who
// keep their membership in split and those whose membership in split moves to merged[1];
// every other individual's membership in split is halved between the two.
void ApplySplitMerge(const AlleleCountSpace& space, const SplitMergeMove& move,
                     RandomGenerator& rng, int32_t threads, Vector2D<double>& Q);

// Moves single individuals between hard clusters (labels 0 .. K-1) while a move raises the
// classification log-likelihood sum over k of [g(n_k) + sum over l of (sum over alleles j of
// g(S_klj) - g(T_klj))], g(x) = x log x, n_k the members of k and S, T their observed copies
// of allele j and of all alleles at locus l (the mixture's log-likelihood when every posterior
// is 0 or 1, up to a constant). A pass visits individuals ascending and moves each to the
// cluster of largest gain above 1e-6 (the lowest among equals), counts updated at once, never
// leaving a cluster empty; passes run until one moves nobody or maxPasses have run. Serial:
// the same bits for any number of threads. Returns the individuals moved in all.
int32_t ReassignLabels(const AlleleCountSpace& space, int32_t K, int32_t maxPasses,
                       std::vector<int32_t>& labels);

// converge: EM from the memberships given to convergence, leaving the converged memberships
// in place; returns the log-likelihood. keep: called right after a candidate's converge when
// its log-likelihood exceeds the best so far (the caller keeps that candidate's estimates).
struct SplitMergeEm {
  std::function<double(Vector2D<double>& Q)> converge;
  std::function<void()> keep;
};

struct SplitMergeOutcome {
  int32_t tried = 0;  // moves run to convergence
  int32_t kept = 0;   // of which raised the log-likelihood
};

constexpr int32_t kReassignPasses = 20;

// From converged memberships Q of log-likelihood loglik: the hard labels of Q refined by
// ReassignLabels (kReassignPasses), EM from their one-hot rows, kept (Q and loglik updated)
// when the log-likelihood rises, and again from the kept Q; ends when no individual moves,
// the labels are those the last candidate started from, a candidate does not pay, or after
// maxTries candidates. Nothing for K < 2.
SplitMergeOutcome ReassignSearch(const AlleleCountSpace& space, int32_t K, int32_t maxTries,
                                 const SplitMergeEm& em, Vector2D<double>& Q, double& loglik);

// From converged memberships Q of log-likelihood loglik: first ReassignSearch; then the moves of
// RankSplitMergeMoves are tried in order; the first that raises the log-likelihood is kept (Q and
// loglik updated) and the search begins afresh from the new Q; the search ends when a ranking has
// no move that pays or after maxTries moves in all. Nothing for K < 3.
SplitMergeOutcome SplitMergeSearch(const AlleleCountSpace& space, int32_t K, int32_t maxTries,
                                   RandomGenerator& rng, int32_t threads, const SplitMergeEm& em,
                                   Vector2D<double>& Q, double& loglik);
