// The study command's starts: the Ward subsample rule where the dissimilarities of every
// individual do not fit (the memory limit lowered through the settings), the nearest-cluster
// join by allele sharing against a literal count, and what runs.tsv and standard error say.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cluster/hclustering.h"
#include "cluster/observed_sharing.h"
#include "data/population_sample.h"
#include "fuzz/in_process_run.h"
#include "run_program.h"
#include "study/rand_index.h"
#include "study/run_seeds.h"
#include "study/starts.h"
#include "study/study_files.h"
#include "study/sweep.h"
#include "sweep_data.h"

namespace {

// 120 individuals of 3 populations far apart (F_ST 0.3), 30 loci of 4 to 10 alleles.
StudyData Separated(std::vector<int32_t>& truth) {
  PopulationSampleSettings settings;
  settings.N = 120, settings.L = 30, settings.K = 3, settings.Fst = 0.3;
  settings.fewestAlleles = 4, settings.mostAlleles = 10;
  RandomGenerator rng(17);
  PopulationSample sample;
  SimulatePopulationSample(settings, rng, sample);
  truth = sample.population;
  StudyData data;
  data.X = std::move(sample.X);
  for (int32_t n = 0; n < settings.N; ++n) data.names.push_back(std::to_string(n + 1));
  for (int32_t l = 0; l < settings.L; ++l) data.locusNames.push_back(std::to_string(l + 1));
  return data;
}

// Copies of the same allele at the same locus shared by n with the individuals labelled k,
// over the pairs of copies observed in both.
double MeanSharing(const GenotypeTable& X, const std::vector<int32_t>& labels, int32_t n,
                   int32_t k) {
  double shared = 0.0, observed = 0.0;
  for (int32_t m = 0; m < X.N; ++m) {
    if (labels[m] != k) continue;
    for (int32_t l = 0; l < X.L; ++l) {
      const uint32_t missing = static_cast<uint32_t>(X.alleleValues[l].size());
      for (int32_t a = 0; a < X.A; ++a) {
        for (int32_t b = 0; b < X.A; ++b) {
          const uint32_t c = GenotypeCode(X, n, a, l), d = GenotypeCode(X, m, b, l);
          if (c >= missing || d >= missing) continue;
          observed += 1.0;
          shared += c == d ? 1.0 : 0.0;
        }
      }
    }
  }
  return shared / observed;
}

}  // namespace

TEST(WardSubsample, SizeIsTheLargestThatFits) {
  for (double bytes : {0.0, 7.0, 8.0, 23.0, 24.0, 1e6, 1.6e9, 4e10}) {
    const int32_t M = WardSubsampleSize(bytes);
    EXPECT_LE(WardTreeBytes(M), bytes) << bytes;
    EXPECT_GT(WardTreeBytes(M + 1.0), bytes) << bytes;
  }
  EXPECT_EQ(WardSubsampleSize(WardTreeBytes(20000)), 20000);
}

TEST(WardSubsample, TreeOfASubsampleAndTheOthersJoinedByAlleleSharing) {
  std::vector<int32_t> truth;
  const StudyData data = Separated(truth);
  StartContext context;
  context.X = &data.X;
  context.N = data.X.N;
  context.L = data.X.L;
  const StartMethod& ward = *FindStart("ward");
  const InProcessResult said = RunInProcess([&]() {
    PrepareWardTree(context, ward, {2, 3}, 7, WardTreeBytes(40) + 1.0, 1, "x.txt");
  });
  ASSERT_FALSE(said.ended) << said.err;
  EXPECT_NE(said.err.find("x.txt: the dissimilarities of all 120 individuals would take"),
            std::string::npos)
      << said.err;
  EXPECT_NE(said.err.find("random subsample of 40"), std::string::npos) << said.err;
  EXPECT_EQ(StartLabel(context, ward), "ward(subsample 40)");

  // The subsample: 40 individuals, ascending, drawn from the sweep seed's own generator.
  std::vector<int32_t> everyone(120), expected(40);
  for (int32_t n = 0; n < 120; ++n) everyone[n] = n;
  RandomGenerator rng(RunSeed(7, 0, 0));
  ChooseDraw(rng, expected.data(), 40, everyone.data(), 120);
  EXPECT_EQ(context.subsample, expected);

  for (int32_t K : {2, 3}) {
    const std::vector<int32_t>& labels = context.wardLabels.at(K);
    const std::vector<int32_t> cut = HClusteringCut(context.kept, context.absorbed, K);
    std::vector<int32_t> inSample(120, -1);
    for (int32_t i = 0; i < 40; ++i) {
      EXPECT_EQ(labels[expected[i]], cut[i]);
      inSample[expected[i]] = cut[i];
    }
    for (int32_t n = 0; n < 120; ++n) {
      if (inSample[n] >= 0) continue;
      int32_t nearest = 0;
      for (int32_t k = 1; k < K; ++k) {
        if (MeanSharing(data.X, inSample, n, k) > MeanSharing(data.X, inSample, n, nearest)) {
          nearest = k;
        }
      }
      EXPECT_EQ(labels[n], nearest) << "K " << K << " individual " << n;
    }
  }
  EXPECT_EQ(AdjustedRandIndex(context.wardLabels.at(3), truth), 1.0);
}

TEST(WardSubsample, SaidInRunsTsvAndOnlyWhereTheTreeDoesNotFit) {
  std::vector<int32_t> truth;
  const StudyData data = Separated(truth);
  for (const char* name : {"ward", "ward-anneal"}) {
    SweepSettings settings = TestSettings({1, 3}, 2);
    settings.start = name;
    for (double bytes : {WardTreeBytes(50), WardTreeBytes(120)}) {
      settings.wardMemoryBytes = bytes;
      StudyRecord study;
      const InProcessResult said = RunInProcess([&]() { study = RunStudy(settings, data); });
      ASSERT_FALSE(said.ended) << said.err;
      std::string field = std::string("\t").append(name);
      if (bytes < WardTreeBytes(120)) field.append("(subsample 50)");
      field.append("\t");
      EXPECT_EQ(said.err.empty(), bytes >= WardTreeBytes(120)) << said.err;
      const std::string dir = ScratchDir() + "/subsample-" + std::string(name) + "-" +
                              std::to_string(static_cast<int64_t>(bytes));
      WriteStudyFiles(study, dir);
      const std::vector<std::string> lines = SplitLines(ReadFile(dir + "/runs.tsv"));
      ASSERT_EQ(lines.size(), 5u);
      for (size_t i = 1; i < lines.size(); ++i) {
        EXPECT_NE(lines[i].find(field), std::string::npos) << lines[i];
      }
      const RunRecord& best = study.runs[study.summaries[1].best];
      std::vector<int32_t> assigned(120);
      for (int32_t n = 0; n < 120; ++n) {
        double membership = 0.0;
        assigned[n] = AssignedCluster(best.Q[n].data(), best.order, membership);
      }
      EXPECT_EQ(AdjustedRandIndex(assigned, truth), 1.0) << name;
    }
  }
  // Memory for fewer individuals than K: one line, exit 1.
  SweepSettings settings = TestSettings({3}, 1);
  settings.start = "ward";
  settings.wardMemoryBytes = WardTreeBytes(2);
  const InProcessResult refused = RunInProcess([&]() { RunStudy(settings, data); });
  EXPECT_TRUE(refused.ended);
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_NE(refused.err.find("fewer than K = 3; use --start kmeans"), std::string::npos)
      << refused.err;
}

TEST(WardStart, TreeOnSharingOverObservedCopies) {
  // The ward start of the study command is no longer the classic -mc start where genotypes are
  // missing: its tree is Ward's on ObservedSharingDistance. A fifth of the individuals miss
  // 60-70 % of their loci, the same loci (one batch): the cut still follows the populations.
  PopulationSampleSettings settings;
  settings.N = 120, settings.L = 30, settings.K = 3, settings.Fst = 0.3;
  settings.fewestAlleles = 4, settings.mostAlleles = 10;
  settings.batches = 1, settings.heavyShare = 0.2;
  settings.heavyMissing[0] = 0.6, settings.heavyMissing[1] = 0.7;
  RandomGenerator rng(17);
  PopulationSample sample;
  SimulatePopulationSample(settings, rng, sample);
  StartContext context;
  context.X = &sample.X;
  context.N = 120;
  context.L = 30;
  PrepareWardTree(context, *FindStart("ward"), {3}, 7, 0.0, 2, "x.txt");
  CondensedDistances D = ObservedSharingDistance(sample.X, 1);
  std::vector<int32_t> kept, absorbed;
  HClusteringEngine(120, D, 6, kept, absorbed);
  EXPECT_EQ(context.kept, kept);
  EXPECT_EQ(context.absorbed, absorbed);
  EXPECT_EQ(AdjustedRandIndex(HClusteringCut(kept, absorbed, 3), sample.population), 1.0);
}
