#include "app/sweep_command_line.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <iostream>
#include <thread>

#include "app/sweep_picture_options.h"
#include "data/messages.h"
#include "study/starts.h"

#ifndef EMCLADE_VERSION
#define EMCLADE_VERSION "unknown"
#endif

namespace {

constexpr int32_t kMaxClusters = 100000;

// A whole number 1 .. kMaxClusters made of digits only.
bool ParseCount(const std::string& text, int32_t& value) {
  if (text.empty() || text.size() > 6) return false;
  int64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  if (v < 1 || v > kMaxClusters) return false;
  value = static_cast<int32_t>(v);
  return true;
}

std::string Quoted(const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t\"'\\$`") == std::string::npos) {
    return argument;
  }
  std::string quoted = "'";
  for (char c : argument) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

}  // namespace

bool ParseClusterCounts(const std::string& text, std::vector<int32_t>& clusterCounts,
                        std::string& why) {
  clusterCounts.clear();
  why = "expected a K (1 to " + std::to_string(kMaxClusters) +
        "), a range such as 2-10 or a list such as 2,4,6; got \"" + text + "\"";
  size_t begin = 0;
  while (begin <= text.size()) {
    const size_t comma = std::min(text.find(',', begin), text.size());
    const std::string item = text.substr(begin, comma - begin);
    const size_t dash = item.find('-');
    int32_t first = 0, last = 0;
    if (dash == std::string::npos) {
      if (!ParseCount(item, first)) return false;
      last = first;
    } else if (!ParseCount(item.substr(0, dash), first) ||
               !ParseCount(item.substr(dash + 1), last) || last < first) {
      if (last < first && last > 0) why = "the range \"" + item + "\" runs backwards";
      return false;
    }
    for (int32_t K = first; K <= last; ++K) clusterCounts.push_back(K);
    begin = comma + 1;
  }
  std::sort(clusterCounts.begin(), clusterCounts.end());
  clusterCounts.erase(std::unique(clusterCounts.begin(), clusterCounts.end()), clusterCounts.end());
  return true;
}

std::string DefaultOutputFolder(const std::string& inputPath) {
  std::string stem = std::filesystem::path(inputPath).stem().string();
  if (stem.empty() || stem == "." || stem == "..") stem = "study";
  return stem + ".sweep";
}

SweepSettings ParseSweepCommandLine(int argc, const char* const* argv) {
  SweepSettings settings;
  const unsigned cores = std::thread::hardware_concurrency();
  settings.threads = cores > 0 ? static_cast<int32_t>(cores) : 1;
  std::string clusterText;
  bool oneRowPerIndividual = false;
  std::string plotK;

  CLI::App app{
      "emclade-sweep: a whole population-structure study in one command. Runs the "
      "K-cluster mixture model for every K and replicate asked for, aligns the clusters "
      "of every run, chooses K and writes tables ready for pong, CLUMPP and pophelper.",
      "emclade-sweep"};
  app.set_version_flag("--version", "emclade-sweep " EMCLADE_VERSION);
  app.get_formatter()->column_width(34);
  app.add_option("INPUT", settings.inputPath,
                 "genotype file (STRUCTURE, GENEPOP, VCF/BCF or PLINK)")
      ->required()
      ->type_name("FILE");
  app.add_option("--k", clusterText,
                 "the K to run: 3, 2-10 or 2,4,6 (default 1-10, at most the individuals)")
      ->type_name("LIST");
  app.add_option("--replicates", settings.replicates,
                 "runs of every K, each from its own seed (default 10)")
      ->type_name("N");
  app.add_option("--seed", settings.seed, "seed from which every run's seed is derived (default 1)")
      ->type_name("N");
  app.add_option("--threads", settings.threads, "threads (default: every core)")->type_name("N");
  app.add_option("--start", settings.start,
                 "how a run starts: " + StartNames() + " (default " + settings.start + ")")
      ->type_name("NAME");
  app.add_option("--max-iterations", settings.maxIterations,
                 "EM iterations at most per run (default 10000)")
      ->type_name("N");
  app.add_option("--tolerance", settings.tolerance,
                 "a run stops after an iteration that raises the log-likelihood by less than X "
                 "(default 1e-4; 0: every iteration runs)")
      ->type_name("X");
  app.add_option("--out", settings.outDir, "folder of the results (default: INPUT's stem + .sweep)")
      ->type_name("DIR");
  app.add_flag("--quiet", settings.quiet, "no progress lines on standard error");
  const char* reader = "Reading the input (detected from the file when not given)";
  app.add_option("--header-rows", settings.reader.headerRows,
                 "STRUCTURE: rows before the first record")
      ->type_name("N")
      ->group(reader);
  app.add_option("--label-columns", settings.reader.labelColumns,
                 "STRUCTURE: label columns in front of the values")
      ->type_name("N")
      ->group(reader);
  app.add_option("--population-column", settings.reader.populationColumn,
                 "STRUCTURE: the label column (from 1) that names the population")
      ->type_name("N")
      ->group(reader);
  app.add_option("--ploidy", settings.reader.ploidy, "copies per individual and locus")
      ->type_name("N")
      ->group(reader);
  app.add_flag("--one-row-per-individual", oneRowPerIndividual,
               "STRUCTURE: every copy of an individual on one row")
      ->group(reader);
  app.add_option("--populations", settings.reader.populationsFile,
                 "file of two tab-separated columns: individual name, population")
      ->type_name("FILE")
      ->group(reader);
  AddPictureOptions(app, settings, plotK);
  app.footer(
      "Example: emclade-sweep study.str --k 1-8 --replicates 10 --out study.sweep\n"
      "Results: report.html, summary.tsv (model choice), runs.tsv, Q/, best/, individuals.tsv, "
      "plots/, pong/, clumpp/.");

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::string text = app.help();
    if (text.empty() || text.back() != '\n') text += '\n';
    std::cout << text;
    EndRun(0);
  } catch (const CLI::CallForVersion& e) {
    std::cout << e.what() << std::endl;
    EndRun(0);
  } catch (const CLI::ParseError& e) {
    FailRun(std::string("emclade-sweep: ") + e.what() + " (see emclade-sweep --help)");
  }

  // Every value in one place, each against what it may be; a reader option left at -1 was not
  // given and stays for the reader to detect.
  struct Bound {
    const char* option;
    int64_t value, least, most;
    bool readerOption;
  };
  const Bound bounds[] = {
      {"--replicates", settings.replicates, 1, 100000, false},
      {"--threads", settings.threads, 1, 4096, false},
      {"--max-iterations", settings.maxIterations, 1, 100000000, false},
      {"--header-rows", settings.reader.headerRows, 0, int64_t{1} << 30, true},
      {"--label-columns", settings.reader.labelColumns, 0, int64_t{1} << 20, true},
      {"--population-column", settings.reader.populationColumn, 1, int64_t{1} << 20, true},
      {"--ploidy", settings.reader.ploidy, 1, 64, true},
  };
  for (const Bound& b : bounds) {
    if (b.readerOption && b.value == -1) continue;
    if (b.value < b.least || b.value > b.most) {
      FailRun(std::string("emclade-sweep: ") + b.option + ": expected a whole number from " +
              std::to_string(b.least) + " to " + std::to_string(b.most) + ", got " +
              std::to_string(b.value));
    }
  }
  if (!(settings.tolerance >= 0.0) || std::isinf(settings.tolerance)) {
    FailRun("emclade-sweep: --tolerance: expected 0 or a positive number, got " +
            std::to_string(settings.tolerance));
  }
  std::string why;
  settings.clusterCountsGiven = !clusterText.empty();
  if (!settings.clusterCountsGiven) clusterText = "1-10";
  if (!ParseClusterCounts(clusterText, settings.clusterCounts, why)) {
    FailRun("emclade-sweep: --k: " + why);
  }
  CheckPictureOptions(plotK, settings);
  if (FindStart(settings.start) == nullptr) {
    FailRun("emclade-sweep: --start: expected one of " + StartNames() + ", got \"" +
            settings.start + "\"");
  }
  if (oneRowPerIndividual) settings.reader.oneRowPerIndividual = 1;
  if (settings.outDir.empty()) settings.outDir = DefaultOutputFolder(settings.inputPath);
  while (settings.outDir.size() > 1 && settings.outDir.back() == '/') settings.outDir.pop_back();
  for (int i = 0; i < argc; ++i) {
    if (i > 0) settings.commandLine += ' ';
    settings.commandLine += Quoted(i == 0 ? "emclade-sweep" : argv[i]);
  }
  return settings;
}
