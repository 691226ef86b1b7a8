// The study command's input through the real program: a pipe, /dev/stdin and a named pipe
// read as the file itself (or refused in one line), bad values reported at their line with
// what was found and what settles it, warnings for names and empty individuals, and option
// values out of range refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "run_program.h"

namespace {

const std::string kSweep = EMCLADE_SWEEP_EXE;

class StudyInputLines : public testing::Test {
 protected:
  void SetUp() override { dir_ = MakeTempDir(); }
  std::string Write(const std::string& name, const std::string& text) {
    WriteFile(dir_ + "/" + name, text);
    return dir_ + "/" + name;
  }
  // A folder name not used before in dir_.
  std::string NewFolder() { return "out" + std::to_string(++folders_); }
  // One run of K 1 on input, in dir_.
  ProgramResult Sweep(const std::string& input) {
    return RunProgram({input, "--k", "1", "--replicates", "1", "--out", NewFolder()}, dir_, 60.0,
                      kSweep);
  }
  // A shell command line in dir_, SWEEP standing for the program.
  ProgramResult Shell(const std::string& script) {
    return RunProgram({"-c", "SWEEP='" + kSweep + "'; " + script}, dir_, 60.0, "/bin/sh");
  }
  std::string dir_;
  int folders_ = 0;
};

// 20 diploid individuals, one row per copy: name, population, 50 loci.
std::vector<std::vector<std::string>> StructureRows() {
  std::mt19937 random(7);
  std::vector<std::vector<std::string>> rows;
  for (int n = 0; n < 20; ++n) {
    for (int a = 0; a < 2; ++a) {
      std::vector<std::string> row = {"ind" + std::to_string(n), std::to_string(n % 3 + 1)};
      for (int l = 0; l < 50; ++l) row.push_back(std::to_string(100 + 2 * (random() % 3)));
      rows.push_back(row);
    }
  }
  return rows;
}

std::string Text(const std::vector<std::vector<std::string>>& rows) {
  std::string text;
  for (const auto& row : rows) {
    for (size_t j = 0; j < row.size(); ++j) text += (j ? " " : "") + row[j];
    text += "\n";
  }
  return text;
}

const std::string kVcfHeader =
    "##fileformat=VCFv4.2\n##contig=<ID=1>\n"
    "##FORMAT=<ID=GT,Number=1,Type=String,Description=\"Genotype\">\n"
    "#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT\ts1\ts2\ts3\n";
const std::string kVcf = kVcfHeader +
                         "1\t5\t.\tA\tC\t.\t.\t.\tGT\t0/1\t1/1\t0/0\n"
                         "1\t7\t.\tA\tC\t.\t.\t.\tGT\t0/0\t1/1\t0/1\n";

// Every format read from a pipe, /dev/stdin or a named pipe gives the line of the file
// itself; a .bed, which is mapped, is refused in one line. None may hang.
TEST_F(StudyInputLines, PipesAreReadOnce) {
  Write("s.str", Text(StructureRows()));
  Write("v.vcf", kVcf);
  Write("g.gen", "t\nL1,L2\nPop\na , 0101 0202\nb , 0102 0202\n");
  ASSERT_EQ(Shell("\"$SWEEP\" prepare s.str --out s.emc --quiet").exitCode, 0);
  for (const char* file : {"s.str", "v.vcf", "g.gen", "s.emc"}) {
    const ProgramResult direct = Sweep(file);
    ASSERT_EQ(direct.exitCode, 0) << direct.err;
    const std::string line = SplitLines(direct.err)[0].substr(direct.err.find(':', 15));
    for (const std::string& how :
         {std::string("cat F | \"$SWEEP\" /dev/stdin"), std::string("\"$SWEEP\" /dev/stdin < F"),
          std::string("mkfifo p; cat F > p & \"$SWEEP\" p")}) {
      std::string script = how;
      script.replace(script.find('F'), 1, file);
      const ProgramResult piped =
          Shell("rm -f p; " + script + " --k 1 --replicates 1 --out " + NewFolder());
      ASSERT_EQ(piped.exitCode, 0) << script << "\n" << piped.err;
      const std::string got = SplitLines(piped.err)[0];
      EXPECT_EQ(got.substr(got.find(':', 15)), line) << script;
    }
  }
  Write("x.bed", "\x6c\x1b\x01\x00");
  const ProgramResult bed = Shell("cat x.bed | \"$SWEEP\" /dev/stdin --k 1");
  EXPECT_EQ(bed.err,
            "emclade-sweep: /dev/stdin: byte 0: a PLINK .bed by its first bytes, read from a "
            "pipe: a .bed is read from a file, <prefix>.bed beside <prefix>.bim and "
            "<prefix>.fam\n");
  const ProgramResult fifo = Shell("mkfifo y.bed; \"$SWEEP\" y.bed --k 1");
  EXPECT_EQ(fifo.err,
            "emclade-sweep: y.bed: a PLINK .bed is read from a file (it is mapped into memory), "
            "found a pipe or device: save it to a file first\n");
}

// Each bad input ends with the line that names its place, the value and what settles it.
TEST_F(StudyInputLines, BadValuesAreReportedWhereTheyStand) {
  auto rows = StructureRows();
  rows[16][9] = "1O2";
  Write("typo.str", Text(rows));
  rows = StructureRows();
  rows[20][10] = "NA";
  std::string names;
  for (int l = 1; l <= 50; ++l) {
    names.append("L").append(std::to_string(l)).push_back(l < 50 ? ' ' : '\n');
  }
  Write("na.str", names + Text(rows));
  std::string bom = kVcf;
  bom.insert(0, "\xEF\xBB\xBF");
  Write("bom.vcf", bom);
  std::string dup = kVcf;
  dup.replace(dup.find("s3"), 2, "s1");
  Write("dup.vcf", dup);
  Write("gt.vcf", kVcfHeader + "1\t5\t.\tA\tC\t.\t.\t.\tGT\t0/1\t1/x\t0/0\n");
  Write("z.str", Text(StructureRows()));
  ASSERT_EQ(Shell("gzip z.str").exitCode, 0);
  Write("missing.str", "a -9 -9\na -9 -9\nb -9 -9\nb -9 -9\n");
  Write("x.fam", "f i1 0 0 1 -9\nf i2 0 0 1 -9\n");
  Write("x.bim", "1 v1 0 10 G A\n1 v2 0 2O C T\n");
  Write("x.bed", "\x6c\x1b\x01\x08\x08");
  struct Case {
    const char* file;
    std::string line;  // after "emclade-sweep: <file>: "
  };
  const Case cases[] = {
      {"typo.str", "line 17: column 10: expected an integer allele value, found \"1O2\""},
      {"na.str",
       "line 22: column 11: expected an integer allele value, found \"NA\" (a missing copy is "
       "written as a negative integer, such as -9)"},
      {"bom.vcf",
       "byte 0: expected ##fileformat=VCF at the start, found a UTF-8 byte-order mark (EF BB BF) "
       "before it: save the file without the mark"},
      {"dup.vcf",
       "line 4: expected every sample named once, found \"s1\" in columns 10 and 12 (rename one, "
       "e.g. bcftools reheader)"},
      {"gt.vcf",
       "record 1 (1:5): sample s2: expected a GT of allele numbers or \".\" apart by / or |, "
       "found \"1/x\""},
      {"z.str.gz",
       "byte 0: expected a compressed VCF or BCF, found compressed data that does not read as "
       "one (STRUCTURE and GENEPOP text is read uncompressed: gunzip it first)"},
      {"missing.str",
       "every genotype of the 2 individuals at the 2 loci is missing: nothing to analyse"},
      {"x.bed", "line 2: column 4: expected the position in bases (a whole number), found \"2O\""},
  };
  for (const Case& c : cases) {
    const ProgramResult r = Sweep(c.file);
    EXPECT_EQ(r.exitCode, 1) << c.file;
    const std::string file = c.file == std::string("x.bed") ? "x.bim" : c.file;
    EXPECT_EQ(r.err, "emclade-sweep: " + file + ": " + c.line + "\n");
  }
}

// Names used twice and individuals with nothing observed are read, each with a warning
// line; the lowest 32-bit value is a missing code like any negative value.
TEST_F(StudyInputLines, WarningsAndTheLowestValue) {
  Write("names.str", "a 1 2\na 1 2\nb 1 1\nb 2 2\na 1 1\na 2 2\nc -9 -9\nc -9 -9\n");
  Write("x.fam", "f i1 0 0 1 -9\nf i2 0 0 1 -9\ng i1 0 0 1 -9\n");
  Write("x.bim", "1 v1 0 10 G A\n");
  Write("x.bed", "\x6c\x1b\x01\x08");
  Write("low.str", "a 1 -2147483648\na 1 2\nb 2 2\nb 1 2\n");
  const struct {
    const char* input;
    std::vector<std::string> lines;  // the lines of standard error that must be there
  } cases[] = {
      {"names.str",
       {"emclade-sweep: names.str: individual 3: warning: named \"a\" like individual 1 (the "
        "results tell them apart only by order)",
        "emclade-sweep: names.str: individual 4: warning: \"c\" has every genotype missing "
        "(its memberships say nothing)"}},
      {"x.bed",
       {"emclade-sweep: x.fam: individual 3: warning: named \"i1\" like individual 1 (the "
        "results tell them apart only by order)"}},
      {"low.str",
       {"emclade-sweep: low.str: STRUCTURE: 2 individuals, 2 loci, diploid, no header rows, 1 "
        "label column (name), one row per copy, missing -2147483648"}},
  };
  for (const auto& c : cases) {
    const ProgramResult r = Sweep(c.input);
    EXPECT_EQ(r.exitCode, 0) << c.input << "\n" << r.err;
    const std::vector<std::string> got = SplitLines(r.err);
    for (const std::string& line : c.lines)
      EXPECT_NE(std::find(got.begin(), got.end(), line), got.end()) << line << "\n" << r.err;
  }
}

// Out-of-range option values are refused, never wrapped, cut or taken for "detect".
TEST_F(StudyInputLines, OptionValuesOutOfRangeAreRefused) {
  Write("s.str", Text(StructureRows()));
  const std::string detect = " (leave the option out to have it detected from the file)";
  const std::string help = " (see emclade-sweep --help)";
  const struct {
    std::vector<std::string> args;
    std::string line;  // "" when the run succeeds
  } cases[] = {
      {{"--seed", "-1"},
       "--seed: expected a whole number from 0 to 18446744073709551615, got \"-1\""},
      {{"--seed", "18446744073709551616"},
       "--seed: expected a whole number from 0 to 18446744073709551615, got "
       "\"18446744073709551616\""},
      {{"--seed", "18446744073709551615"}, ""},
      {{"--header-rows", "-1"},
       "--header-rows: expected a whole number from 0 to 1073741824, got \"-1\"" + detect + help},
      {{"--population-column", "-1"},
       "--population-column: expected a whole number from 1 to 1048576, got \"-1\"" + detect +
           help},
      {{"--label-columns", "-3"},
       "--label-columns: expected a whole number from 0 to 1048576, got \"-3\"" + detect + help},
      {{"--one-row-per-individual", "0"}, ""},
      {{"--one-row-per-individual", "2"},
       "--one-row-per-individual: expected a whole number from 0 to 1, got \"2\"" + detect + help},
      {{"--k", "1-100000"},
       "--k: 100000 K asked for, and the structure plot draws at most 300: name the K to draw "
       "with --plot-k"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"s.str", "--quiet", "--replicates", "1", "--out", NewFolder()};
    args.insert(args.end(), c.args.begin(), c.args.end());
    if (c.args[0] != "--k") args.insert(args.end(), {"--k", "1"});
    const ProgramResult r = RunProgram(args, dir_, 60.0, kSweep);
    EXPECT_EQ(r.exitCode, c.line.empty() ? 0 : 1) << c.args[0] << " " << c.args[1];
    EXPECT_EQ(r.err, c.line.empty() ? "" : "emclade-sweep: " + c.line + "\n");
  }
}

}  // namespace
