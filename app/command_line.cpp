#include "app/command_line.h"

#include <cstdlib>
#include <cstring>
#include <iostream>

#include "data/messages.h"

namespace {

const char* const kUsage[] = {
    "Typical Usage: emclade -DD -FF -NN -AA -LL -KK -II",
    "Options can be specified in any order.",
    "",
    "Required Options:",
    "-DD: D = s, Simulate Data and Use Simulated Data",
    "     D = o, Simulate Data Only",
    "     D = l, Load Data from File and Use Loaded Data",
    "-FF: F = File Name of Input Data File",
    "     For file name contains spaces, input it as \"F\".",
    "-NN: N = Number of Individuals (Samples)",
    "-AA: A = Ploidy (1 = Haploid, 2 = Diploid, ...)",
    "-LL: L = Number of Loci",
    "-KK: K = Number of Clusters",
    "-II: I = Number of Iterations for EM Algorithm",
    "     Use an arbitrary number when simulating data only",
    "",
    "Optional Options:",
    "-rr: r = Number of Extra Rows in Data File, Default: 0",
    "-cc: c = Number of Extra Columns in Data File, Default: 0",
    "-ii: i = Folder Name of Input Data File, Default: Current Folder",
    "     For folder name contains spaces, input it as \"i\".",
    "-oo: o = Folder Name of Output Result Files, Default: Current Folder",
    "     For folder name contains spaces, input it as \"o\".",
    "-jj: j = Number of Distinct Alleles at Each Locus, Default: 10",
    "     For Simulation Only",
};

// The seven required options, in the order their absence is checked.
const char kRequired[] = "DFNALKI";

[[noreturn]] void FailWithUsage() {
  PrintUsage();
  EndRun(1);
}

[[noreturn]] void FailUnknownOption(const char* argument) {
  ReportLine(std::string("Unknown Option - ") + argument);
  FailWithUsage();
}

// The argument text last given for each option letter, for the value checks.
struct SeenArguments {
  std::string text[128];
  bool seen[128] = {};
};

void RequireAtLeast(const SeenArguments& seen, char letter, int32_t value, int32_t least,
                    const char* meaning) {
  if (value >= least) return;
  const unsigned char u = static_cast<unsigned char>(letter);
  const std::string argument = seen.seen[u] ? seen.text[u] : std::string("(default)");
  FailRun("Invalid Option Value " + argument + ": " + meaning + " must be at least " +
          std::to_string(least) + ", got " + std::to_string(value) + " - ParseCommandLine");
}

// Values the chosen mode reads and cannot work with (negative or empty dimensions).
// Mode o never iterates, so any -I is accepted there.
void CheckValues(const RunSettings& s, const SeenArguments& seen) {
  RequireAtLeast(seen, 'N', s.individualCount, 1, "N (Number of Individuals)");
  RequireAtLeast(seen, 'A', s.ploidy, 1, "A (Ploidy)");
  RequireAtLeast(seen, 'L', s.locusCount, 1, "L (Number of Loci)");
  RequireAtLeast(seen, 'K', s.clusterCount, 1, "K (Number of Clusters)");
  if (s.mode != 'o') RequireAtLeast(seen, 'I', s.iterationCount, 1, "I (Number of Iterations)");
  if (s.mode != 'l') {
    RequireAtLeast(seen, 'j', s.simulatedAlleleCount, 1, "j (Number of Distinct Alleles)");
  } else {
    RequireAtLeast(seen, 'r', s.extraRows, 0, "r (Number of Extra Rows)");
    RequireAtLeast(seen, 'c', s.extraColumns, 0, "c (Number of Extra Columns)");
  }
}

}  // namespace

void PrintUsage() {
  for (const char* line : kUsage) std::cout << line << std::endl;
}

RunSettings ParseCommandLine(int argc, const char* const* argv) {
  if (argc < 8) FailWithUsage();

  RunSettings s;
  SeenArguments seen;
  bool required[sizeof(kRequired)] = {};
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];
    if (std::strlen(argument) < 2) FailUnknownOption(argument);
    const char letter = argument[1];
    const char* value = argument + 2;
    switch (letter) {
      case 'A': s.ploidy = std::atoi(value); break;
      case 'I': s.iterationCount = std::atoi(value); break;
      case 'K': s.clusterCount = std::atoi(value); break;
      case 'L': s.locusCount = std::atoi(value); break;
      case 'N': s.individualCount = std::atoi(value); break;
      case 'c': s.extraColumns = std::atoi(value); break;
      case 'j': s.simulatedAlleleCount = std::atoi(value); break;
      case 'r': s.extraRows = std::atoi(value); break;
      case 'F': s.dataFileName = value; break;
      case 'i': s.inputFolder = value; break;
      case 'o': s.outputFolder = value; break;
      case 'D':
        s.mode = value[0];
        if (s.mode != 's' && s.mode != 'o' && s.mode != 'l') FailUnknownOption(argument);
        break;
      case 'a':
        s.emVariant = value[0];
        if (s.emVariant != 'c' && s.emVariant != 'a' && s.emVariant != 's') EndRun(1);
        break;
      case 'm':
        s.initMethod = value[0];
        if (s.initMethod != 'r' && s.initMethod != 'c' && s.initMethod != 'd') EndRun(1);
        break;
      default: FailUnknownOption(argument);
    }
    const unsigned char u = static_cast<unsigned char>(letter);
    seen.text[u] = argument;
    seen.seen[u] = true;
    if (const char* r = std::strchr(kRequired, letter)) required[r - kRequired] = true;
  }
  for (size_t r = 0; r + 1 < sizeof(kRequired); ++r) {
    if (!required[r]) FailWithUsage();
  }
  CheckValues(s, seen);
  return s;
}

std::string InputPath(const RunSettings& settings) {
  if (settings.inputFolder.empty()) return settings.dataFileName;
  return settings.inputFolder + "/" + settings.dataFileName;
}

std::string OutputBase(const RunSettings& settings) {
  if (settings.outputFolder.empty()) return settings.dataFileName;
  return settings.outputFolder + "/" + settings.dataFileName;
}
