// The simulated samples of known populations: frequencies spread around the ancestral ones
// by F_ST, uneven sizes in blocks, the missing share, and the settings refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "data/population_sample.h"
#include "fuzz/in_process_run.h"

TEST(PopulationSample, SpreadSizesAndMissingCopiesAsAsked) {
  for (double F : {0.01, 0.1}) {
    PopulationSampleSettings settings;
    settings.N = 500, settings.L = 2000, settings.K = 4, settings.Fst = F;
    settings.fewestAlleles = settings.mostAlleles = 2;
    RandomGenerator rng(3);
    PopulationSample s;
    SimulatePopulationSample(settings, rng, s);
    // E (P - p)^2 = p (1 - p) F under the Balding-Nichols model.
    double spread = 0.0, scale = 0.0;
    for (int32_t l = 0; l < settings.L; ++l) {
      const double p = s.ancestral[l][0];
      for (int32_t k = 0; k < settings.K; ++k) spread += std::pow(s.P[k][l][0] - p, 2);
      scale += settings.K * p * (1.0 - p);
    }
    EXPECT_NEAR(spread / scale, F, 0.1 * F);
    EXPECT_EQ(s.sizes, (std::vector<int32_t>{50, 100, 150, 200}));  // 1 : 2 : 3 : 4
    ASSERT_EQ(s.population.size(), 500u);
    EXPECT_EQ(s.population[49], 0);
    EXPECT_EQ(s.population[50], 1);
    EXPECT_EQ(s.population[499], 3);
    int64_t missing = 0;
    for (int32_t n = 0; n < s.X.N; ++n) {
      for (int32_t l = 0; l < s.X.L; ++l) {
        const bool first = GenotypeCode(s.X, n, 0, l) >= s.X.alleleValues[l].size();
        EXPECT_EQ(first, GenotypeCode(s.X, n, 1, l) >= s.X.alleleValues[l].size());
        missing += first ? 1 : 0;
      }
    }
    EXPECT_NEAR(missing / 1e6, 0.02, 0.002);
  }
  EXPECT_EQ(UnevenSizes(10, 3), (std::vector<int32_t>{1, 3, 6}));  // 1.67, 3.33, 5: rest last
}

TEST(PopulationSample, RefusesWhatCannotBeDrawn) {
  PopulationSampleSettings good;
  PopulationSampleSettings bad[5] = {good, good, good, good, good};
  bad[0].K = good.N + 1;
  bad[1].fewestAlleles = 1;
  bad[2].Fst = 0.0;
  bad[3].missingShare = 1.0;
  bad[4].sizes = {100, 100};
  for (const PopulationSampleSettings& settings : bad) {
    RandomGenerator rng(1);
    PopulationSample s;
    const InProcessResult r = RunInProcess([&]() { SimulatePopulationSample(settings, rng, s); });
    EXPECT_TRUE(r.ended);
    EXPECT_NE(r.err.find("- SimulatePopulationSample"), std::string::npos) << r.err;
  }
}

TEST(PopulationSample, UnevenMissingnessFollowsTheBatches) {
  PopulationSampleSettings settings;
  settings.N = 2000, settings.L = 200, settings.K = 5, settings.batches = 4;
  RandomGenerator rng(8);
  PopulationSample s;
  SimulatePopulationSample(settings, rng, s);
  ASSERT_EQ(s.batch.size(), 2000u);
  int32_t heavy = 0;
  std::vector<std::vector<int32_t>> missed(2000);
  for (int32_t n = 0; n < s.X.N; ++n) {
    for (int32_t l = 0; l < s.X.L; ++l) {
      if (GenotypeCode(s.X, n, 0, l) >= s.X.alleleValues[l].size()) missed[n].push_back(l);
    }
    const double share = missed[n].size() / 200.0;
    const bool isHeavy = share >= 0.3;
    heavy += isHeavy ? 1 : 0;
    EXPECT_TRUE(isHeavy ? share <= 0.6 : share >= 0.01 && share <= 0.05) << n << " " << share;
  }
  EXPECT_NEAR(heavy / 2000.0, 0.05, 0.015);
  // Within a batch, the missing loci of the one who misses fewer are among the other's.
  for (int32_t n = 1; n < s.X.N; ++n) {
    for (int32_t m = 0; m < n; m += 97) {
      if (s.batch[m] != s.batch[n]) continue;
      const auto& fewer = missed[n].size() < missed[m].size() ? missed[n] : missed[m];
      const auto& more = missed[n].size() < missed[m].size() ? missed[m] : missed[n];
      EXPECT_TRUE(std::includes(more.begin(), more.end(), fewer.begin(), fewer.end()));
    }
  }
}
