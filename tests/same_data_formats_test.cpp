// The same data in every format gives the same coded table, with the files written by the
// real tools: plink 1.9 makes a data set and writes it as .bed, VCF and STRUCTURE text,
// plink 2 writes its VCF, bcftools writes BCF and bgzipped VCF and lists the genotypes by
// base, from which STRUCTURE and GENEPOP texts of the same data are written.
#include <gtest/gtest.h>
#include <unistd.h>

#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "run_program.h"
#include "study_input_helpers.h"

namespace {

// The tool's path on PATH, or "".
std::string Tool(const std::string& name) {
  std::istringstream path(getenv("PATH") ? getenv("PATH") : "");
  std::string dir;
  while (std::getline(path, dir, ':')) {
    const std::string candidate = dir + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return "";
}

void RunTool(const std::string& tool, const std::vector<std::string>& args, const std::string& dir,
             std::string* out = nullptr) {
  const ProgramResult r = RunProgram(args, dir, 120.0, Tool(tool));
  ASSERT_EQ(r.exitCode, 0) << tool << ": " << r.err << r.out;
  if (out) *out = r.out;
}

StudyData Read(const std::string& path) {
  StudyRead read = ReadInProcess(path);
  EXPECT_TRUE(read.ok) << path << ": " << read.err;
  return read.data;
}

TEST(SameDataEveryFormat, FilesWrittenByPlinkAndBcftools) {
  for (const char* tool : {"plink1.9", "plink2", "bcftools"}) {
    if (Tool(tool).empty())
      GTEST_SKIP() << tool << " is not installed (scripts/install-deps.sh --test)";
  }
  const std::string dir = MakeTempDir();
  // 45 individuals x 300 SNPs, 5% missing, bases A/C/G/T.
  RunTool("plink1.9",
          {"--dummy", "45", "300", "0.05", "acgt", "--seed", "7", "--make-bed", "--out", "d"}, dir);
  RunTool("plink1.9", {"--bfile", "d", "--recode", "vcf", "--out", "v1"}, dir);
  RunTool("plink1.9", {"--bfile", "d", "--recode", "structure", "--out", "s"}, dir);
  RunTool("plink2", {"--bfile", "d", "--export", "vcf", "--out", "v2"}, dir);
  RunTool("bcftools", {"view", "-Ob", "-o", "v.bcf", "v1.vcf"}, dir);
  RunTool("bcftools", {"view", "-Oz", "-o", "v.vcf.gz", "v1.vcf"}, dir);
  std::string bases;
  RunTool("bcftools", {"query", "-f", "%ID[\\t%TGT]\\n", "v1.vcf"}, dir, &bases);

  const StudyData bed = Read(dir + "/d.bed");
  ASSERT_EQ(bed.X.N, 45);
  ASSERT_EQ(bed.X.L, 300);
  for (const char* file : {"v1.vcf", "v2.vcf", "v.bcf", "v.vcf.gz"}) {
    const StudyData vcf = Read(dir + "/" + file);
    EXPECT_EQ(TableDifference(vcf.X, bed.X), "") << file;
    EXPECT_EQ(vcf.alleleNames, bed.alleleNames) << file;
    EXPECT_EQ(vcf.locusNames, bed.locusNames) << file;
    for (int32_t n = 0; n < 45; ++n)
      EXPECT_EQ(vcf.names[n], bed.names[n] + "_" + bed.names[n]) << file;
  }

  // STRUCTURE and GENEPOP texts of the same genotypes, bases numbered A 1, C 2, G 3, T 4,
  // copies in GT order: the same table (GENEPOP writes its missing copies back as 0).
  std::vector<std::vector<std::string>> calls;  // [locus][individual] "G/T"
  std::istringstream lines(bases);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string field;
    calls.emplace_back();
    fields >> field;  // the variant's name
    while (fields >> field) calls.back().push_back(field);
  }
  ASSERT_EQ(calls.size(), 300u);
  const std::map<char, int> number = {{'A', 1}, {'C', 2}, {'G', 3}, {'T', 4}, {'.', 0}};
  std::string structure, genepop = "from bcftools\n";
  for (int32_t l = 0; l < 300; ++l) genepop += bed.locusNames[l] + (l < 299 ? "," : "\nPop\n");
  for (int32_t n = 0; n < 45; ++n) {
    genepop += bed.names[n] + " ,";
    for (int a = 0; a < 2; ++a) {
      structure += bed.names[n];
      for (int32_t l = 0; l < 300; ++l) {
        const int v = number.at(calls[l][n][2 * a]);
        structure += ' ';
        structure += std::to_string(v == 0 ? -9 : v);
      }
      structure += "\n";
    }
    for (int32_t l = 0; l < 300; ++l) {
      for (const int a : {0, 2}) {
        genepop += a == 0 ? " 00" : "00";
        genepop.push_back(static_cast<char>('0' + number.at(calls[l][n][a])));
      }
    }
    genepop += "\n";
  }
  WriteFile(dir + "/bases.str", structure);
  WriteFile(dir + "/bases.gen", genepop);
  const StudyData str = Read(dir + "/bases.str");
  EXPECT_EQ(TableDifference(str.X, bed.X), "");
  StudyData gen = Read(dir + "/bases.gen");
  EXPECT_EQ(gen.X.missingValue, std::vector<int32_t>(300, 0));
  gen.X.missingValue = bed.X.missingValue;
  EXPECT_EQ(TableDifference(gen.X, bed.X), "");

  // plink's own STRUCTURE export numbers the alleles of every SNP 1 for A1 and 2 for A2
  // (the .bim order, not the bases), writes a heterozygote A1 first and a missing copy as 0:
  // the same genotypes, as pairs of the named alleles.
  const StudyData plinkText = Read(dir + "/s.recode.strct_in");
  ASSERT_EQ(plinkText.X.N, 45);
  ASSERT_EQ(plinkText.X.L, 300);
  std::vector<std::vector<std::string>> bim;
  std::istringstream bimLines(ReadFile(dir + "/d.bim"));
  while (std::getline(bimLines, line)) {
    std::istringstream fields(line);
    std::string f;
    bim.emplace_back();
    while (fields >> f) bim.back().push_back(f);
  }
  for (int32_t n = 0; n < 45; ++n) {
    for (int32_t l = 0; l < 300; ++l) {
      std::multiset<std::string> fromText, fromBed;
      for (int32_t a = 0; a < 2; ++a) {
        const int32_t v = CodeValue(plinkText.X, l, GenotypeCode(plinkText.X, n, a, l));
        fromText.insert(v == 0 ? "." : bim[l][3 + v]);
        const uint32_t code = GenotypeCode(bed.X, n, a, l);
        fromBed.insert(code < bed.alleleNames[l].size() ? bed.alleleNames[l][code] : ".");
      }
      ASSERT_EQ(fromText, fromBed) << "individual " << n + 1 << ", locus " << l + 1;
    }
  }
  EXPECT_EQ(plinkText.names, bed.names);
}

}  // namespace
