// Reading and writing the genotype data file: layout variants, round trips and the
// one-line failures for files that do not hold the table they are said to hold.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <gsl/gsl_rng.h>

#include <string>

#include "data/genotype_file.h"
#include "run_program.h"

namespace {

GenotypeTable Zeros(int32_t N, int32_t A, int32_t L) {
  GenotypeTable X;
  InitVctr3D(X, N, A, L, 0);
  return X;
}

class GenotypeFile : public testing::Test {
 protected:
  void SetUp() override { dir_ = MakeTempDir(); }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  GenotypeTable Load(const std::string& text, int32_t N, int32_t A, int32_t L, int32_t r = 0,
                     int32_t c = 0) {
    WriteFile(Path("in.txt"), text);
    GenotypeTable X = Zeros(N, A, L);
    EXPECT_TRUE(LoadGenotypeDataFromStructureFile(Path("in.txt"), X, N, A, L, r, c));
    return X;
  }
  std::string dir_;
};

const GenotypeTable kTwoByTwoByThree = {{{1, 2, 3}, {4, 5, 6}}, {{-9, 8, 9}, {10, 11, -12}}};

}  // namespace

TEST_F(GenotypeFile, LayoutsThatReadTheSame) {
  // Plain rows, LF line ends.
  EXPECT_EQ(Load("1 2 3\n4 5 6\n-9 8 9\n10 11 -12\n", 2, 2, 3), kTwoByTwoByThree);
  // CR LF, tabs, records split over lines, no final line end.
  EXPECT_EQ(Load("1\t2\r\n3 4 5 6\r\n-9 8 9 10\t11 -12", 2, 2, 3), kTwoByTwoByThree);
  // Header rows (one of them numbers, one very long) and two label columns.
  const std::string longHeader(100000, 'M');
  EXPECT_EQ(Load("1 2 3 4\n" + longHeader + "\n"
                 "ind1 1 1 2 3\nind1 1 4 5 6\nind-2 +2 -9 8 9\nind-2 +2 10 11 -12\n",
                 2, 2, 3, 2, 2),
            kTwoByTwoByThree);
  // One row per individual, both copies side by side, read with no label columns.
  EXPECT_EQ(Load("1 2 3 4 5 6\n-9 8 9 10 11 -12\n", 2, 2, 3), kTwoByTwoByThree);
  // Anything after the last record is ignored.
  EXPECT_EQ(Load("1 2 3 4 5 6 -9 8 9 10 11 -12 junk\n", 2, 2, 3), kTwoByTwoByThree);
  // The extreme 32-bit values.
  EXPECT_EQ(Load("-2147483648 2147483647\n", 1, 1, 2),
            (GenotypeTable{{{-2147483647 - 1, 2147483647}}}));
}

TEST_F(GenotypeFile, HeaderRowOfExactlyBufferLength) {
  const std::string header(10239, 'h');
  EXPECT_EQ(Load(header + "\n7 8\n", 1, 1, 2, 1), (GenotypeTable{{{7, 8}}}));
}

TEST_F(GenotypeFile, WriterLayoutAndRoundTrip) {
  ASSERT_TRUE(SaveGenotypeDataToStructureFile(Path("out.txt"), kTwoByTwoByThree));
  EXPECT_EQ(ReadFile(Path("out.txt")), "1\t2\t3\t\n4\t5\t6\t\n-9\t8\t9\t\n10\t11\t-12\t\n");

  // A larger random table, written and read back.
  gsl_rng* g = gsl_rng_alloc(gsl_rng_mt19937);
  GenotypeTable X = Zeros(300, 3, 40);
  for (auto& individual : X)
    for (auto& copy : individual)
      for (int32_t& v : copy)
        v = static_cast<int32_t>(static_cast<int64_t>(gsl_rng_get(g)) - 2147483648LL);
  gsl_rng_free(g);
  ASSERT_TRUE(SaveGenotypeDataToStructureFile(Path("big.txt"), X));
  GenotypeTable back = Zeros(300, 3, 40);
  ASSERT_TRUE(LoadGenotypeDataFromStructureFile(Path("big.txt"), back, 300, 3, 40, 0, 0));
  EXPECT_EQ(back, X);
  EXPECT_EQ(SplitLines(ReadFile(Path("big.txt"))).size(), 900u);
}

TEST_F(GenotypeFile, BadFilesEndTheRunWithOneLine) {
  struct Case {
    std::string text;
    int32_t r, c;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"1 2 3\n4 5 6\n-9 8", 0, 0,
       "Unexpected end of data at individual 2, copy 1, locus 3 in file IN at line 3"},
      {"a 1 2 3\nb 4 5 6\nc", 0, 1,
       "Unexpected end of data at individual 2, copy 1, locus 1 in file IN at line 3"},
      {"h\n1 2 3\n4 5 6\n", 3, 0,
       "Unexpected end of data at individual 1, copy 1, locus 1 in file IN at line 4"},
      {"", 0, 1, "Unexpected end of data at individual 1, copy 1, label column 1 in file IN at line 1"},
      {"1 2 3\n4 x5 6\n", 0, 0,
       "Allele value \"x5\" is not an integer at individual 1, copy 2, locus 2 in file IN at line 2"},
      {"1 2 3\n4 5 6\n7 8 9.5\n", 0, 0,
       "Allele value \"9.5\" is not an integer at individual 2, copy 1, locus 3 in file IN at line 3"},
      {"1 2 - 4\n", 0, 0,
       "Allele value \"-\" is not an integer at individual 1, copy 1, locus 3 in file IN at line 1"},
      {"1 2147483648 3\n", 0, 0,
       "Allele value \"2147483648\" is outside the 32-bit range at individual 1, copy 1, locus 2 "
       "in file IN at line 1"},
      {"1 2 -99999999999999999999\n", 0, 0,
       "Allele value \"-99999999999999999999\" is outside the 32-bit range at individual 1, copy "
       "1, locus 3 in file IN at line 1"},
  };
  for (const Case& c : cases) {
    WriteFile(Path("bad.txt"), c.text);
    std::string expected = c.message;
    expected.replace(expected.find("IN"), 2, Path("bad.txt"));
    expected += " - LoadGenotypeDataFromStructureFile\n";
    EXPECT_EXIT(
        {
          GenotypeTable X = Zeros(2, 2, 3);
          LoadGenotypeDataFromStructureFile(Path("bad.txt"), X, 2, 2, 3, c.r, c.c);
        },
        testing::ExitedWithCode(1), testing::HasSubstr(expected))
        << c.text;
  }
}

TEST_F(GenotypeFile, OpenFailuresNameTheRoutine) {
  EXPECT_EXIT(
      {
        GenotypeTable X = Zeros(1, 1, 1);
        LoadGenotypeDataFromStructureFile(Path("missing.txt"), X, 1, 1, 1, 0, 0);
      },
      testing::ExitedWithCode(1),
      "^Cannot open file " + Path("missing.txt") + " - LoadGenotypeDataToStructureFile\n$");
  EXPECT_EXIT(
      {
        GenotypeTable X;
        LoadGenotypeDataFromStructureFile(Path("missing.txt"), X, 1, 1, 1, 0, 0);
      },
      testing::ExitedWithCode(1), "^Uninitialized X - LoadGenotypeDataFromStructureFile\n$");
  EXPECT_EXIT(SaveGenotypeDataToStructureFile(Path("no/such/folder.txt"), kTwoByTwoByThree),
              testing::ExitedWithCode(1),
              "^Cannot open file " + Path("no/such/folder.txt") +
                  " - SaveGenotypeDataToStructureFile\n$");
}

TEST_F(GenotypeFile, LoadRunThroughTheProgram) {
  WriteFile(Path("x.str"), "a 1 2 3\na 4 5 6\nb -9 8 9\nb 10 11 -12\n");
  const ProgramResult r =
      RunProgram({"-Dl", "-Fx.str", "-i" + dir_, "-N2", "-A2", "-L3", "-K2", "-I5", "-c1"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const ProgramResult missing =
      RunProgram({"-Dl", "-Fnone.str", "-i" + dir_, "-N2", "-A2", "-L3", "-K2", "-I5"});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_EQ(missing.err,
            "Cannot open file " + dir_ + "/none.str - LoadGenotypeDataToStructureFile\n");
}
