// emclade-sweep project through the executable: a study's own individuals projected onto its
// best run get its memberships back (mixture: the same bytes; admixture: within 1e-4), on any
// thread count; loci matched by name whatever their order; bad studies and inputs refused.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "data/population_sample.h"
#include "run_program.h"

namespace {

// STRUCTURE text of sample (one row per copy, a header of locus names): the loci in `loci`
// order, named "L<l>", with `extra` more loci named "new<i>" at the end.
std::string StructureText(const PopulationSample& sample, const std::vector<int32_t>& loci,
                          int32_t extra) {
  const GenotypeTable& X = sample.X;
  std::string text;
  for (int32_t l : loci) text.append("L").append(std::to_string(l)).append(" ");
  for (int32_t i = 0; i < extra; ++i) text.append("new").append(std::to_string(i)).append(" ");
  text.back() = '\n';
  std::vector<int32_t> row(X.L);
  for (int32_t n = 0; n < X.N; ++n) {
    for (int32_t a = 0; a < X.A; ++a) {
      DecodeGenotypeRow(X, n, a, row.data());
      text.append("ind").append(std::to_string(n));
      for (int32_t l : loci) text.append(" ").append(std::to_string(row[l]));
      for (int32_t i = 0; i < extra; ++i) text.append(" ").append(std::to_string(1 + (n + i) % 2));
      text += '\n';
    }
  }
  return text;
}

PopulationSample Sample(int32_t N, int32_t L, double admixed) {
  PopulationSampleSettings settings;
  settings.N = N;
  settings.L = L;
  settings.K = 3;
  settings.fewestAlleles = settings.mostAlleles = 2;
  settings.Fst = 0.15;
  settings.admixedShare = admixed;
  RandomGenerator rng(11);
  PopulationSample sample;
  SimulatePopulationSample(settings, rng, sample);
  return sample;
}

ProgramResult Sweep(const std::string& dir, std::vector<std::string> args) {
  return RunProgram(args, dir, 120.0, EMCLADE_SWEEP_EXE);
}

// VCF text of sample (unphased GT), locus l named "s<l>" with REF A and ALT G, the first
// allele value as REF; swapped: REF G and ALT A, every genotype's codes exchanged.
std::string VcfText(const PopulationSample& sample, bool swapped) {
  const GenotypeTable& X = sample.X;
  std::string text = "##fileformat=VCFv4.2\n#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT";
  for (int32_t n = 0; n < X.N; ++n) text += "\tind" + std::to_string(n);
  text += '\n';
  for (int32_t l = 0; l < X.L; ++l) {
    text += "1\t" + std::to_string(100 + l) + "\ts" + std::to_string(l) +
            (swapped ? "\tG\tA" : "\tA\tG") + "\t.\tPASS\t.\tGT";
    for (int32_t n = 0; n < X.N; ++n) {
      for (int32_t a = 0; a < 2; ++a) {
        const bool first = GenotypeCode(X, n, a, l) == 0;
        text += a == 0 ? '\t' : '/';
        text += first != swapped ? '0' : '1';
      }
    }
    text += '\n';
  }
  return text;
}

double LargestDifference(const std::string& a, const std::string& b) {
  std::istringstream x(a), y(b);
  double largest = 0.0, u = 0.0, v = 0.0;
  int64_t values = 0;
  while (x >> u && y >> v) largest = std::max(largest, std::abs(u - v)), ++values;
  return values > 0 && !(x >> u) && !(y >> v) ? largest : 1.0;
}

}  // namespace

TEST(Projection, OwnIndividualsGetTheirMembershipsBack) {
  struct Case {
    const char* model;
    double admixed;
    double within;  // 0: the same bytes
  };
  for (const Case& c : {Case{"mixture", 0.0, 0.0}, Case{"admixture", 1.0, 1e-4}}) {
    SCOPED_TRACE(c.model);
    const std::string dir = MakeTempDir();
    const PopulationSample sample = Sample(60, 150, c.admixed);
    std::vector<int32_t> loci(150), reversed;
    for (int32_t l = 0; l < 150; ++l) loci[l] = l;
    reversed.assign(loci.rbegin(), loci.rend());
    WriteFile(dir + "/study.str", StructureText(sample, loci, 0));
    WriteFile(dir + "/other.str", StructureText(sample, reversed, 2));
    const ProgramResult sweep =
        Sweep(dir, {"study.str", "--k", "3", "--replicates", "2", "--model", c.model, "--tolerance",
                    "1e-8", "--search", "none", "--out", "study", "--quiet"});
    ASSERT_EQ(sweep.exitCode, 0) << sweep.err;
    const std::string best = ReadFile(dir + "/study/best/K3.Q");
    for (const char* threads : {"1", "3"}) {
      const ProgramResult project =
          Sweep(dir, {"project", "study", "study.str", "--k", "3", "--out",
                      std::string("p") + threads, "--threads", threads});
      ASSERT_EQ(project.exitCode, 0) << project.err;
      EXPECT_EQ(project.err, "");
      const std::string Q = ReadFile(dir + "/p" + threads + "/K3.Q");
      if (c.within == 0.0) {
        EXPECT_EQ(Q, best);
      }
      EXPECT_LE(LargestDifference(Q, best), c.within);
      EXPECT_EQ(Q, ReadFile(dir + "/p1/K3.Q"));  // the same bytes on any thread count
    }
    EXPECT_EQ(SplitLines(ReadFile(dir + "/p1/individuals.tsv")).size(), 61u);
    // The loci the other way round and two the study lacks, said in one line.
    const ProgramResult other =
        Sweep(dir, {"project", "study", "other.str", "--k", "3", "--out", "po"});
    ASSERT_EQ(other.exitCode, 0) << other.err;
    EXPECT_NE(other.err.find("2 of the 152 loci"), std::string::npos) << other.err;
    EXPECT_EQ(SplitLines(other.err).size(), 1u);
    EXPECT_LE(LargestDifference(ReadFile(dir + "/po/K3.Q"), best), 1e-4);
  }
}

TEST(Projection, RefusesWhatItCannotProject) {
  const std::string dir = MakeTempDir();
  const PopulationSample sample = Sample(30, 20, 0.0);
  std::vector<int32_t> loci(20);
  for (int32_t l = 0; l < 20; ++l) loci[l] = l;
  WriteFile(dir + "/study.str", StructureText(sample, loci, 0));
  WriteFile(dir + "/none.str", StructureText(sample, {}, 3));
  ASSERT_EQ(Sweep(dir, {"study.str", "--k", "2", "--replicates", "1", "--out", "study", "--quiet"})
                .exitCode,
            0);
  struct Case {
    std::vector<std::string> args;
    const char* says;
  };
  const std::vector<Case> cases = {
      {{"project", ".", "study.str", "--k", "2"}, "not the folder of a sweep"},
      {{"project", "study", "study.str", "--k", "3"}, "the study has no K = 3"},
      {{"project", "study", "none.str", "--k", "2"}, "no locus in common"},
  };
  for (const Case& c : cases) {
    const ProgramResult result = Sweep(dir, c.args);
    EXPECT_EQ(result.exitCode, 1) << c.says;
    EXPECT_EQ(SplitLines(result.err).size(), 1u) << result.err;
    EXPECT_NE(result.err.find(c.says), std::string::npos) << result.err;
    EXPECT_EQ(result.err.rfind("emclade-sweep: ", 0), 0u) << result.err;
  }
}

TEST(Projection, SwappedReferenceAndAlternativeAllelesProjectAlike) {
  const std::string dir = MakeTempDir();
  const PopulationSample sample = Sample(40, 120, 1.0);
  WriteFile(dir + "/study.vcf", VcfText(sample, false));
  WriteFile(dir + "/swapped.vcf", VcfText(sample, true));
  for (const char* model : {"mixture", "admixture"}) {
    SCOPED_TRACE(model);
    const std::string out = std::string("study_") + model;
    ASSERT_EQ(Sweep(dir, {"study.vcf", "--k", "2", "--replicates", "1", "--model", model, "--out",
                          out, "--quiet"})
                  .exitCode,
              0);
    for (const char* input : {"study.vcf", "swapped.vcf"}) {
      const ProgramResult project =
          Sweep(dir, {"project", out, input, "--k", "2", "--out", out + "_" + input});
      ASSERT_EQ(project.exitCode, 0) << project.err;
    }
    const std::string Q = ReadFile(dir + "/" + out + "_study.vcf/K2.Q");
    ASSERT_EQ(SplitLines(Q).size(), 40u);
    EXPECT_EQ(ReadFile(dir + "/" + out + "_swapped.vcf/K2.Q"), Q);
  }
}
