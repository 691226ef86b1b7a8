// Genotype files as other programs and spreadsheets export them: thousands of marker names
// in the header, label columns that look like numbers, tabs and spaces, CR LF, no final
// line end, missing-data codes, one row per individual. Each reads as the layout says, or
// ends the run with one line naming the file and the position.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "data/allele_coding.h"
#include "data/genotype_file.h"
#include "fuzz/in_process_run.h"
#include "run_program.h"

namespace {

// A table of microsatellite-like values (even sizes 100..130) with about one copy in
// twenty missing (-9); fixed seed.
GenotypeValues StudyTable(int32_t N, int32_t A, int32_t L, unsigned seed) {
  std::mt19937 bits(seed);
  GenotypeValues X;
  InitVctr3D(X, N, A, L, 0);
  for (auto& individual : X)
    for (auto& copy : individual)
      for (int32_t& v : copy)
        v = bits() % 20 == 0 ? -9 : 100 + 2 * static_cast<int32_t>(bits() % 16);
  return X;
}

// How an exporting program lays the table out.
struct Layout {
  std::string name;
  int32_t N, A, L;
  int32_t headerRows;     // the first lists the marker names, the next hold numbers
  bool labels;            // two label columns: individual name and population number
  std::string lineEnd;    // "\n" or "\r\n"
  bool finalLineEnd;      // whether the last row ends with a line end
  bool mixedBlanks;       // tabs and runs of spaces between columns
  bool rowPerIndividual;  // all copies of an individual side by side on one row
  bool byteOrderMark;     // a UTF-8 byte-order mark in front of the first row
};

std::string Separator(const Layout& layout, int32_t column) {
  if (!layout.mixedBlanks) return "\t";
  static const char* const kBlanks[] = {" ", "\t", "  ", " \t ", "\t\t"};
  return kBlanks[column % 5];
}

std::string Render(const Layout& layout, const GenotypeValues& X) {
  std::string text = layout.byteOrderMark ? "\xEF\xBB\xBF" : "";
  std::vector<std::string> rows;
  for (int32_t h = 0; h < layout.headerRows; ++h) {
    std::string row;
    for (int32_t l = 0; l < layout.L; ++l) {
      if (l > 0) row += Separator(layout, l);
      row += h == 0 ? "rs" + std::to_string(10000000 + 7919 * l) : std::to_string(l % 3 - 1);
    }
    rows.push_back(row);
  }
  const int32_t copiesPerRow = layout.rowPerIndividual ? layout.A : 1;
  for (int32_t n = 0; n < layout.N; ++n) {
    for (int32_t a = 0; a < layout.A; a += copiesPerRow) {
      std::string row;
      int32_t column = 0;
      if (layout.labels) {
        // Names with digits and signs, and a population number that may be negative.
        row +=
            "ind-" + std::to_string(n + 1) + "_+" + std::to_string(a) + Separator(layout, column++);
        row += std::to_string(n % 3 == 0 ? -(n % 5) : n % 5) + Separator(layout, column++);
      }
      for (int32_t c = a; c < a + copiesPerRow; ++c) {
        for (int32_t l = 0; l < layout.L; ++l) {
          if (column > 0) row += Separator(layout, column);
          row += std::to_string(X[n][c][l]);
          ++column;
        }
      }
      rows.push_back(row);
    }
  }
  for (size_t i = 0; i < rows.size(); ++i) {
    text += rows[i];
    if (i + 1 < rows.size() || layout.finalLineEnd) text += layout.lineEnd;
  }
  return text;
}

class RealFiles : public testing::Test {
 protected:
  void SetUp() override { dir_ = MakeTempDir(); }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  // Reads the text as the given sizes in-process; the table, or the run's end and lines.
  InProcessResult Read(const std::string& text, int32_t N, int32_t A, int32_t L, int32_t r,
                       int32_t c, GenotypeValues& X) {
    WriteFile(Path("study.str"), text);
    GenotypeTable coded;
    InitGenotypeTable(coded, N, A, L);
    const InProcessResult run = RunInProcess(
        [&] { LoadGenotypeDataFromStructureFile(Path("study.str"), coded, N, A, L, r, c); });
    X = run.ended ? GenotypeValues() : DecodeGenotypeTable(coded);
    return run;
  }
  std::string dir_;
};

}  // namespace

TEST_F(RealFiles, ExportedLayoutsReadAsWritten) {
  const std::vector<Layout> layouts = {
      // name, N, A, L, header rows, labels, line end, final line end, mixed, row per ind., BOM
      {"5000 markers, name row and a row of numbers", 12, 2, 5000, 2, true, "\n", true, false,
       false, false},
      {"CR LF, tabs and spaces, no final line end", 9, 2, 40, 1, true, "\r\n", false, true, false,
       false},
      {"one row per individual, read with c = 0", 8, 2, 25, 0, false, "\n", true, true, true,
       false},
      {"tetraploid, one row per individual, CR LF", 5, 4, 12, 1, false, "\r\n", false, false, true,
       false},
      {"haploid, no header, labels only", 7, 1, 30, 0, true, "\n", true, true, false, false},
      {"spreadsheet export: byte-order mark, CR LF, no header", 6, 2, 10, 0, false, "\r\n", true,
       false, false, true},
      {"byte-order mark in front of the marker names", 6, 2, 10, 1, true, "\r\n", false, true,
       false, true},
  };
  unsigned seed = 1;
  for (const Layout& layout : layouts) {
    const GenotypeValues expected = StudyTable(layout.N, layout.A, layout.L, seed++);
    GenotypeValues X;
    const InProcessResult run = Read(Render(layout, expected), layout.N, layout.A, layout.L,
                                     layout.headerRows, layout.labels ? 2 : 0, X);
    EXPECT_FALSE(run.ended) << layout.name << ": " << run.err;
    EXPECT_EQ(run.err, "") << layout.name;
    EXPECT_TRUE(X == expected) << layout.name;
  }
}

TEST_F(RealFiles, MissingDataCodes) {
  // Locus 1 uses -9 only; locus 2 uses -9 and a second code -1; locus 3 uses -1 alone.
  const std::string text =
      "-9\t-9\t102\n"
      "104\t-1\t-1\n"
      "104\t-9\t102\n"
      "-9\t98\t-1\n";
  GenotypeValues X;
  const InProcessResult run = Read(text, 2, 2, 3, 0, 0, X);
  ASSERT_FALSE(run.ended) << run.err;
  EXPECT_EQ(X, (GenotypeValues{{{-9, -9, 102}, {104, -1, -1}}, {{104, -9, 102}, {-9, 98, -1}}}));
  // The values are read as they stand; allele coding leaves out only the smallest value of
  // a locus when it is negative, so a second, larger negative code counts as an allele.
  Vector2D<int32_t> values;
  std::vector<int32_t> J;
  int32_t Jmax = 0;
  CodeAlleles(CodeGenotypeValues(X), 3, values, J, Jmax);
  EXPECT_EQ(values, (Vector2D<int32_t>{{104}, {-1, 98}, {102}}));
  EXPECT_EQ(J, (std::vector<int32_t>{1, 2, 1}));
}

TEST_F(RealFiles, MismatchesEndWithOneLineNamingFileAndPosition) {
  struct Case {
    std::string what;
    std::string text;
    int32_t N, A, L, r, c;
    std::string line;  // FILE stands for the path
  };
  const std::vector<Case> cases = {
      {"one row per individual read with a label column: out of step",
       "ind1 1 2 3 4 5 6\nind2 7 8 9 10 11 12\n", 2, 2, 3, 0, 1,
       "Allele value \"ind2\" is not an integer at individual 1, copy 2, locus 3 in file FILE at "
       "line 2"},
      {"label column not declared", "ind1\t102\t98\nind1\t104\t98\n", 1, 2, 2, 0, 0,
       "Allele value \"ind1\" is not an integer at individual 1, copy 1, locus 1 in file FILE at "
       "line 1"},
      {"marker-name row not declared", "rs101 rs102\n1 2\n3 4\n", 1, 2, 2, 0, 0,
       "Allele value \"rs101\" is not an integer at individual 1, copy 1, locus 1 in file FILE at "
       "line 1"},
      {"NA as missing data", "1 2\r\nNA 4\r\n", 1, 2, 2, 0, 0,
       "Allele value \"NA\" is not an integer at individual 1, copy 2, locus 1 in file FILE at "
       "line 2"},
      {"comma-separated export", "h1,h2\n102,98\n104,98\n", 1, 2, 2, 1, 0,
       "Allele value \"102,98\" is not an integer at individual 1, copy 1, locus 1 in file FILE at "
       "line 2"},
      {"sizes written with decimals", "102.0 98.0\n", 1, 1, 2, 0, 0,
       "Allele value \"102.0\" is not an integer at individual 1, copy 1, locus 1 in file FILE at "
       "line 1"},
      {"fewer individuals than N", "a 1 2\na 3 4\nb 5 6\n", 2, 2, 2, 0, 1,
       "Unexpected end of data at individual 2, copy 2, label column 1 in file FILE at line 4"},
      {"fewer loci than L on the last row, no final line end", "1 2 3\n4 5", 1, 2, 3, 0, 0,
       "Unexpected end of data at individual 1, copy 2, locus 3 in file FILE at line 2"},
      {"more header rows than the file has", "rs1 rs2\n1 2\n", 1, 1, 2, 3, 0,
       "Unexpected end of data at header row 3 in file FILE at line 3"},
      {"old Mac line ends: the one header row swallows the file", "rs1 rs2\r1 2\r3 4\r", 1, 2, 2, 1,
       0, "Unexpected end of data at individual 1, copy 1, locus 1 in file FILE at line 1"},
      {"a sample name of 70 characters where a value belongs, more data after it",
       "1 2\n" + std::string(70, 'x') + " 3\n" + std::string(200, '5') + "\n", 2, 2, 2, 0, 0,
       "Allele value \"" + std::string(40, 'x') +
           "...\" is not an integer at individual 1, copy 2, locus 1 in file FILE at line 2"},
      {"a stray control byte is shown, not printed", "1 2\n3 \x1B[0m4\n", 1, 2, 2, 0, 0,
       "Allele value \"\\x1B[0m4\" is not an integer at individual 1, copy 2, locus 2 in file "
       "FILE at line 2"},
  };
  for (const Case& c : cases) {
    GenotypeValues X;
    const InProcessResult run = Read(c.text, c.N, c.A, c.L, c.r, c.c, X);
    std::string expected = c.line;
    expected.replace(expected.find("FILE"), 4, Path("study.str"));
    EXPECT_TRUE(run.ended && run.exitCode == 1) << c.what;
    EXPECT_EQ(run.err, expected + " - LoadGenotypeDataFromStructureFile\n") << c.what;
    EXPECT_EQ(run.out, "") << c.what;
  }
}

TEST_F(RealFiles, ThousandsOfMarkersThroughTheProgram) {
  const Layout layout = {"", 10, 2, 3000, 1, true, "\r\n", false, true, false, true};
  WriteFile(Path("snps.str"), Render(layout, StudyTable(10, 2, 3000, 99)));
  const ProgramResult r = RunProgram({"-Dl", "-Fsnps.str", "-i" + dir_, "-o" + dir_, "-N10", "-A2",
                                      "-L3000", "-K2", "-I5", "-r1", "-c2"},
                                     dir_, 120.0);
  ASSERT_FALSE(r.timedOut);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  // With thousands of loci every individual's likelihood underflows, which the
  // log-likelihood chart reports as a warning; nothing else may appear.
  for (const std::string& line : SplitLines(r.err)) {
    EXPECT_TRUE(line.size() > 9 && (line.substr(line.size() - 9) == " - PlotLH" ||
                                    line.substr(line.size() - 9) == " - PlotAP"))
        << line;
  }
  EXPECT_NE(r.out.find("This run takes "), std::string::npos);
}
