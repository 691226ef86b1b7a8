// Reading and writing the genotype data file: layout variants, round trips and the
// one-line failures for files that do not hold the table they are said to hold.
#include <gmock/gmock.h>
#include <gsl/gsl_rng.h>
#include <gtest/gtest.h>

#include <string>

#include "data/allele_coding.h"
#include "data/genotype_file.h"
#include "run_program.h"

namespace {

GenotypeValues Zeros(int32_t N, int32_t A, int32_t L) {
  GenotypeValues X;
  InitVctr3D(X, N, A, L, 0);
  return X;
}

GenotypeTable Shaped(int32_t N, int32_t A, int32_t L) {
  GenotypeTable X;
  InitGenotypeTable(X, N, A, L);
  return X;
}

class GenotypeFile : public testing::Test {
 protected:
  void SetUp() override { dir_ = MakeTempDir(); }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  GenotypeValues Load(const std::string& text, int32_t N, int32_t A, int32_t L, int32_t r = 0,
                      int32_t c = 0) {
    WriteFile(Path("in.txt"), text);
    GenotypeTable X = Shaped(N, A, L);
    EXPECT_TRUE(LoadGenotypeDataFromStructureFile(Path("in.txt"), X, N, A, L, r, c));
    return DecodeGenotypeTable(X);
  }
  std::string dir_;
};

const GenotypeValues kTwoByTwoByThree = {{{1, 2, 3}, {4, 5, 6}}, {{-9, 8, 9}, {10, 11, -12}}};

}  // namespace

TEST_F(GenotypeFile, LayoutsThatReadTheSame) {
  // Plain rows, LF line ends.
  EXPECT_EQ(Load("1 2 3\n4 5 6\n-9 8 9\n10 11 -12\n", 2, 2, 3), kTwoByTwoByThree);
  // CR LF, tabs, records split over lines, no final line end.
  EXPECT_EQ(Load("1\t2\r\n3 4 5 6\r\n-9 8 9 10\t11 -12", 2, 2, 3), kTwoByTwoByThree);
  // Header rows (one of them numbers, one very long) and two label columns.
  const std::string longHeader(100000, 'M');
  EXPECT_EQ(Load("1 2 3 4\n" + longHeader +
                     "\n"
                     "ind1 1 1 2 3\nind1 1 4 5 6\nind-2 +2 -9 8 9\nind-2 +2 10 11 -12\n",
                 2, 2, 3, 2, 2),
            kTwoByTwoByThree);
  // One row per individual, both copies side by side, read with no label columns.
  EXPECT_EQ(Load("1 2 3 4 5 6\n-9 8 9 10 11 -12\n", 2, 2, 3), kTwoByTwoByThree);
  // Anything after the last record is ignored.
  EXPECT_EQ(Load("1 2 3 4 5 6 -9 8 9 10 11 -12 junk\n", 2, 2, 3), kTwoByTwoByThree);
  // The extreme 32-bit values.
  EXPECT_EQ(Load("-2147483648 2147483647\n", 1, 1, 2),
            (GenotypeValues{{{-2147483647 - 1, 2147483647}}}));
}

TEST_F(GenotypeFile, HeaderRowOfExactlyBufferLength) {
  const std::string header(10239, 'h');
  EXPECT_EQ(Load(header + "\n7 8\n", 1, 1, 2, 1), (GenotypeValues{{{7, 8}}}));
}

TEST_F(GenotypeFile, WriterLayoutAndRoundTrip) {
  ASSERT_TRUE(
      SaveGenotypeDataToStructureFile(Path("out.txt"), CodeGenotypeValues(kTwoByTwoByThree)));
  EXPECT_EQ(ReadFile(Path("out.txt")), "1\t2\t3\t\n4\t5\t6\t\n-9\t8\t9\t\n10\t11\t-12\t\n");

  // A larger random table, written and read back.
  gsl_rng* g = gsl_rng_alloc(gsl_rng_mt19937);
  GenotypeValues X = Zeros(300, 3, 40);
  for (auto& individual : X)
    for (auto& copy : individual)
      for (int32_t& v : copy)
        v = static_cast<int32_t>(static_cast<int64_t>(gsl_rng_get(g)) - 2147483648LL);
  gsl_rng_free(g);
  ASSERT_TRUE(SaveGenotypeDataToStructureFile(Path("big.txt"), CodeGenotypeValues(X)));
  GenotypeTable back = Shaped(300, 3, 40);
  ASSERT_TRUE(LoadGenotypeDataFromStructureFile(Path("big.txt"), back, 300, 3, 40, 0, 0));
  EXPECT_EQ(DecodeGenotypeTable(back), X);
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
      {"", 0, 1,
       "Unexpected end of data at individual 1, copy 1, label column 1 in file IN at line 1"},
      {"1 2 3\n4 x5 6\n", 0, 0,
       "Allele value \"x5\" is not an integer at individual 1, copy 2, locus 2 in file IN at line "
       "2"},
      {"1 2 3\n4 5 6\n7 8 9.5\n", 0, 0,
       "Allele value \"9.5\" is not an integer at individual 2, copy 1, locus 3 in file IN at line "
       "3"},
      {"1 2 - 4\n", 0, 0,
       "Allele value \"-\" is not an integer at individual 1, copy 1, locus 3 in file IN at line "
       "1"},
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
          GenotypeTable X = Shaped(2, 2, 3);
          LoadGenotypeDataFromStructureFile(Path("bad.txt"), X, 2, 2, 3, c.r, c.c);
        },
        testing::ExitedWithCode(1), testing::HasSubstr(expected))
        << c.text;
  }
}

TEST_F(GenotypeFile, OpenFailuresNameTheRoutine) {
  EXPECT_EXIT(
      {
        GenotypeTable X = Shaped(1, 1, 1);
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
  EXPECT_EXIT(
      SaveGenotypeDataToStructureFile(Path("no/such/folder.txt"),
                                      CodeGenotypeValues(kTwoByTwoByThree)),
      testing::ExitedWithCode(1),
      "^Cannot open file " + Path("no/such/folder.txt") + " - SaveGenotypeDataToStructureFile\n$");
}

TEST_F(GenotypeFile, LoadRunThroughTheProgram) {
  WriteFile(Path("x.str"), "a 1 2 3\na 4 5 6\nb -9 8 9\nb 10 11 -12\n");
  const ProgramResult r = RunProgram(
      {"-Dl", "-Fx.str", "-i" + dir_, "-o" + dir_, "-N2", "-A2", "-L3", "-K2", "-I5", "-c1"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const ProgramResult missing =
      RunProgram({"-Dl", "-Fnone.str", "-i" + dir_, "-N2", "-A2", "-L3", "-K2", "-I5"});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_EQ(missing.err,
            "Cannot open file " + dir_ + "/none.str - LoadGenotypeDataToStructureFile\n");
}

// The reader against a literal tokenizer on random valid files: numbers with signs,
// leading zeros and up to 11 characters, runs of every white-space character, labels,
// and files large enough to cross the reader's internal buffer many times.
TEST_F(GenotypeFile, MatchesLiteralTokenizerOnRandomFiles) {
  gsl_rng* g = gsl_rng_alloc(gsl_rng_mt19937);
  const char spaces[] = {' ', '\t', '\n', '\r', '\v', '\f'};
  for (int trial = 0; trial < 12; ++trial) {
    gsl_rng_set(g, trial);
    const int32_t N = 1 + static_cast<int32_t>(gsl_rng_uniform_int(g, trial < 10 ? 40 : 4000));
    const int32_t A = 1 + static_cast<int32_t>(gsl_rng_uniform_int(g, 3));
    const int32_t L = 1 + static_cast<int32_t>(gsl_rng_uniform_int(g, 60));
    const int32_t c = static_cast<int32_t>(gsl_rng_uniform_int(g, 3));
    GenotypeValues expected = Zeros(N, A, L);
    std::string text;
    auto space = [&] {
      const int run =
          1 + static_cast<int>(gsl_rng_uniform_int(g, gsl_rng_uniform_int(g, 8) == 0 ? 90 : 2));
      for (int i = 0; i < run; ++i)
        text.push_back(spaces[gsl_rng_uniform_int(g, gsl_rng_uniform_int(g, 4) == 0 ? 6 : 2)]);
    };
    for (int32_t n = 0; n < N; ++n) {
      for (int32_t a = 0; a < A; ++a) {
        for (int32_t col = 0; col < c; ++col) {
          text += "id-" + std::to_string(gsl_rng_get(g) % 1000) + "+x";
          space();
        }
        for (int32_t l = 0; l < L; ++l) {
          // Magnitudes from 1 to 10 digits, within the 32-bit range.
          const int64_t digits = 1 + gsl_rng_uniform_int(g, 10);
          int64_t magnitude = static_cast<int64_t>(gsl_rng_get(g)) % 2147483648LL;
          for (int64_t d = digits; d < 10; ++d) magnitude /= 10;
          const int signKind = static_cast<int>(gsl_rng_uniform_int(g, 4));
          const bool negative = signKind == 1;
          if (signKind == 1) text.push_back('-');
          if (signKind == 2) text.push_back('+');
          if (gsl_rng_uniform_int(g, 10) == 0) text += "00";
          text += std::to_string(magnitude);
          expected[n][a][l] = static_cast<int32_t>(negative ? -magnitude : magnitude);
          space();
        }
      }
    }
    if (gsl_rng_uniform_int(g, 2) == 0) {
      while (!text.empty() && (text.back() == ' ' || (text.back() >= '\t' && text.back() <= '\r')))
        text.pop_back();  // no white space at all after the last value
    }
    EXPECT_EQ(Load(text, N, A, L, 0, c), expected) << "trial " << trial;
  }
  gsl_rng_free(g);
}

// Long runs of one-digit values (read 32 at a time) broken by a longer value, a negative
// one, a line end or a token that is not a number.
TEST_F(GenotypeFile, RunsOfSingleDigits) {
  constexpr int32_t L = 300;
  std::string text;
  GenotypeValues expected = Zeros(1, 2, L);
  for (int32_t a = 0; a < 2; ++a) {
    for (int32_t l = 0; l < L; ++l) {
      int32_t v = (l * 7 + a) % 10;
      if (l == 101) v = 12;
      if (l == 170) v = -9;
      expected[0][a][l] = v;
      text += std::to_string(v) + (l == 230 ? "\n" : "\t");
    }
    text += "\n";
  }
  EXPECT_EQ(Load(text, 1, 2, L), expected);

  text[2 * 40] = 'x';
  WriteFile(Path("bad.txt"), text);
  EXPECT_EXIT(
      {
        GenotypeTable X = Shaped(1, 2, L);
        LoadGenotypeDataFromStructureFile(Path("bad.txt"), X, 1, 2, L, 0, 0);
      },
      testing::ExitedWithCode(1),
      testing::HasSubstr("Allele value \"x\" is not an integer at individual 1, copy 1, locus 41 "
                         "in file " +
                         Path("bad.txt") + " at line 1"));
}
