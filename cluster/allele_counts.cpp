#include "cluster/allele_counts.h"

#include <algorithm>

namespace {

// The K sums of individual n; KC is K when fixed at compile time (the sums then stay in
// registers), 0 otherwise.
template <int KC>
void DotOfIndividual(const AlleleCountSpace& space, const double* W, int32_t K, int32_t n,
                     double* out) {
  const GenotypeTable& X = *space.X;
  constexpr int kLanes = KC > 0 ? KC : 1;
  double fixed[kLanes] = {};
  double* acc = KC > 0 ? fixed : out;
  if constexpr (KC == 0) std::fill(out, out + K, 0.0);
  const int32_t k = KC > 0 ? KC : K;
  for (size_t b = 0; b < X.blocks.size(); ++b) {
    const LocusField* first = space.fields.data() + X.blocks[b].firstLocus;
    const LocusField* end = space.fields.data() + X.blocks[b].endLocus;
    for (int32_t a = 0; a < X.A; ++a) {
      const uint64_t* row = BlockRow(X, static_cast<int32_t>(b), n, a);
      for (const LocusField* f = first; f != end; ++f) {
        const uint64_t code = (row[f->word] >> f->shift) & f->mask;
        const double* w = W + (static_cast<size_t>(f->codeStart) + code) * k;
        for (int32_t c = 0; c < k; ++c) acc[c] += w[c];
      }
    }
  }
  if constexpr (KC > 0) std::copy(fixed, fixed + KC, out);
}

}  // namespace

void PrepareAlleleCountSpace(const GenotypeTable& X, int32_t threads, AlleleCountSpace& space) {
  space = AlleleCountSpace();
  space.X = &X;
  space.N = X.N;
  space.A = X.A;
  space.L = X.L;
  space.codeStart.resize(X.L);
  for (int32_t l = 0; l < X.L; ++l) {
    space.codeStart[l] = space.rows;
    const uint32_t J = static_cast<uint32_t>(X.alleleValues[l].size());
    space.fields.push_back(LocusField{X.position[l] >> 6, X.position[l] & 63,
                                      (uint64_t{1} << X.width[l]) - 1, space.rows, J});
    space.rows += static_cast<int32_t>(J) + 1;
  }
  space.squaredNorm.assign(X.N, 0.0);
  const int32_t A = X.A, L = X.L;
#pragma omp parallel num_threads(std::max(threads, 1))
  {
    std::vector<uint32_t> codes(static_cast<size_t>(A));
#pragma omp for schedule(static)
    for (int32_t n = 0; n < X.N; ++n) {
      int64_t norm = 0;
      for (int32_t l = 0; l < L; ++l) {
        const uint32_t missing = static_cast<uint32_t>(X.alleleValues[l].size());
        for (int32_t a = 0; a < A; ++a) codes[a] = GenotypeCode(X, n, a, l);
        // Each copy adds 2 c + 1 where c is the number of earlier copies of its allele:
        // the sum over an allele of c copies is c^2.
        for (int32_t a = 0; a < A; ++a) {
          if (codes[a] >= missing) continue;
          int64_t before = 0;
          for (int32_t b = 0; b < a; ++b) before += codes[b] == codes[a] ? 1 : 0;
          norm += 2 * before + 1;
        }
      }
      space.squaredNorm[n] = static_cast<double>(norm);
    }
  }
}

void DotWithColumns(const AlleleCountSpace& space, const std::vector<double>& W, int32_t K,
                    int32_t threads, std::vector<double>& dots) {
  dots.resize(static_cast<size_t>(space.N) * K);
  using DotFunction = void (*)(const AlleleCountSpace&, const double*, int32_t, int32_t, double*);
  constexpr DotFunction kDot[] = {DotOfIndividual<0>, DotOfIndividual<1>, DotOfIndividual<2>,
                                  DotOfIndividual<3>, DotOfIndividual<4>, DotOfIndividual<5>,
                                  DotOfIndividual<6>, DotOfIndividual<7>, DotOfIndividual<8>};
  const DotFunction dot = kDot[K <= 8 ? K : 0];
#pragma omp parallel for num_threads(std::max(threads, 1)) schedule(static)
  for (int32_t n = 0; n < space.N; ++n) {
    dot(space, W.data(), K, n, dots.data() + static_cast<size_t>(n) * K);
  }
}

void AddCounts(const AlleleCountSpace& space, int32_t n, int32_t k, int32_t K, double weight,
               std::vector<double>& W) {
  const GenotypeTable& X = *space.X;
  for (size_t b = 0; b < X.blocks.size(); ++b) {
    for (int32_t a = 0; a < space.A; ++a) {
      const uint64_t* row = BlockRow(X, static_cast<int32_t>(b), n, a);
      for (int32_t l = X.blocks[b].firstLocus; l < X.blocks[b].endLocus; ++l) {
        const LocusField& f = space.fields[l];
        const uint64_t code = (row[f.word] >> f.shift) & f.mask;
        if (code < f.missing) W[(static_cast<size_t>(f.codeStart) + code) * K + k] += weight;
      }
    }
  }
}

void CountByLabel(const AlleleCountSpace& space, const std::vector<int32_t>& labels, int32_t K,
                  int32_t threads, std::vector<double>& W) {
  const GenotypeTable& X = *space.X;
  W.assign(static_cast<size_t>(space.rows) * K, 0.0);
  const int32_t blocks = static_cast<int32_t>(X.blocks.size());
#pragma omp parallel for num_threads(std::max(threads, 1)) schedule(dynamic, 1)
  for (int32_t b = 0; b < blocks; ++b) {
    const LocusField* first = space.fields.data() + X.blocks[b].firstLocus;
    const LocusField* end = space.fields.data() + X.blocks[b].endLocus;
    for (int32_t n = 0; n < space.N; ++n) {
      if (labels[n] < 0) continue;
      double* column = W.data() + labels[n];
      for (int32_t a = 0; a < space.A; ++a) {
        const uint64_t* row = BlockRow(X, b, n, a);
        for (const LocusField* f = first; f != end; ++f) {
          const uint64_t code = (row[f->word] >> f->shift) & f->mask;
          if (code < f->missing) column[(static_cast<size_t>(f->codeStart) + code) * K] += 1.0;
        }
      }
    }
  }
}

void JoinNearestBySharing(const AlleleCountSpace& space, int32_t K, int32_t threads,
                          std::vector<int32_t>& labels) {
  std::vector<double> W, dots, observed, overlaps;
  CountByLabel(space, labels, K, threads, W);
  // observed: every code row of locus l holds, for group k, the group's observed copies at l
  // (the missing row 0), so that a dot gives sum over l of o_nl T_kl.
  observed.assign(W.size(), 0.0);
  for (int32_t l = 0; l < space.L; ++l) {
    const size_t first = static_cast<size_t>(space.codeStart[l]) * K;
    const int32_t J = static_cast<int32_t>(space.fields[l].missing);
    for (int32_t k = 0; k < K; ++k) {
      double T = 0.0;
      for (int32_t c = 0; c < J; ++c) T += W[first + static_cast<size_t>(c) * K + k];
      for (int32_t c = 0; c < J; ++c) observed[first + static_cast<size_t>(c) * K + k] = T;
    }
  }
  std::vector<int32_t> sizes(K, 0);
  for (int32_t label : labels) {
    if (label >= 0) ++sizes[label];
  }
  DotWithColumns(space, W, K, threads, dots);
  DotWithColumns(space, observed, K, threads, overlaps);
  for (int32_t n = 0; n < space.N; ++n) {
    if (labels[n] >= 0) continue;
    const double* dot = dots.data() + static_cast<size_t>(n) * K;
    const double* overlap = overlaps.data() + static_cast<size_t>(n) * K;
    int32_t best = -1, firstMembers = -1;
    double bestShare = 0.0;
    for (int32_t k = 0; k < K; ++k) {
      if (overlap[k] <= 0.0) {
        if (firstMembers < 0 && sizes[k] > 0) firstMembers = k;
        continue;
      }
      const double share = dot[k] / overlap[k];
      if (best < 0 || share > bestShare) {
        best = k;
        bestShare = share;
      }
    }
    labels[n] = best >= 0 ? best : firstMembers;
  }
}

double LocusSquares(const AlleleCountSpace& space, const std::vector<double>& W, int32_t K,
                    int32_t k, int32_t l, double& T) {
  const double* w = W.data() + static_cast<size_t>(space.codeStart[l]) * K + k;
  const int32_t J = static_cast<int32_t>(space.fields[l].missing);
  double squares = 0.0;
  T = 0.0;
  for (int32_t c = 0; c < J; ++c) {
    T += w[static_cast<size_t>(c) * K];
    squares += w[static_cast<size_t>(c) * K] * w[static_cast<size_t>(c) * K];
  }
  return T > 0.0 ? T - squares / T : 0.0;
}
