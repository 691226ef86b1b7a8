// The study command's command line: GNU long options (CLI11), --help and --version, and the
// checks of every value in one place.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "study/study.h"

namespace CLI {
class App;
}

// The K of --k: a value ("3"), a range ("2-10") or a list of either ("2,4,6", "1-3,8"), each
// K from 1 to 100000; the result ascending without repeats. On a malformed text returns false
// and says why.
bool ParseClusterCounts(const std::string& text, std::vector<int32_t>& clusterCounts,
                        std::string& why);

// INPUT's stem (its name without folder and last extension) + ".sweep", in the current folder.
std::string DefaultOutputFolder(const std::string& inputPath);

// The reader options, shared by the sweep and prepare, added to app: a value out of range
// (a negative one too) ends the run with one line naming the option; an option left out stays
// -1, for the reader to detect.
void AddReaderOptions(CLI::App& app, ReaderOptions& reader);

// --runs: "3:1,3:2,4:1", runs as K:replicate (each 1 to 100000) apart by commas; the result
// ascending without repeats. False on any other text.
bool ParseRunList(const std::string& text, std::vector<RunId>& runs);

// --shard: "I/N" with 1 <= I <= N <= 100000. False on any other text.
bool ParseShard(const std::string& text, int32_t& shard, int32_t& shards);

// Checks --runs and --shard (their texts, once settings.clusterCounts is set) into settings:
// a malformed text, or a run outside the sweep's K and replicates, ends the run with one line.
void CheckPartOptions(const std::string& runsText, const std::string& shardText,
                      SweepSettings& settings);

// Parses argv into complete settings. --help writes the usage to standard output and --version
// the version, each ending the process with exit code 0; an error ends it with one line
// "emclade-sweep: ..." on standard error and exit code 1.
SweepSettings ParseSweepCommandLine(int argc, const char* const* argv);
