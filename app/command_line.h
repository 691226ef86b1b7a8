// The command line: option letters, their values, the usage text and the checks.
#pragma once

#include <cstdint>
#include <string>

// Every option value of one run; filled once by ParseCommandLine, read-only afterwards.
struct RunSettings {
  char mode = '\0';                     // -D: s (simulate, save, analyse), o (simulate, save), l (load, analyse)
  std::string dataFileName;             // -F
  int32_t individualCount = 150;        // -N
  int32_t ploidy = 2;                   // -A
  int32_t locusCount = 10;              // -L
  int32_t clusterCount = 3;             // -K
  int32_t iterationCount = 1000;        // -I
  char emVariant = 'c';                 // -a: c plain, a annealing, s stochastic
  char initMethod = 'c';                // -m: r random, c hierarchical clustering, d Dirichlet
  int32_t extraRows = 0;                // -r
  int32_t extraColumns = 0;             // -c
  std::string inputFolder;              // -i
  std::string outputFolder;             // -o
  int32_t simulatedAlleleCount = 10;    // -j
};

// Writes the 25-line usage text to standard output.
void PrintUsage();

// Parses argv into a complete RunSettings, or writes the failure's messages and ends the
// process with exit code 1. After the letter checks, one pass rejects values the chosen
// mode cannot work with ("... - ParseCommandLine").
RunSettings ParseCommandLine(int argc, const char* const* argv);

// inputFolder + "/" + dataFileName, or the name alone when no folder was given.
std::string InputPath(const RunSettings& settings);
// outputFolder + "/" + dataFileName, or the name alone; every output name starts with it.
std::string OutputBase(const RunSettings& settings);
