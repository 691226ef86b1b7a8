#include "cluster/split_merge.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "cluster/kmeans_start.h"

namespace {

// Every individual's cluster of largest membership (the lowest among equals).
std::vector<int32_t> HardLabels(const Vector2D<double>& Q, int32_t K) {
  std::vector<int32_t> labels(Q.size(), 0);
  for (size_t n = 0; n < Q.size(); ++n) {
    for (int32_t k = 1; k < K; ++k) {
      if (Q[n][k] > Q[n][labels[n]]) labels[n] = k;
    }
  }
  return labels;
}

double XLogX(double x) {
  return x > 0.0 ? x * std::log(x) : 0.0;
}

}  // namespace

int32_t ReassignLabels(const AlleleCountSpace& space, int32_t K, int32_t maxPasses,
                       std::vector<int32_t>& labels) {
  const GenotypeTable& X = *space.X;
  const int32_t N = space.N, A = space.A, L = space.L;
  // Every count is a whole number of at most A N: g(x) = x log x and its steps
  // up[x] = g(x + 1) - g(x) read from tables.
  std::vector<double> g(static_cast<size_t>(A) * N + A + 2), up(g.size() - 1), gain(K);
  for (size_t x = 0; x < g.size(); ++x) g[x] = XLogX(static_cast<double>(x));
  for (size_t x = 0; x + 1 < g.size(); ++x) up[x] = g[x + 1] - g[x];
  std::vector<double> counted;
  CountByLabel(space, labels, K, 1, counted);
  // S: the clusters' copies of every code row (K a row), T: of every locus (K a locus).
  std::vector<int32_t> S(counted.begin(), counted.end()), T(static_cast<size_t>(L) * K, 0);
  std::vector<int32_t> sizes(K, 0), rows(static_cast<size_t>(L) * A), earlier(rows.size());
  for (int32_t n = 0; n < N; ++n) ++sizes[labels[n]];
  for (int32_t l = 0; l < L; ++l) {
    const LocusField& f = space.fields[l];
    for (uint32_t j = 0; j < f.missing; ++j) {
      for (int32_t k = 0; k < K; ++k) T[l * K + k] += S[(f.codeStart + j) * K + k];
    }
  }
  int32_t moved = 0;
  for (int32_t pass = 0; pass < maxPasses; ++pass) {
    int32_t movedNow = 0;
    for (int32_t n = 0; n < N; ++n) {
      const int32_t own = labels[n];
      if (sizes[own] < 2) continue;
      // n's copies as code rows (-1 missing), each with the number of n's earlier copies at
      // its locus on the same row: adding (removing) the copies one by one steps S by one.
      for (int32_t l = 0; l < L; ++l) {
        for (int32_t a = 0; a < A; ++a) {
          const uint32_t code = GenotypeCode(X, n, a, l);
          const size_t i = static_cast<size_t>(l) * A + a;
          rows[i] = code < space.fields[l].missing
                        ? space.fields[l].codeStart + static_cast<int32_t>(code)
                        : -1;
          earlier[i] = 0;
          for (int32_t b = 0; b < a; ++b) earlier[i] += rows[i] >= 0 && rows[i - a + b] == rows[i];
        }
      }
      // gain[k], k != own: the change of cluster k's terms when n joins it; leave: of own's
      // when n leaves it.
      for (int32_t k = 0; k < K; ++k) gain[k] = up[sizes[k]];
      double leave = -up[sizes[own] - 1];
      for (int32_t l = 0; l < L; ++l) {
        int32_t copies = 0;
        for (int32_t a = 0; a < A; ++a) {
          const size_t i = static_cast<size_t>(l) * A + a;
          if (rows[i] < 0) continue;
          const int32_t* Sr = S.data() + static_cast<size_t>(rows[i]) * K;
          const int32_t e = earlier[i];
          for (int32_t k = 0; k < K; ++k) gain[k] += up[Sr[k] + e];
          leave -= up[Sr[own] - e - 1];
          ++copies;
        }
        const int32_t* Tl = T.data() + static_cast<size_t>(l) * K;
        for (int32_t k = 0; k < K; ++k) gain[k] -= g[Tl[k] + copies] - g[Tl[k]];
        leave += g[Tl[own]] - g[Tl[own] - copies];
      }
      int32_t best = own;
      double bestGain = 1e-6;
      for (int32_t k = 0; k < K; ++k) {
        if (k != own && leave + gain[k] > bestGain) best = k, bestGain = leave + gain[k];
      }
      if (best == own) continue;
      for (int32_t l = 0; l < L; ++l) {
        for (int32_t a = 0; a < A; ++a) {
          const int32_t row = rows[static_cast<size_t>(l) * A + a];
          if (row < 0) continue;
          --S[static_cast<size_t>(row) * K + own];
          ++S[static_cast<size_t>(row) * K + best];
          --T[l * K + own];
          ++T[l * K + best];
        }
      }
      --sizes[own];
      ++sizes[best];
      labels[n] = best;
      ++movedNow;
    }
    moved += movedNow;
    if (movedNow == 0) break;
  }
  return moved;
}

std::vector<SplitMergeMove> RankSplitMergeMoves(const AlleleCountSpace& space,
                                                const Vector2D<double>& Q, int32_t K, int32_t count,
                                                int32_t threads) {
  std::vector<SplitMergeMove> moves;
  if (K < 3 || count <= 0) return moves;
  const int32_t N = static_cast<int32_t>(Q.size());
  // Merge pairs: the cosine of the membership columns, sums over n ascending.
  std::vector<double> gram(static_cast<size_t>(K) * K, 0.0);
  for (int32_t n = 0; n < N; ++n) {
    for (int32_t i = 0; i < K; ++i) {
      for (int32_t j = i; j < K; ++j) gram[i * K + j] += Q[n][i] * Q[n][j];
    }
  }
  std::vector<std::pair<double, std::pair<int32_t, int32_t>>> pairs;
  for (int32_t i = 0; i < K; ++i) {
    for (int32_t j = i + 1; j < K; ++j) {
      const double norms = std::sqrt(gram[i * K + i] * gram[j * K + j]);
      pairs.push_back({norms > 0.0 ? gram[i * K + j] / norms : 0.0, {i, j}});
    }
  }
  std::stable_sort(pairs.begin(), pairs.end(),
                   [](const auto& a, const auto& b) { return a.first > b.first; });
  // Split clusters: within-cluster squares per observed copy of the hard members.
  const std::vector<int32_t> labels = HardLabels(Q, K);
  std::vector<int32_t> sizes(K, 0);
  for (int32_t label : labels) ++sizes[label];
  std::vector<double> W;
  CountByLabel(space, labels, K, threads, W);
  std::vector<std::pair<double, int32_t>> splits;
  for (int32_t k = 0; k < K; ++k) {
    if (sizes[k] < 2) continue;
    double copies = 0.0, squares = 0.0;
    for (int32_t l = 0; l < space.L; ++l) {
      double T = 0.0;
      squares += LocusSquares(space, W, K, k, l, T);
      copies += T;
    }
    splits.push_back({copies > 0.0 ? squares / copies : 0.0, k});
  }
  std::stable_sort(splits.begin(), splits.end(),
                   [](const auto& a, const auto& b) { return a.first > b.first; });
  const int32_t P = static_cast<int32_t>(pairs.size()), S = static_cast<int32_t>(splits.size());
  for (int32_t sum = 0; sum <= P + S - 2 && static_cast<int32_t>(moves.size()) < count; ++sum) {
    for (int32_t i = std::max(0, sum - (S - 1)); i <= std::min(sum, P - 1); ++i) {
      const auto [a, b] = pairs[i].second;
      const int32_t s = splits[sum - i].second;
      if (s == a || s == b) continue;
      SplitMergeMove move;
      move.merged[0] = a;
      move.merged[1] = b;
      move.split = s;
      moves.push_back(move);
      if (static_cast<int32_t>(moves.size()) == count) break;
    }
  }
  return moves;
}

void ApplySplitMerge(const AlleleCountSpace& space, const SplitMergeMove& move,
                     RandomGenerator& rng, int32_t threads, Vector2D<double>& Q) {
  const int32_t N = static_cast<int32_t>(Q.size());
  const int32_t K = N > 0 ? static_cast<int32_t>(Q[0].size()) : 0;
  const int32_t a = move.merged[0], b = move.merged[1], s = move.split;
  const std::vector<int32_t> labels = HardLabels(Q, K);
  std::vector<int32_t> members;
  for (int32_t n = 0; n < N; ++n) {
    if (labels[n] == s) members.push_back(n);
  }
  std::vector<int32_t> side(N, -1);
  if (members.size() >= 2) {
    const GenotypeTable Y = SelectIndividuals(*space.X, members);
    AlleleCountSpace subspace;
    PrepareAlleleCountSpace(Y, threads, subspace);
    std::vector<int32_t> halves;
    KmeansLabels(subspace, 2, KmeansSettings(), rng, threads, halves);
    for (size_t i = 0; i < members.size(); ++i) side[members[i]] = halves[i];
  }
  for (int32_t n = 0; n < N; ++n) {
    double* q = Q[n].data();
    q[a] += q[b];
    const double share = q[s];
    if (side[n] < 0) {
      q[s] = 0.5 * share;
      q[b] = share - q[s];
    } else {
      q[s] = side[n] == 0 ? share : 0.0;
      q[b] = side[n] == 0 ? 0.0 : share;
    }
  }
}

SplitMergeOutcome ReassignSearch(const AlleleCountSpace& space, int32_t K, int32_t maxTries,
                                 const SplitMergeEm& em, Vector2D<double>& Q, double& loglik) {
  SplitMergeOutcome outcome;
  if (K < 2) return outcome;
  Vector2D<double> candidate;
  std::vector<int32_t> previous;  // the labels the last candidate started from
  while (outcome.tried < maxTries) {
    std::vector<int32_t> labels = HardLabels(Q, K);
    // The same labels as the last candidate's would converge to the same estimates.
    if (ReassignLabels(space, K, kReassignPasses, labels) == 0 || labels == previous) break;
    previous = labels;
    candidate = Q;
    for (size_t n = 0; n < candidate.size(); ++n) {
      std::fill(candidate[n].begin(), candidate[n].end(), 0.0);
      candidate[n][labels[n]] = 1.0;
    }
    const double value = em.converge(candidate);
    ++outcome.tried;
    if (!(value > loglik)) break;
    loglik = value;
    Q.swap(candidate);
    em.keep();
    ++outcome.kept;
  }
  return outcome;
}

SplitMergeOutcome SplitMergeSearch(const AlleleCountSpace& space, int32_t K, int32_t maxTries,
                                   RandomGenerator& rng, int32_t threads, const SplitMergeEm& em,
                                   Vector2D<double>& Q, double& loglik) {
  SplitMergeOutcome outcome;
  Vector2D<double> candidate;
  while (outcome.tried < maxTries) {
    const SplitMergeOutcome reassigned =
        ReassignSearch(space, K, maxTries - outcome.tried, em, Q, loglik);
    outcome.tried += reassigned.tried;
    outcome.kept += reassigned.kept;
    if (outcome.tried >= maxTries) break;
    const std::vector<SplitMergeMove> moves =
        RankSplitMergeMoves(space, Q, K, maxTries - outcome.tried, threads);
    bool raised = false;
    for (const SplitMergeMove& move : moves) {
      candidate = Q;
      ApplySplitMerge(space, move, rng, threads, candidate);
      const double value = em.converge(candidate);
      ++outcome.tried;
      if (value > loglik) {
        loglik = value;
        Q.swap(candidate);
        em.keep();
        ++outcome.kept;
        raised = true;
        break;
      }
    }
    if (!raised) break;
  }
  return outcome;
}
