#include "cluster/hclustering.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <string>

#include "data/messages.h"

double LinkageUpdate(int32_t method, double dde, double dce, double ddc, double nd, double nc,
                     double ne) {
  switch (method) {
    case 0:
      return LinkageUpdate<0>(dde, dce, ddc, nd, nc, ne);
    case 1:
      return LinkageUpdate<1>(dde, dce, ddc, nd, nc, ne);
    case 2:
      return LinkageUpdate<2>(dde, dce, ddc, nd, nc, ne);
    case 3:
      return LinkageUpdate<3>(dde, dce, ddc, nd, nc, ne);
    case 4:
      return LinkageUpdate<4>(dde, dce, ddc, nd, nc, ne);
    case 5:
      return LinkageUpdate<5>(dde, dce, ddc, nd, nc, ne);
    case 6:
      return LinkageUpdate<6>(dde, dce, ddc, nd, nc, ne);
    default:
      return dde;
  }
}

namespace {

// Where row i of the condensed layout starts: the pair (i, j) is at RowStart(N, i) + j - i - 1.
inline int64_t RowStart(int64_t N, int64_t i) {
  return CondensedIndex(N, i, i + 1);
}

// ---------------------------------------------------------------------------------------
// Merging engine.
//
// Live clusters form a list in ascending order: next[j] follows live j (N ends the list),
// prev[j] precedes it (-1 before the first). For every live row j, nearest[j] is the first
// live k > j with the smallest D(j, k) below kNoDistance and nearestDist[j] that distance;
// a row with no such k has nearest -1 and nearestDist kNoDistance. This is exactly what a
// full rescan of the row with "strictly less, first wins" finds, so scanning the rows for
// the smallest nearestDist (first row wins) picks the same pair as a rescan of every pair.
//
// After merging c into d (d < c), only these cached rows can be stale:
// - row d: every D(d, e) changed, so it is rebuilt while the update runs;
// - rows e < d: D(e, d) changed and c left. If the cache pointed at c, or at d whose
//   distance grew (or became NaN), the row is rescanned; otherwise the new D(e, d) replaces
//   the cache when smaller, or equal with d the earlier partner;
// - rows d < e < c: only c left; rescanned when the cache pointed at c.
// Rows after c see no change.
struct EngineState {
  int32_t N = 0;
  int32_t first = 0;
  int32_t live = 0;
  std::vector<int32_t> size, next, prev, nearest;
  std::vector<double> nearestDist;
  std::vector<uint8_t> retired;
};

// Row j's nearest later live partner, from scratch. While most clusters are live a straight
// run over every later index (retired ones skipped) is cheaper than following the list.
void ScanRow(const CondensedDistances& D, EngineState& st, int32_t j) {
  const double* row = D.data() + RowStart(st.N, j);
  double best = kNoDistance;
  int32_t partner = -1;
  if (4 * static_cast<int64_t>(st.live) > st.N) {
    const uint8_t* retired = st.retired.data();
    for (int32_t k = j + 1; k < st.N; ++k) {
      const double v = row[k - j - 1];
      if ((v < best) & !retired[k]) {
        best = v;
        partner = k;
      }
    }
  } else {
    for (int32_t k = st.next[j]; k < st.N; k = st.next[k]) {
      const double v = row[k - j - 1];
      if (v < best) {
        best = v;
        partner = k;
      }
    }
  }
  st.nearest[j] = partner;
  st.nearestDist[j] = best;
}

template <int32_t method>
void UpdateAfterMerge(CondensedDistances& D, EngineState& st, int32_t d, int32_t c) {
  const int64_t N = st.N;
  const double ddc = D[CondensedIndex(N, d, c)];
  const double nd = st.size[d];
  const double nc = st.size[c];
  double* rowD = D.data() + RowStart(N, d);
  const double* rowC = D.data() + RowStart(N, c);

  // Rows e < d: D(e, d) and D(e, c) both lie in row e, far apart from one e to the next;
  // their loads are requested kAhead live rows early.
  constexpr int32_t kAhead = 8;
  int32_t ahead = st.first;
  for (int32_t step = 0; step < kAhead && ahead < d; ++step) ahead = st.next[ahead];
  int32_t e = st.first;
  for (; e < d; e = st.next[e]) {
    if (ahead < d) {
      const double* rowAhead = D.data() + RowStart(N, ahead);
      __builtin_prefetch(rowAhead + (d - ahead - 1), 1);
      __builtin_prefetch(rowAhead + (c - ahead - 1), 0);
      ahead = st.next[ahead];
    }
    double* rowE = D.data() + RowStart(N, e);
    const double v =
        LinkageUpdate<method>(rowE[d - e - 1], rowE[c - e - 1], ddc, nd, nc, st.size[e]);
    rowE[d - e - 1] = v;
    const int32_t partner = st.nearest[e];
    if (partner == c) {
      ScanRow(D, st, e);
    } else if (partner == d) {
      if (v <= st.nearestDist[e]) {
        st.nearestDist[e] = v;
      } else {
        ScanRow(D, st, e);
      }
    } else if (v < st.nearestDist[e] || (v == st.nearestDist[e] && d < partner)) {
      st.nearest[e] = d;
      st.nearestDist[e] = v;
    }
  }

  // Rows e > d: D(d, e) lies in row d; D(c, e) in row e while e < c, in row c after it.
  // Row d's cache is rebuilt on the way, e ascending.
  double best = kNoDistance;
  int32_t nearestOfD = -1;
  for (e = st.next[d]; e < c; e = st.next[e]) {
    const double* rowE = D.data() + RowStart(N, e);
    const double v =
        LinkageUpdate<method>(rowD[e - d - 1], rowE[c - e - 1], ddc, nd, nc, st.size[e]);
    rowD[e - d - 1] = v;
    if (v < best) {
      best = v;
      nearestOfD = e;
    }
    if (st.nearest[e] == c) ScanRow(D, st, e);
  }
  for (; e < N; e = st.next[e]) {
    const double v =
        LinkageUpdate<method>(rowD[e - d - 1], rowC[e - c - 1], ddc, nd, nc, st.size[e]);
    rowD[e - d - 1] = v;
    if (v < best) {
      best = v;
      nearestOfD = e;
    }
  }
  st.nearest[d] = nearestOfD;
  st.nearestDist[d] = best;
}

}  // namespace

void HClusteringEngine(int32_t N, CondensedDistances& D, int32_t method, std::vector<int32_t>& kept,
                       std::vector<int32_t>& absorbed) {
  if (N <= 1) return;
  const size_t merges = static_cast<size_t>(N) - 1;
  if (kept.size() < merges) kept.resize(merges, 0);
  if (absorbed.size() < merges) absorbed.resize(merges, 0);

  EngineState st;
  st.N = N;
  st.first = 0;
  st.size.assign(N, 1);
  st.next.resize(N);
  st.prev.resize(N);
  for (int32_t j = 0; j < N; ++j) {
    st.next[j] = j + 1;
    st.prev[j] = j - 1;
  }
  st.nearest.assign(N, -1);
  st.nearestDist.assign(N, kNoDistance);
  st.retired.assign(N, 0);
  st.live = N;
  for (int32_t j = 0; j < N; ++j) ScanRow(D, st, j);

  for (size_t t = 0; t < merges; ++t) {
    // The closest pair: the first row with the smallest cached distance.
    double best = kNoDistance;
    int32_t d = -1;
    for (int32_t j = st.first; j < N; j = st.next[j]) {
      if (st.nearestDist[j] < best) {
        best = st.nearestDist[j];
        d = j;
      }
    }
    // No usable distance left: the two smallest live indices are merged.
    int32_t c = 0;
    if (d < 0) {
      d = st.first;
      c = st.next[d];
    } else {
      c = st.nearest[d];
    }
    kept[t] = d;
    absorbed[t] = c;

    // Retire c (never the first live index, since d < c is live).
    st.next[st.prev[c]] = st.next[c];
    if (st.next[c] < N) st.prev[st.next[c]] = st.prev[c];
    st.retired[c] = 1;
    --st.live;

    // The update runs when a live cluster other than d is left.
    if (st.first != d || st.next[d] < N) {
      switch (method) {
        case 0:
          UpdateAfterMerge<0>(D, st, d, c);
          break;
        case 1:
          UpdateAfterMerge<1>(D, st, d, c);
          break;
        case 2:
          UpdateAfterMerge<2>(D, st, d, c);
          break;
        case 3:
          UpdateAfterMerge<3>(D, st, d, c);
          break;
        case 4:
          UpdateAfterMerge<4>(D, st, d, c);
          break;
        case 5:
          UpdateAfterMerge<5>(D, st, d, c);
          break;
        case 6:
          UpdateAfterMerge<6>(D, st, d, c);
          break;
        default:
          FailRun("Unsupported Clustering Method - HClusteringEngine");
      }
    }
    st.size[d] += st.size[c];
  }
}

std::vector<int32_t> HClusteringCut(const std::vector<int32_t>& kept,
                                    const std::vector<int32_t>& absorbed, int32_t K) {
  const int32_t N = static_cast<int32_t>(kept.size()) + 1;
  // K >= N replays nothing; a K below 1 (not expected) is read as 1.
  const int64_t replayed = std::clamp<int64_t>(static_cast<int64_t>(N) - K, 0, N - 1);
  // Member lists as linked chains: head and tail of each group, next member of each item.
  std::vector<int32_t> head(N), tail(N), nextMember(N, -1);
  std::vector<char> retired(N, 0);
  for (int32_t i = 0; i < N; ++i) head[i] = tail[i] = i;
  for (int64_t t = 0; t < replayed; ++t) {
    const int32_t g = kept[t];
    const int32_t h = absorbed[t];
    nextMember[tail[g]] = head[h];
    tail[g] = tail[h];
    retired[h] = 1;
  }
  std::vector<int32_t> labels(N, 0);
  int32_t label = 0;
  for (int32_t g = 0; g < N; ++g) {
    if (retired[g]) continue;
    for (int32_t m = head[g]; m >= 0; m = nextMember[m]) labels[m] = label;
    ++label;
  }
  return labels;
}

std::vector<int32_t> HClustering(const GenotypeTable& X, int32_t method, int32_t K,
                                 bool sharingDistance, int32_t threads) {
  if (X.N <= 0) FailRun("Empty Data - HClustering");
  const int32_t N = X.N;
  CondensedDistances D = HClusteringDistance(X, sharingDistance, threads);
  std::vector<int32_t> kept(N - 1, 0);
  std::vector<int32_t> absorbed(N - 1, 0);
  HClusteringEngine(N, D, method, kept, absorbed);
  CondensedDistances().swap(D);  // the matrix is the peak of memory: drop it now
  return HClusteringCut(kept, absorbed, K);
}
