// The command line through the real executable (failures) and in-process (parsed values).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/command_line.h"
#include "run_program.h"

namespace {

// The usage text, copied line by line from the documented layout.
const std::string kUsage =
    "Typical Usage: emclade -DD -FF -NN -AA -LL -KK -II\n"
    "Options can be specified in any order.\n"
    "\n"
    "Required Options:\n"
    "-DD: D = s, Simulate Data and Use Simulated Data\n"
    "     D = o, Simulate Data Only\n"
    "     D = l, Load Data from File and Use Loaded Data\n"
    "-FF: F = File Name of Input Data File\n"
    "     For file name contains spaces, input it as \"F\".\n"
    "-NN: N = Number of Individuals (Samples)\n"
    "-AA: A = Ploidy (1 = Haploid, 2 = Diploid, ...)\n"
    "-LL: L = Number of Loci\n"
    "-KK: K = Number of Clusters\n"
    "-II: I = Number of Iterations for EM Algorithm\n"
    "     Use an arbitrary number when simulating data only\n"
    "\n"
    "Optional Options:\n"
    "-rr: r = Number of Extra Rows in Data File, Default: 0\n"
    "-cc: c = Number of Extra Columns in Data File, Default: 0\n"
    "-ii: i = Folder Name of Input Data File, Default: Current Folder\n"
    "     For folder name contains spaces, input it as \"i\".\n"
    "-oo: o = Folder Name of Output Result Files, Default: Current Folder\n"
    "     For folder name contains spaces, input it as \"o\".\n"
    "-jj: j = Number of Distinct Alleles at Each Locus, Default: 10\n"
    "     For Simulation Only\n";

RunSettings Parse(std::vector<std::string> args) {
  args.insert(args.begin(), "emclade");
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  return ParseCommandLine(static_cast<int>(argv.size()), argv.data());
}

const std::vector<std::string> kValid = {"-Dl", "-Fx.txt", "-N4", "-A2", "-L3", "-K2", "-I10"};

std::vector<std::string> With(std::vector<std::string> args, const std::string& extra) {
  args.push_back(extra);
  return args;
}

}  // namespace

TEST(CommandLine, FailuresWriteTheDocumentedStreams) {
  struct Case {
    std::vector<std::string> args;
    std::string err;
    bool usage;
  };
  const std::vector<Case> cases = {
      {{}, "", true},
      {{"-Dl", "-Fx", "-N4", "-A2", "-L3", "-K2"}, "", true},  // six arguments
      {With(kValid, "-Z1"), "Unknown Option - -Z1\n", true},
      {With(kValid, "-s"), "Unknown Option - -s\n", true},  // no option letter after r
      {With(kValid, "x"), "Unknown Option - x\n", true},    // fewer than two characters
      {With(kValid, "-D"), "Unknown Option - -D\n", true},
      {With(kValid, "-Dx"), "Unknown Option - -Dx\n", true},
      {With(kValid, "-ax"), "", false},
      {With(kValid, "-mq"), "", false},
      {With(kValid, "data.txt"), "", false},                          // read as -a with value t
      {{"-Dl", "-Fx", "-N4", "-A2", "-L3", "-K2", "-K3"}, "", true},  // no -I
      // The first bad argument decides: a bad -a before an unknown option ends silently.
      {{"-ax", "-Z1", "-N4", "-A2", "-L3", "-K2", "-K3"}, "", false},
      {{"-Z1", "-ax", "-N4", "-A2", "-L3", "-K2", "-K3"}, "Unknown Option - -Z1\n", true},
  };
  for (const Case& c : cases) {
    const ProgramResult r = RunProgram(c.args);
    std::string shown;
    for (const auto& a : c.args) shown += a + " ";
    EXPECT_EQ(r.exitCode, 1) << shown;
    EXPECT_EQ(r.err, c.err) << shown;
    EXPECT_EQ(r.out, c.usage ? kUsage : "") << shown;
  }
}

TEST(CommandLine, ValuesAModeCannotUseAreRefusedWithOneLine) {
  struct Case {
    std::vector<std::string> args;
    std::string err;
  };
  const std::vector<Case> cases = {
      {With(kValid, "-N0"),
       "Invalid Option Value -N0: N (Number of Individuals) must be at least 1, got 0 - "
       "ParseCommandLine\n"},
      {With(kValid, "-N"),
       "Invalid Option Value -N: N (Number of Individuals) must be at least 1, got 0 - "
       "ParseCommandLine\n"},
      {With(kValid, "-A-2"),
       "Invalid Option Value -A-2: A (Ploidy) must be at least 1, got -2 - ParseCommandLine\n"},
      {With(kValid, "-L0"),
       "Invalid Option Value -L0: L (Number of Loci) must be at least 1, got 0 - "
       "ParseCommandLine\n"},
      {With(kValid, "-K0"),
       "Invalid Option Value -K0: K (Number of Clusters) must be at least 1, got 0 - "
       "ParseCommandLine\n"},
      {With(kValid, "-I0"),
       "Invalid Option Value -I0: I (Number of Iterations) must be at least 1, got 0 - "
       "ParseCommandLine\n"},
      {With(kValid, "-r-1"),
       "Invalid Option Value -r-1: r (Number of Extra Rows) must be at least 0, got -1 - "
       "ParseCommandLine\n"},
      {With(kValid, "-c-1"),
       "Invalid Option Value -c-1: c (Number of Extra Columns) must be at least 0, got -1 - "
       "ParseCommandLine\n"},
      {{"-Ds", "-Fx.txt", "-N4", "-A2", "-L3", "-K2", "-I10", "-j0"},
       "Invalid Option Value -j0: j (Number of Distinct Alleles) must be at least 1, got 0 - "
       "ParseCommandLine\n"},
  };
  for (const Case& c : cases) {
    const ProgramResult r = RunProgram(c.args);
    EXPECT_EQ(r.exitCode, 1) << c.args.back();
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.out, "");
  }
}

TEST(CommandLine, ParsedValues) {
  // Any first character; letter options look at their first letter only; atoi values.
  RunSettings s = Parse({"xK5", "-Dload", "-Fmy data.txt", "-N12abc", "-A2", "-L3", "-I7", "-mcd",
                         "-as", "-K2", "-K5", "-o", "-iin", "-r2", "-c+3", "-j 4"});
  EXPECT_EQ(s.mode, 'l');
  EXPECT_EQ(s.dataFileName, "my data.txt");
  EXPECT_EQ(s.individualCount, 12);
  EXPECT_EQ(s.ploidy, 2);
  EXPECT_EQ(s.locusCount, 3);
  EXPECT_EQ(s.clusterCount, 5);  // the last occurrence wins
  EXPECT_EQ(s.iterationCount, 7);
  EXPECT_EQ(s.initMethod, 'c');
  EXPECT_EQ(s.emVariant, 's');
  EXPECT_EQ(s.extraRows, 2);
  EXPECT_EQ(s.extraColumns, 3);
  EXPECT_EQ(s.simulatedAlleleCount, 4);
  EXPECT_EQ(InputPath(s), "in/my data.txt");
  EXPECT_EQ(OutputBase(s), "my data.txt");  // -o with no value: the current folder

  s = Parse({"-Fdata.txt", "-Ds", "-N1", "-A1", "-L1", "-K1", "-I1", "-oout/"});
  EXPECT_EQ(s.emVariant, 'c');
  EXPECT_EQ(s.initMethod, 'c');
  EXPECT_EQ(s.simulatedAlleleCount, 10);
  EXPECT_EQ(InputPath(s), "data.txt");
  EXPECT_EQ(OutputBase(s) + "TR.txt", "out//data.txtTR.txt");

  // Mode o never iterates: any -I passes.
  s = Parse({"-Do", "-Fsim.txt", "-N5", "-A2", "-L3", "-K2", "-I-4"});
  EXPECT_EQ(s.iterationCount, -4);
}
