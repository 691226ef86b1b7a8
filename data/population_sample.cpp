#include "data/population_sample.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <string>

#include "data/allele_coding.h"
#include "data/messages.h"

namespace {

constexpr int32_t kMissingValue = -9;

void CheckSettings(const PopulationSampleSettings& s) {
  const char* wrong = nullptr;
  if (s.N < 1 || s.A < 1 || s.L < 1 || s.K < 1 || s.K > s.N) {
    wrong = "N, A, L and K must be at least 1 and K at most N";
  } else if (s.fewestAlleles < 2 || s.mostAlleles < s.fewestAlleles) {
    wrong = "the alleles per locus must be a range from 2 up";
  } else if (!(s.Fst > 0.0 && s.Fst < 1.0)) {
    wrong = "F_ST must lie between 0 and 1";
  } else if (!(s.missingShare >= 0.0 && s.missingShare < 1.0)) {
    wrong = "the missing share must lie in [0, 1)";
  } else if (s.batches > 0 &&
             !(s.heavyShare >= 0.0 && s.heavyShare <= 1.0 && s.lightMissing[0] >= 0.0 &&
               s.lightMissing[0] <= s.lightMissing[1] && s.lightMissing[1] < 1.0 &&
               s.heavyMissing[0] >= 0.0 && s.heavyMissing[0] <= s.heavyMissing[1] &&
               s.heavyMissing[1] < 1.0)) {
    wrong = "the missing shares must be ranges in [0, 1)";
  } else if (!(s.admixedShare >= 0.0 && s.admixedShare <= 1.0)) {
    wrong = "the admixed share must lie in [0, 1]";
  } else if (!s.sizes.empty() &&
             (static_cast<int32_t>(s.sizes.size()) != s.K ||
              std::accumulate(s.sizes.begin(), s.sizes.end(), int64_t{0}) != s.N)) {
    wrong = "the population sizes must be K numbers summing to N";
  }
  if (wrong != nullptr) {
    FailRun(std::string("Cannot simulate this sample: ") + wrong + " - SimulatePopulationSample");
  }
}

}  // namespace

std::vector<int32_t> UnevenSizes(int32_t N, int32_t K) {
  std::vector<int32_t> sizes(K);
  const int64_t shares = static_cast<int64_t>(K) * (K + 1) / 2;
  int64_t given = 0;
  for (int32_t k = 0; k < K; ++k) {
    sizes[k] = static_cast<int32_t>((k + 1) * static_cast<int64_t>(N) / shares);
    given += sizes[k];
  }
  sizes[K - 1] += static_cast<int32_t>(N - given);
  return sizes;
}

void SimulatePopulationSample(const PopulationSampleSettings& settings, RandomGenerator& rng,
                              PopulationSample& sample) {
  CheckSettings(settings);
  const int32_t N = settings.N, A = settings.A, L = settings.L, K = settings.K;
  sample = PopulationSample();
  sample.sizes = settings.sizes.empty() ? UnevenSizes(N, K) : settings.sizes;

  std::vector<int32_t> J(L);
  const int32_t span = settings.mostAlleles - settings.fewestAlleles + 1;
  sample.ancestral.resize(L);
  for (int32_t l = 0; l < L; ++l) {
    J[l] = settings.fewestAlleles + (span > 1 ? UniformIntDraw(rng, span) : 0);
    std::vector<double>& p = sample.ancestral[l];
    p.assign(J[l], 0.0);
    if (J[l] == 2) {
      p[0] = 0.05 + 0.9 * UniformDraw(rng);
      p[1] = 1.0 - p[0];
    } else {
      DirichletDraw(rng, std::vector<double>(J[l], 1.0), p.data());
    }
  }

  // Balding-Nichols: P[k][l] ~ Dirichlet(p (1 - F) / F), mean p, variance p (1 - p) F.
  const double scale = (1.0 - settings.Fst) / settings.Fst;
  InitVctr3D(sample.P, K, L, J, 0.0);
  Vector3D<double> cumulative = sample.P;
  for (int32_t k = 0; k < K; ++k) {
    for (int32_t l = 0; l < L; ++l) {
      std::vector<double> alpha(J[l]);
      for (int32_t j = 0; j < J[l]; ++j) alpha[j] = sample.ancestral[l][j] * scale;
      DirichletDraw(rng, alpha, sample.P[k][l].data());
      RunningSums(sample.P[k][l].data(), J[l], cumulative[k][l].data());
    }
  }

  // Uneven missingness: rank[b][l], the place of locus l in batch b's order of failing.
  const int32_t batches = std::max(settings.batches, 0);
  std::vector<std::vector<int32_t>> rank(batches, std::vector<int32_t>(L));
  for (int32_t b = 0; b < batches; ++b) {
    std::vector<double> u(L);
    for (int32_t l = 0; l < L; ++l) u[l] = UniformDraw(rng);
    std::vector<int32_t> order(L);
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int32_t x, int32_t y) { return u[x] < u[y]; });
    for (int32_t r = 0; r < L; ++r) rank[b][order[r]] = r;
  }

  AlleleCoder coder(N, A, L, "SimulatePopulationSample");
  std::vector<uint8_t> missing(L);
  InitVctr2D(sample.ancestry, N, K, 0.0);
  std::vector<double> ancestryCumulative(K);
  const std::vector<double> flat(K, 1.0);
  for (int32_t k = 0; k < K; ++k) {
    for (int32_t i = 0; i < sample.sizes[k]; ++i) {
      std::vector<double>& q = sample.ancestry[sample.population.size()];
      sample.population.push_back(k);
      q[k] = 1.0;
      const bool admixed = settings.admixedShare > 0.0 && UniformDraw(rng) < settings.admixedShare;
      if (admixed) DirichletDraw(rng, flat, q.data());
      RunningSums(q.data(), K, ancestryCumulative.data());
      if (batches > 0) {
        const int32_t b = UniformIntDraw(rng, batches);
        const double* range =
            UniformDraw(rng) < settings.heavyShare ? settings.heavyMissing : settings.lightMissing;
        const double share = range[0] + (range[1] - range[0]) * UniformDraw(rng);
        const int32_t failed = static_cast<int32_t>(std::lround(share * L));
        sample.batch.push_back(b);
        for (int32_t l = 0; l < L; ++l) missing[l] = rank[b][l] < failed;
      } else {
        for (int32_t l = 0; l < L; ++l) missing[l] = UniformDraw(rng) < settings.missingShare;
      }
      for (int32_t a = 0; a < A; ++a) {
        int32_t* values = coder.Row();
        for (int32_t l = 0; l < L; ++l) {
          if (missing[l]) {
            values[l] = kMissingValue;
            continue;
          }
          // A draw past every allele (frequencies summing to less than the uniform, by
          // rounding) takes the last allele.
          int32_t from = k;
          if (admixed) {
            from = CategoricalDrawCumulative(rng, ancestryCumulative.data(), K);
            from = from < K ? from : K - 1;
          }
          const int32_t j = CategoricalDrawCumulative(rng, cumulative[from][l].data(), J[l]);
          values[l] = (j < J[l] ? j : J[l] - 1) + 1;
        }
        coder.AddRow();
      }
    }
  }
  coder.Finish(sample.X);
}
