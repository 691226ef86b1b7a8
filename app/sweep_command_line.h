// The study command's command line: GNU long options (CLI11), --help and --version, and the
// checks of every value in one place.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "study/study.h"

// The K of --k: a value ("3"), a range ("2-10") or a list of either ("2,4,6", "1-3,8"), each
// K from 1 to 100000; the result ascending without repeats. On a malformed text returns false
// and says why.
bool ParseClusterCounts(const std::string& text, std::vector<int32_t>& clusterCounts,
                        std::string& why);

// INPUT's stem (its name without folder and last extension) + ".sweep", in the current folder.
std::string DefaultOutputFolder(const std::string& inputPath);

// Parses argv into complete settings. --help writes the usage to standard output and --version
// the version, each ending the process with exit code 0; an error ends it with one line
// "emclade-sweep: ..." on standard error and exit code 1.
SweepSettings ParseSweepCommandLine(int argc, const char* const* argv);
