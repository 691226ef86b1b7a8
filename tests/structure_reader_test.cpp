// STRUCTURE text as the study command reads it: the layout told from the first rows (header
// rows, label columns, one row per copy or per individual, ploidy, plink's map distances),
// every reader option overriding its guess, and the files the rows do not settle.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "data/genotype_file.h"
#include "run_program.h"
#include "study_input_helpers.h"

namespace {

using StructureReader = ReaderFilesTest;

ReaderOptions With(int32_t headerRows, int32_t labelColumns, int32_t populationColumn,
                   int32_t ploidy, int32_t oneRowPerIndividual) {
  ReaderOptions o;
  o.headerRows = headerRows;
  o.labelColumns = labelColumns;
  o.populationColumn = populationColumn;
  o.ploidy = ploidy;
  o.oneRowPerIndividual = oneRowPerIndividual;
  return o;
}

const ReaderOptions kDetect;

// Eight individuals numbered 1..8, two rows each, for the integer-number rule.
std::string NumberedRows() {
  std::string text;
  for (int n = 1; n <= 8; ++n) {
    text += std::to_string(n) + " 1" + std::to_string(n) + "0 5\n";
    text += std::to_string(n) + " 1" + std::to_string(n) + "2 5\n";
  }
  return text;
}

// Eight individuals of two populations, the population on both rows of each.
std::string SharedPopulation() {
  std::string text;
  for (int n = 1; n <= 8; ++n) {
    const std::string labels = "ind" + std::to_string(n) + " " + (n <= 4 ? "1" : "2");
    text += labels + " 102 210\n" + labels + " 104 210\n";
  }
  return text;
}

struct Case {
  const char* name;
  std::string text;
  ReaderOptions options;
  std::string detected;
  std::string table;  // TableText, or only its first line when it ends in "..."
};

TEST_F(StructureReader, LayoutsAreDetectedAndOptionsOverrideThem) {
  // The tables are written out by hand from the rows of each text.
  const std::vector<Case> cases = {
      {"values only, as the classic command writes them",
       "102\t210\t\n104\t212\t\n-9\t210\t\n102\t210\t\n", kDetect,
       "STRUCTURE: 2 individuals, 2 loci, diploid, no header rows, no label columns, one row per "
       "copy, missing -9",
       "1 - | 102 210 | 104 212\n2 - | -9 210 | 102 210\n"},
      {"values only, --ploidy 4", "1 2\n3 4\n5 6\n7 8\n", With(-1, -1, -1, 4, -1),
       "STRUCTURE: 1 individual, 2 loci, tetraploid, no header rows, no label columns, one row per "
       "copy, no missing-data code",
       "1 - | 1 2 | 3 4 | 5 6 | 7 8\n"},
      {"marker names, name and population, one row per copy",
       "Loc1 Loc2 Loc3\nind1 1 102 210 -9\nind1 1 104 210 305\nind2 2 102 212 305\nind2 2 102 -1 "
       "301\n",
       kDetect,
       "STRUCTURE: 2 individuals, 3 loci, diploid, 1 header row (marker names), 2 label columns "
       "(name, population), one row per copy, missing -9 -1",
       "ind1 1 | 102 210 -9 | 104 210 305\nind2 2 | 102 212 305 | 102 -1 301\n"},
      {"no header: labels are the columns every individual's rows share", SharedPopulation(),
       kDetect,
       "STRUCTURE: 8 individuals, 2 loci, diploid, no header rows, 2 label columns (name, "
       "population), one row per copy, no missing-data code",
       "ind1 1 | 102 210 | 104 210\n..."},
      {"no header, few individuals: only the names are labels",
       "ind1 1 102 210\nind1 1 104 210\nind2 2 102 212\nind2 2 102 210\n", kDetect,
       "STRUCTURE: 2 individuals, 3 loci, diploid, no header rows, 1 label column (name), one row "
       "per copy, no missing-data code",
       "ind1 - | 1 102 210 | 1 104 210\n..."},
      {"one row per individual, the copies of a locus side by side",
       "L1 L2\nind1 1 102 104 210 210\nind2 1 102 102 212 -9\n", kDetect,
       "STRUCTURE: 2 individuals, 2 loci, diploid, 1 header row (marker names), 2 label columns "
       "(name, population), one row per individual, missing -9",
       "ind1 1 | 102 210 | 104 210\nind2 1 | 102 212 | 102 -9\n"},
      {"plink --recode structure: map distances, 0 missing",
       "snp0 snp1 snp2 snp3 \n-1 1 1 1 \nper0 1 1 2 0 0 1 1 2 2\nper1 2 1 2 1 1 0 0 1 1\n", kDetect,
       "STRUCTURE: 2 individuals, 4 loci, diploid, 2 header rows (marker names, plink map "
       "distances), 2 label columns (name, population), one row per individual, missing 0",
       "per0 1 | 1 0 1 2 | 2 0 1 2\nper1 2 | 1 1 0 1 | 2 1 0 1\n"},
      {"individual numbers in the first column", NumberedRows(), kDetect,
       "STRUCTURE: 8 individuals, 2 loci, diploid, no header rows, 1 label column (name), one row "
       "per copy, no missing-data code",
       "1 - | 110 5 | 112 5\n..."},
      {"three rows per name: triploid", "a 1 2\na 1 3\na 2 2\nb 4 4\nb 4 4\nb 5 4\n", kDetect,
       "STRUCTURE: 2 individuals, 2 loci, triploid, no header rows, 1 label column (name), one row "
       "per copy, no missing-data code",
       "a - | 1 2 | 1 3 | 2 2\nb - | 4 4 | 4 4 | 5 4\n"},
      {"byte-order mark, CR LF, tabs, blank lines, no final line end",
       "\xEF\xBB\xBFLoc1\tLoc2\r\nind1\t102\t210\r\n\r\nind1 "
       "\t104\t212\r\nind2\t-9\t210\r\nind2\t106\t214",
       kDetect,
       "STRUCTURE: 2 individuals, 2 loci, diploid, 1 header row (marker names), 1 label column "
       "(name), one row per copy, missing -9",
       "ind1 - | 102 210 | 104 212\nind2 - | -9 210 | 106 214\n"},
      {"--label-columns 1 reads the population column as a locus",
       "ind1 1 102 210\nind1 1 104 210\nind2 2 102 212\nind2 2 102 210\n", With(-1, 1, -1, -1, -1),
       "STRUCTURE: 2 individuals, 3 loci, diploid, no header rows, 1 label column (name), one row "
       "per copy, no missing-data code",
       "ind1 - | 1 102 210 | 1 104 210\n..."},
      {"--header-rows 1 drops a first row of numbers, --label-columns 2, --population-column 0",
       "20 24 1\nind1 1 102\nind1 1 104\nind2 2 102\nind2 2 106\n", With(1, 2, 0, -1, -1),
       "STRUCTURE: 2 individuals, 1 locus, diploid, 1 header row, 2 label columns (name, other), "
       "one "
       "row per copy, no missing-data code",
       "ind1 - | 102 | 104\n..."},
      {"--one-row-per-individual 1 --ploidy 2 on values only", "1 2 3 4\n5 6 7 8\n",
       With(-1, -1, -1, 2, 1),
       "STRUCTURE: 2 individuals, 2 loci, diploid, no header rows, no label columns, one row per "
       "individual, no missing-data code",
       "1 - | 1 3 | 2 4\n2 - | 5 7 | 6 8\n"},
      {"--one-row-per-individual 0 --ploidy 1: every row an individual", "a 1 2\nb 3 4\n",
       With(-1, -1, -1, 1, 0),
       "STRUCTURE: 2 individuals, 2 loci, haploid, no header rows, 1 label column (name), one row "
       "per copy, no missing-data code",
       "a - | 1 2\nb - | 3 4\n"},
  };
  for (const Case& c : cases) {
    const StudyRead read = ReadInProcess(Write("in.str", c.text), c.options);
    ASSERT_TRUE(read.ok) << c.name << ": " << read.err;
    EXPECT_EQ(read.data.detected, c.detected) << c.name;
    const std::string table = TableText(read.data);
    if (c.table.size() > 3 && c.table.compare(c.table.size() - 3, 3, "...") == 0) {
      EXPECT_EQ(table.substr(0, c.table.size() - 3), c.table.substr(0, c.table.size() - 3))
          << c.name;
    } else {
      EXPECT_EQ(table, c.table) << c.name;
    }
    EXPECT_EQ(read.data.format, "STRUCTURE");
  }
}

TEST_F(StructureReader, ClassicFilesReadAsTheClassicReaderReadsThem) {
  // The classic writer's file read by both readers gives the same coded table.
  const std::string path = Write("classic.txt", "");
  GenotypeValues values(5, Vector2D<int32_t>(2, std::vector<int32_t>(7)));
  for (int32_t n = 0; n < 5; ++n)
    for (int32_t a = 0; a < 2; ++a)
      for (int32_t l = 0; l < 7; ++l)
        values[n][a][l] = (n * 7 + a * 3 + l * 5) % 11 == 0 ? -9 : 100 + (n + a + l) % 4;
  SaveGenotypeDataToStructureFile(path, CodeGenotypeValues(values));
  GenotypeTable classic;
  InitGenotypeTable(classic, 5, 2, 7);
  LoadGenotypeDataFromStructureFile(path, classic, 5, 2, 7, 0, 0);
  const StudyRead read = ReadInProcess(path);
  ASSERT_TRUE(read.ok) << read.err;
  EXPECT_EQ(TableDifference(read.data.X, classic), "");
}

TEST_F(StructureReader, UnsettledAndBrokenFilesEndWithOneLine) {
  struct Bad {
    const char* name;
    std::string text;
    ReaderOptions options;
    std::string line;  // after "emclade-sweep: <path>: "
  };
  const std::vector<Bad> cases = {
      {"one row per name, no marker names", "ind1 102 104 210 212\nind2 102 102 210 210\n", kDetect,
       "line 1: expected --ploidy: every name is on one row (one row per individual) and there is "
       "no row of marker names to count the loci (--ploidy 1 reads 4 loci, --ploidy 2 reads 2 "
       "loci, --ploidy 4 reads 1 locus)"},
      {"rows per name differ", "a 1 2\na 1 2\nb 1 2\nc 1 2\nc 1 2\n", kDetect,
       "line 3: expected 2 rows per individual like a, found 1 for b (--one-row-per-individual and "
       "--ploidy settle the layout)"},
      {"rows disagree in length", "ind1 1 2 3\nind1 1 2 3\nind2 1 2\nind2 1 2 3\n", kDetect,
       "line 3: expected 4 columns like line 1, found 3 (rows disagree in length)"},
      {"a record cut short at the top", "ind1 1 2\nind1 1 2 3\nind2 1 2 3\nind2 1 2 3\n", kDetect,
       "line 1: expected 4 columns like line 2, found 3 (rows disagree in length; --header-rows "
       "says how many rows to skip)"},
      {"an odd number of rows for a diploid file", "1 2\n3 4\n5 6\n", kDetect,
       "line 3: expected 2 rows per individual (one per copy), the file ends after 1 row of the "
       "last individual"},
      {"copy rows of different names", "a 1 2\na 1 2\nb 1 2\nb 1 2\n", With(-1, -1, -1, 4, -1),
       "line 3: expected copy 3 of a (line 1), found \"b\": every individual takes 4 rows "
       "(--ploidy)"},
      {"a value out of range", "Loc1 Loc2\na 1 99999999999\na 1 2\n", kDetect,
       "line 2: column 3: expected an integer allele value, found \"99999999999\" (outside the "
       "32-bit range)"},
      {"text where marker names promise values", "L1 L2\na b 1\na b 2\n", kDetect,
       "line 2: expected integer allele values after 1 label column, found text in column 2 "
       "(--label-columns 2 or more)"},
      {"no rows", "\n \n", kDetect, "line 1: expected a table of genotypes, found no rows"},
      {"--population-column past the labels", "a 1 2\na 1 3\n", With(-1, -1, 2, -1, -1),
       "line 1: expected --population-column at most 1 (the label columns), found 2"},
  };
  for (const Bad& c : cases) {
    const std::string path = Write("bad.str", c.text);
    const StudyRead read = ReadInProcess(path, c.options);
    ASSERT_FALSE(read.ok) << c.name;
    EXPECT_EQ(read.exitCode, 1) << c.name;
    EXPECT_EQ(read.err, "emclade-sweep: " + path + ": " + c.line + "\n") << c.name;
    EXPECT_EQ(read.out, "") << c.name;
  }
}

}  // namespace
