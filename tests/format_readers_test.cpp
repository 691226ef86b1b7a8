// GENEPOP, VCF and PLINK files and the populations file as the study command reads them,
// every bad input of the list ending the run with its one line, and a folder given as the
// input (to both commands).
#include <gtest/gtest.h>
#include <omp.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "data/bed_tile.h"
#include "run_program.h"
#include "study_input_helpers.h"

namespace {

class FormatReaders : public ReaderFilesTest {
 protected:
  // The one error line of reading path, or "read" when it reads.
  std::string ErrorOf(const std::string& path, const ReaderOptions& options = ReaderOptions()) {
    const StudyRead read = ReadInProcess(path, options);
    if (read.ok) return "read";
    EXPECT_EQ(read.exitCode, 1);
    EXPECT_EQ(read.out, "");
    return read.err;
  }
};

// .bed bytes for genotypes[l][n] (0..3 as the .bed codes them), variant-major.
std::string BedBytes(const std::vector<std::vector<int>>& genotypes) {
  std::string bytes = "\x6c\x1b\x01";
  for (const auto& variant : genotypes) {
    const size_t N = variant.size();
    for (size_t n = 0; n < N; n += 4) {
      int byte = 0;
      for (size_t i = 0; i < 4 && n + i < N; ++i) byte |= variant[n + i] << (2 * i);
      bytes.push_back(static_cast<char>(byte));
    }
  }
  return bytes;
}

TEST_F(FormatReaders, Genepop) {
  // Tables written out by hand from the genotypes of each text (missing copies read back
  // as 0, GENEPOP's own code).
  const std::string twoBlocks =
      "Title line\nLoc1, Loc2,Loc3\nPop\nA1 , 102104 210210 000000\nA2 ,102102\t212000 305305\n"
      "POP\nB1 , 104104 210212 305301\n";
  StudyRead read = ReadInProcess(Write("a.gen", twoBlocks));
  ASSERT_TRUE(read.ok) << read.err;
  EXPECT_EQ(read.data.detected,
            "GENEPOP: 3 individuals, 3 loci, diploid, 2 populations, 3 digits per copy, 3 missing "
            "copies (000)");
  EXPECT_EQ(TableText(read.data),
            "A1 A1 | 102 210 0 | 104 210 0\nA2 A1 | 102 212 305 | 102 0 305\n"
            "B1 B1 | 104 210 305 | 104 212 301\n");
  EXPECT_EQ(read.data.locusNames, (std::vector<std::string>{"Loc1", "Loc2", "Loc3"}));

  // One locus name a line, haploid, two digits, "pop", a name with a blank, no name, and a
  // .txt name: told from the content.
  read = ReadInProcess(Write("b.txt", "my data\nlocA\nlocB\r\npop\n ind one , 01 02\n , 03 00\n"));
  ASSERT_TRUE(read.ok) << read.err;
  EXPECT_EQ(read.data.detected,
            "GENEPOP: 2 individuals, 2 loci, haploid, 1 population, 2 digits per copy, 1 missing "
            "copy (00)");
  EXPECT_EQ(TableText(read.data), "ind one ind one | 1 2\n2 ind one | 3 0\n");
  EXPECT_EQ(read.data.format, "GENEPOP");
}

TEST_F(FormatReaders, Vcf) {
  const std::string header =
      "##fileformat=VCFv4.2\n##contig=<ID=1>\n"
      "##FORMAT=<ID=GT,Number=1,Type=String,Description=\"Genotype\">\n"
      "#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT\ts1\ts2\ts3\n";
  const std::string path = Write("v.vcf", header +
                                              "1\t10\trs1\tA\tG\t.\t.\t.\tGT\t0|1\t1|1\t.\n"
                                              "1\t20\t.\tAT\tA,ATT,C\t.\t.\t.\tGT\t1/2\t3/0\t./.\n"
                                              "1\t30\trs3\tC\tT\t.\t.\t.\tGT\t0/0\t./1\t0/0\n");
  const StudyRead read = ReadInProcess(path);
  ASSERT_TRUE(read.ok) << read.err;
  // Site 2: A = 1 and C = 2 as bases, AT = 5 and ATT = 6 in byte order; "." for a diploid
  // sample is two missing copies.
  EXPECT_EQ(TableText(read.data),
            "s1 - | 1 1 2 | 3 6 2\ns2 - | 3 2 -9 | 3 5 4\ns3 - | -9 -9 2 | -9 -9 2\n");
  EXPECT_EQ(read.data.locusNames, (std::vector<std::string>{"rs1", "1:20", "rs3"}));
  EXPECT_EQ(read.data.alleleNames[1], (std::vector<std::string>{"A", "C", "AT", "ATT"}));
  EXPECT_EQ(read.data.detected,
            "VCF: 3 individuals, 3 loci (1 multi-allelic), diploid, partly phased, 27.8% of "
            "copies missing");

  // Haploid calls read as one copy each; a header that defines neither the contig nor GT
  // reads as htslib and bcftools take it.
  const StudyRead haploid =
      ReadInProcess(Write("h.vcf",
                          "##fileformat=VCFv4.2\n#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\t"
                          "FORMAT\ts1\ts2\ts3\n1\t10\trs1\tA\tG\t.\t.\t.\tGT\t0\t1\t.\n"));
  ASSERT_TRUE(haploid.ok) << haploid.err;
  EXPECT_EQ(TableText(haploid.data), "s1 - | 1\ns2 - | 3\ns3 - | -9\n");
}

TEST_F(FormatReaders, PlinkFilesetByAnyOfItsNames) {
  // Variant 1: A1 = G, A2 = A (values 3 and 1, so A2 takes code 0); variant 2 only ever A1;
  // variant 3 all missing. Genotypes by individual: 0 = A1 A1, 1 missing, 2 het, 3 = A2 A2.
  const std::vector<std::vector<int>> genotypes = {
      {0, 2, 3, 1, 2}, {0, 1, 0, 0, 0}, {1, 1, 1, 1, 1}};
  Write("p.bed", BedBytes(genotypes));
  Write("p.bim", "1 v1 0 10 G A\n1 v2 0 20 C T\n1 . 0 30 A C\n");
  Write("p.fam", "f1 i1 0 0 1 -9\nf1 i2 0 0 1 -9\nf2 i3 0 0 2 -9\nf2 i4 0 0 2 -9\nf2 i5 0 0 1\n");
  // A heterozygote is copy 0 A2, copy 1 A1, as plink's VCF export writes it.
  const std::string table =
      "i1 f1 | 3 2 -9 | 3 2 -9\ni2 f1 | 1 -9 -9 | 3 -9 -9\ni3 f2 | 1 2 -9 | 1 2 -9\n"
      "i4 f2 | -9 2 -9 | -9 2 -9\ni5 f2 | 1 2 -9 | 3 2 -9\n";
  for (const std::string name : {"p.bed", "p.bim", "p.fam", "p"}) {
    const StudyRead read = ReadInProcess(dir_ + "/" + name);
    ASSERT_TRUE(read.ok) << name << ": " << read.err;
    EXPECT_EQ(TableText(read.data), table) << name;
  }
  const StudyRead read = ReadInProcess(dir_ + "/p");
  EXPECT_EQ(read.data.detected,
            "PLINK: 5 individuals, 3 loci, diploid, 2 populations (family IDs)");
  EXPECT_EQ(read.data.locusNames, (std::vector<std::string>{"v1", "v2", "1:30"}));
  EXPECT_EQ(read.data.alleleNames, (std::vector<std::vector<std::string>>{{"A", "G"}, {"C"}, {}}));
}

TEST_F(FormatReaders, BedReadsAsTheGenotypeRuleForAnyThreadCount) {
  // Sizes around every boundary of the reader: bytes, words, tile pairs, blocks.
  const std::vector<std::pair<int, int>> shapes = {{1, 1},    {3, 33},   {63, 511},
                                                   {64, 512}, {65, 513}, {130, 1100}};
  std::mt19937 bits(5150);
  static const char* kAlleles[] = {"A", "C", "G", "T", "AT", "0"};
  for (const auto& [N, L] : shapes) {
    std::vector<std::vector<int>> genotypes(L, std::vector<int>(N));
    std::string bim, fam;
    std::vector<std::pair<std::string, std::string>> alleles;
    for (int l = 0; l < L; ++l) {
      // Some variants show only some genotypes: monomorphic, all missing, one allele.
      const int allowed = static_cast<int>(bits() % 16) | (l % 7 == 0 ? 0 : 1);
      for (int& g : genotypes[l]) {
        do g = static_cast<int>(bits() % 4);
        while (!(allowed >> g & 1) && allowed != 0);
        if (allowed == 0) g = 1;
      }
      alleles.emplace_back(kAlleles[bits() % 6], kAlleles[bits() % 6]);
      bim += "1\tv" + std::to_string(l) + "\t0\t" + std::to_string(l) + "\t" + alleles[l].first +
             "\t" + alleles[l].second + "\n";
    }
    for (int n = 0; n < N; ++n) fam += "f i" + std::to_string(n) + " 0 0 0 -9\n";
    Write("r.bed", BedBytes(genotypes));
    Write("r.bim", bim);
    Write("r.fam", fam);
    std::vector<std::string> tables;
    for (const int threads : {1, 2, 3, 8}) {
      omp_set_num_threads(threads);
      const StudyRead read = ReadInProcess(dir_ + "/r.bed");
      ASSERT_TRUE(read.ok) << read.err;
      const GenotypeTable& X = read.data.X;
      tables.push_back(
          std::string(reinterpret_cast<const char*>(X.words.data()), X.words.size() * 8));
      if (threads > 1) {
        EXPECT_EQ(tables.back(), tables.front()) << N << "x" << L << ", " << threads << " threads";
        continue;
      }
      // The literal rule: the observed alleles' values in ascending order give the codes.
      for (int l = 0; l < L; ++l) {
        bool seen1 = false, seen2 = false;
        for (const int g : genotypes[l]) {
          seen1 = seen1 || g == 0 || g == 2;
          seen2 = seen2 || g == 3 || g == 2;
        }
        auto value = [](const std::string& a) {
          return a == "A" ? 1 : a == "C" ? 2 : a == "G" ? 3 : a == "T" ? 4 : a == "0" ? 5 : 6;
        };
        int v1 = value(alleles[l].first), v2 = value(alleles[l].second);
        if (v1 >= 5 && v2 >= 5 && v1 != v2 && seen1 != seen2) v1 = v2 = 5;  // one other allele
        BedLocusKind kind = BedLocusKind::kNone;
        if (seen1 && seen2 && v1 != v2)
          kind = v1 < v2 ? BedLocusKind::kTwo : BedLocusKind::kSwapped;
        else if (seen1 || seen2)
          kind = BedLocusKind::kSingle;
        for (int n = 0; n < N; ++n) {
          uint32_t c0 = 0, c1 = 0;
          CodeBedGenotype(static_cast<uint32_t>(genotypes[l][n]), kind, c0, c1);
          ASSERT_EQ(GenotypeCode(X, n, 0, l), c0) << N << "x" << L << " n " << n << " l " << l;
          ASSERT_EQ(GenotypeCode(X, n, 1, l), c1) << N << "x" << L << " n " << n << " l " << l;
        }
      }
    }
  }
  omp_set_num_threads(omp_get_num_procs());
}

TEST_F(FormatReaders, PopulationsFile) {
  const std::string str = Write("s.str", "a 1 102\na 1 104\nb 2 102\nb 2 106\n");
  ReaderOptions options;
  options.labelColumns = 2;
  options.populationsFile = Write("pops.tsv", "b\tnorth \r\nname\tpopulation\n\na\tsouth\n");
  StudyRead read = ReadInProcess(str, options);
  ASSERT_TRUE(read.ok) << read.err;
  EXPECT_EQ(read.data.populations, (std::vector<std::string>{"south", "north"}));

  struct Bad {
    std::string text, line;
  };
  const std::vector<Bad> cases = {
      {"a\tsouth\n", "expected a population for every individual, found none for 1 of 2: b"},
      {"a south\n",
       "line 1: expected two tab-separated columns (name, population), found one: "
       "\"a south\""},
      {"a\tx\tsouth\n",
       "line 1: expected two tab-separated columns (name, population), found more"},
      {"a\tx\nb\ty\na\tz\n",
       "line 3: expected one population for a, found \"z\" here and \"x\" on "
       "line 1"},
  };
  for (const Bad& c : cases) {
    options.populationsFile = Write("bad.tsv", c.text);
    EXPECT_EQ(ErrorOf(str, options),
              "emclade-sweep: " + options.populationsFile + ": " + c.line + "\n");
  }
}

TEST_F(FormatReaders, BadInputsEndWithOneLine) {
  const std::string vcfHeader =
      "##fileformat=VCFv4.2\n##contig=<ID=1>\n"
      "##FORMAT=<ID=GT,Number=1,Type=String,Description=\"Genotype\">\n"
      "##FORMAT=<ID=DP,Number=1,Type=Integer,Description=\"Depth\">\n"
      "#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT\ts1\ts2\n";
  const std::vector<std::vector<int>> genotypes = {{0, 2, 3, 1, 2}, {0, 1, 0, 0, 0}};
  const std::string bed = BedBytes(genotypes);  // 3 + 2 x 2 bytes
  Write("x.bim", "1 v1 0 10 G A\n1 v2 0 20 C T\n");
  Write("x.fam", "f i1 0 0 1 -9\nf i2 0 0 1 -9\nf i3 0 0 1 -9\nf i4 0 0 1 -9\nf i5 0 0 1 -9\n");
  Write("y.bim", "1 v1 0 10 G A\n1 v2 0 20 C T\n");
  Write("y.fam",
        "f i1 0 0 1 -9\nf i2 0 0 1 -9\nf i3 0 0 1 -9\nf i4 0 0 1 -9\nf i5 0 0 1 -9\n"
        "f i6 0 0 1 -9\nf i7 0 0 1 -9\nf i8 0 0 1 -9\nf i9 0 0 1 -9\n");
  Write("y.bed", bed);
  Write("z.fam", "f i1 0 0 1 -9\n");
  Write("z.bim", "1 v1 0 10 G\n");
  Write("z.bed", "\x6c\x1b\x01\x00");
  std::filesystem::create_directories(dir_ + "/folder");
  for (const char* prefix : {"m", "i"}) {
    Write(std::string(prefix) + ".bim", "1 v1 0 10 G A\n1 v2 0 20 C T\n");
    Write(std::string(prefix) + ".fam", ReadFile(dir_ + "/x.fam"));
  }
  struct Bad {
    const char* name;
    std::string path;  // the input
    std::string line;  // the whole error line
  };
  const std::string d = dir_ + "/";
  const std::vector<Bad> cases = {
      {"a .bed shorter than .bim x .fam", Write("x.bed", bed.substr(0, 6)),
       "emclade-sweep: " + d + "x.bed: byte 6: expected 7 bytes (3 + 2 variants in " + d +
           "x.bim x 2 bytes for the 5 individuals in " + d + "x.fam), the file ends after 6 bytes"},
      {"a wrong magic number", Write("m.bed", "\x6c\x1c\x01" + bed.substr(3)),
       "emclade-sweep: " + d +
           "m.bed: byte 0: expected the PLINK .bed magic bytes 6c 1b 01, found "
           "6c 1c 01"},
      {"an individual-major .bed",
       Write("i.bed", "\x6c\x1b" + std::string(1, '\0') + bed.substr(3)),
       "emclade-sweep: " + d +
           "i.bed: byte 2: expected 01 (variant-major, as plink 1.9 and 2 "
           "write), found 00 (individual-major: write it again with plink "
           "--make-bed)"},
      {"a .fam / .bed sample mismatch", d + "y.bed",
       "emclade-sweep: " + d +
           "y.bed: byte 7: expected 3 bytes per variant for the 9 individuals "
           "of " +
           d +
           "y.fam, found 2 (5 to 8 individuals): the .fam and the "
           ".bed disagree"},
      {"a .bim line of five columns", d + "z.bed",
       "emclade-sweep: " + d +
           "z.bim: line 1: expected 6 columns (chromosome, variant, cM, "
           "position, allele 1, allele 2), found 5"},
      {"a VCF without GT",
       Write("nogt.vcf",
             "##fileformat=VCFv4.2\n##contig=<ID=1>\n"
             "##FORMAT=<ID=DP,Number=1,Type=Integer,Description=\"Depth\">\n"
             "#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT\ts1\n"
             "1\t5\t.\tA\tC\t.\t.\t.\tDP\t4\n"),
       "emclade-sweep: " + d +
           "nogt.vcf: record 1 (1:5): expected a GT field (genotypes), the record "
           "has none"},
      {"a VCF record without GT",
       Write("recgt.vcf", vcfHeader + "1\t5\t.\tA\tC\t.\t.\t.\tGT\t0/1\t1/1\n"
                                      "1\t6\t.\tA\tC\t.\t.\t.\tDP\t3\t4\n"),
       "emclade-sweep: " + d +
           "recgt.vcf: record 2 (1:6): expected a GT field (genotypes), the "
           "record has none"},
      {"a VCF of mixed ploidy",
       Write("mixed.vcf", vcfHeader + "1\t5\t.\tA\tC\t.\t.\t.\tGT\t0/1\t1/1\n"
                                      "1\t6\t.\tA\tC\t.\t.\t.\tGT\t0/1\t1\n"),
       "emclade-sweep: " + d +
           "mixed.vcf: record 2 (1:6): expected 2 alleles per call like "
           "record 1, sample s2 has 1 (every sample and record needs the same "
           "ploidy)"},
      {"a GENEPOP line with a wrong number of genotypes",
       Write("few.gen", "t\nL1,L2\nPop\na , 0101 0202\nb , 0101\n"),
       "emclade-sweep: " + d + "few.gen: line 5: expected 2 genotypes (one per locus), found 1"},
      {"a GENEPOP genotype of other digits",
       Write("digits.gen", "t\nL1,L2\nPop\na , 0101 0202\nb , 0101 022\n"),
       "emclade-sweep: " + d +
           "digits.gen: line 5: locus 2 (L2): expected a genotype of 4 digits "
           "like line 4, found \"022\""},
      {"a STRUCTURE file whose rows disagree in length",
       Write("rows.str", "a 1 2 3\na 1 2 3\nb 1 2 3\nb 1 2\n"),
       "emclade-sweep: " + d +
           "rows.str: line 4: expected 4 columns like line 1, found 3 (rows "
           "disagree in length)"},
      {"a folder", d + "folder",
       "emclade-sweep: " + d +
           "folder: a folder, expected a genotype file (STRUCTURE, GENEPOP, "
           "VCF, BCF or PLINK .bed)"},
      {"a file that is not there", d + "none.str",
       "emclade-sweep: " + d + "none.str: cannot open the file (No such file or directory)"},
  };
  for (const Bad& c : cases) EXPECT_EQ(ErrorOf(c.path), c.line + "\n") << c.name;
  ReaderOptions headerRows;
  headerRows.headerRows = 1;
  EXPECT_EQ(ErrorOf(d + "recgt.vcf", headerRows),
            "emclade-sweep: " + d +
                "recgt.vcf: --header-rows applies to STRUCTURE text, found a "
                "VCF/BCF file\n");
}

// A folder is refused as a file that cannot be opened, in the classic command's own words
// (read, it would pass for an empty file).
TEST_F(FormatReaders, ClassicCommandRefusesAFolderAsInput) {
  std::filesystem::create_directories(dir_ + "/data.str");
  const ProgramResult r =
      RunProgram({"-Dl", "-Fdata.str", "-i" + dir_, "-N2", "-A2", "-L3", "-K2", "-I5"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "Cannot open file " + dir_ + "/data.str - LoadGenotypeDataToStructureFile\n");
  EXPECT_EQ(r.out, "");
}

}  // namespace
