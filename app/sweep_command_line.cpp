#include "app/sweep_command_line.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <iostream>
#include <limits>
#include <thread>

#include "app/sweep_em_options.h"
#include "app/sweep_picture_options.h"
#include "data/messages.h"
#include "study/model.h"
#include "study/run_schedule.h"
#include "study/run_selection.h"
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

namespace {

// A reader option's value from least to most: out of range (a negative value too: leaving the
// option out has it detected) is refused with one line naming the option.
CLI::Validator ReaderBound(int64_t least, int64_t most, const char* detected) {
  return CLI::Validator(
      [=](std::string& text) {
        int64_t value = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (error == std::errc() && end == text.data() + text.size() && value >= least &&
            value <= most) {
          return std::string();
        }
        const std::string range =
            "expected a whole number from " + std::to_string(least) + " to " + std::to_string(most);
        if (text.compare(0, 2, "--") == 0) return range + ", got the option " + text + " instead";
        return range + ", got \"" + text + "\" (" + detected + ")";
      },
      "");
}

}  // namespace

void AddReaderOptions(CLI::App& app, ReaderOptions& reader) {
  const char* group = "Reading the input (detected from the file when not given)";
  const char* detected = "leave the option out to have it detected from the file";
  app.add_option("--header-rows", reader.headerRows, "STRUCTURE: rows before the first record")
      ->type_name("N")
      ->check(ReaderBound(0, int64_t{1} << 30, detected))
      ->group(group);
  app.add_option("--label-columns", reader.labelColumns,
                 "STRUCTURE: label columns in front of the values")
      ->type_name("N")
      ->check(ReaderBound(0, int64_t{1} << 20, detected))
      ->group(group);
  app.add_option("--population-column", reader.populationColumn,
                 "STRUCTURE: the label column (from 1) that names the population")
      ->type_name("N")
      ->check(ReaderBound(1, int64_t{1} << 20, detected))
      ->group(group);
  app.add_option("--ploidy", reader.ploidy, "copies per individual and locus")
      ->type_name("N")
      ->check(ReaderBound(1, 64, detected))
      ->group(group);
  app.add_option("--one-row-per-individual", reader.oneRowPerIndividual,
                 "STRUCTURE: 1: every copy of an individual on one row; 0: one row per copy")
      ->type_name("0|1")
      ->check(ReaderBound(0, 1, detected))
      ->group(group);
  app.add_option("--populations", reader.populationsFile,
                 "file of two tab-separated columns: individual name, population")
      ->type_name("FILE")
      ->group(group);
}

bool ParseRunList(const std::string& text, std::vector<RunId>& runs) {
  runs.clear();
  size_t begin = 0;
  while (begin <= text.size()) {
    const size_t comma = std::min(text.find(',', begin), text.size());
    const std::string item = text.substr(begin, comma - begin);
    const size_t colon = item.find(':');
    RunId id;
    if (colon == std::string::npos || !ParseCount(item.substr(0, colon), id.K) ||
        !ParseCount(item.substr(colon + 1), id.replicate)) {
      return false;
    }
    runs.push_back(id);
    begin = comma + 1;
  }
  std::sort(runs.begin(), runs.end());
  runs.erase(std::unique(runs.begin(), runs.end()), runs.end());
  return true;
}

bool ParseShard(const std::string& text, int32_t& shard, int32_t& shards) {
  const size_t slash = text.find('/');
  return slash != std::string::npos && ParseCount(text.substr(0, slash), shard) &&
         ParseCount(text.substr(slash + 1), shards) && shard <= shards;
}

void CheckPartOptions(const std::string& runsText, const std::string& shardText,
                      SweepSettings& settings) {
  if (!runsText.empty() && !shardText.empty()) {
    FailRun("emclade-sweep: --runs and --shard: give one of them, got both");
  }
  if (!runsText.empty() && !ParseRunList(runsText, settings.onlyRuns)) {
    FailRun(
        "emclade-sweep: --runs: expected runs as K:replicate apart by commas, such as "
        "3:1,3:2,4:1; got \"" +
        runsText + "\"");
  }
  if (!shardText.empty() && !ParseShard(shardText, settings.shard, settings.shards)) {
    FailRun("emclade-sweep: --shard: expected I/N, share I of N (1 <= I <= N <= " +
            std::to_string(kMaxClusters) + "), such as 2/8; got \"" + shardText + "\"");
  }
  // Runs named outside the sweep are refused before the input is read, when the K are known.
  if (!settings.onlyRuns.empty() && settings.clusterCountsGiven) {
    SelectRuns(settings, PlanRuns(settings));
  }
}

SweepSettings ParseSweepCommandLine(int argc, const char* const* argv) {
  SweepSettings settings;
  const unsigned cores = std::thread::hardware_concurrency();
  settings.threads = cores > 0 ? static_cast<int32_t>(cores) : 1;
  std::string clusterText;
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
  std::string seedText;
  app.add_option("--seed", seedText, "seed from which every run's seed is derived (default 1)")
      ->type_name("N");
  app.add_option("--threads", settings.threads, "threads (default: every core)")->type_name("N");
  app.add_option("--start", settings.start,
                 "how a run starts: " + StartNames() + " (default " + settings.start + ")")
      ->type_name("NAME");
  app.add_option("--search", settings.search,
                 "after a run converges: none; reassign (move single individuals between "
                 "clusters while the likelihood rises, then EM; kept if it rises); or "
                 "split-merge (reassign, then merge the two clusters that overlap most and "
                 "split the one that fits worst); at most 4 candidates (default " +
                     settings.search + ")")
      ->type_name("NAME");
  app.add_option("--model", settings.model,
                 "the model: " + ModelNames() + " (default " + settings.model + ")")
      ->type_name("NAME");
  app.add_option("--cv", settings.cvFolds,
                 "choose K by V-fold cross-validation: each fold of the genotypes held out in "
                 "turn from the best run of every K, refitted, and scored by its deviance "
                 "(summary.tsv: cv_error, cv_se; V >= 2; default: K of lowest BIC)")
      ->type_name("V");
  app.add_option("--supervised", settings.supervisedFile,
                 "individuals held at their reference population's cluster (two tab-separated "
                 "columns: individual, population; K = the populations)")
      ->type_name("FILE");
  app.add_option("--bootstrap", settings.bootstrap,
                 "standard errors of the best run's memberships of every K from B refits on the "
                 "loci drawn with replacement: best/K<K>.Q_se, q_se_mean in summary.tsv "
                 "(default 0: none; at least 2)")
      ->type_name("B");
  app.add_option("--max-iterations", settings.maxIterations,
                 "EM iterations at most per run (default 10000)")
      ->type_name("N");
  app.add_option("--tolerance", settings.tolerance,
                 "a run stops after an EM step that raises the log-likelihood by less than X "
                 "(default 1e-4; with --stop per-copy X per observed allele copy, default 1e-9; "
                 "0: every iteration runs)")
      ->type_name("X");
  AddEmOptions(app, settings);
  app.add_option("--out", settings.outDir, "folder of the results (default: INPUT's stem + .sweep)")
      ->type_name("DIR");
  app.add_flag("--force", settings.force,
               "replace a DIR that holds files, whole (the old one goes once the new is in place)");
  app.add_flag("--resume", settings.resume,
               "the same command again after an interruption: keep the finished runs (in "
               ".DIR.work/) and make the rest");
  app.add_flag("--quiet", settings.quiet, "no progress lines on standard error");
  AddReaderOptions(app, settings.reader);
  AddPictureOptions(app, settings, plotK);
  std::string runsText, shardText;
  const char* part = "A part of the sweep (its runs to DIR/runs/, gathered by collect)";
  app.add_option("--runs", runsText, "only these runs, as K:replicate: 3:1,3:2,4:1")
      ->type_name("LIST")
      ->group(part);
  app.add_option("--shard", shardText,
                 "only share I of N of the runs: run i of runs.tsv's order (from 0) where "
                 "i mod N = I - 1")
      ->type_name("I/N")
      ->group(part);
  app.footer(
      "Example: emclade-sweep study.str --k 1-8 --replicates 10 --out study.sweep\n"
      "Results: report.html, summary.tsv (model choice), runs.tsv, Q/, best/, individuals.tsv, "
      "plots/, pong/, clumpp/.\n"
      "Large studies: emclade-sweep prepare INPUT --out STUDY.emc reads INPUT once; "
      "emclade-sweep STUDY.emc ... --shard I/N makes a share of the runs; "
      "emclade-sweep collect DIR gathers them (each with --help).\n"
      "After the study: emclade-sweep study.str --k 2-6 --bootstrap 100 (standard errors in "
      "best/K<K>.Q_se); --supervised references.tsv (known populations); "
      "emclade-sweep project study.sweep new.vcf.gz --k 3 (new samples).");

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

  // Every value in one place, each against what it may be.
  struct Bound {
    const char* option;
    int64_t value, least, most;
  };
  const Bound bounds[] = {
      {"--replicates", settings.replicates, 1, 100000},
      {"--threads", settings.threads, 1, 4096},
      {"--max-iterations", settings.maxIterations, 1, 100000000},
      {"--bootstrap", settings.bootstrap, 0, 100000},
  };
  if (app.get_option("--cv")->count() > 0 &&
      (settings.cvFolds < 2 || settings.cvFolds > kMaxCvFolds)) {
    FailRun("emclade-sweep: --cv: expected 2 to " + std::to_string(kMaxCvFolds) + " folds, got " +
            std::to_string(settings.cvFolds));
  }
  if (settings.cvFolds > 0 && !settings.supervisedFile.empty()) {
    FailRun(
        "emclade-sweep: --cv: the K of a supervised sweep is that of its reference "
        "populations (--supervised); leave --cv out");
  }
  for (const Bound& b : bounds) {
    if (b.value < b.least || b.value > b.most) {
      FailRun(std::string("emclade-sweep: ") + b.option + ": expected a whole number from " +
              std::to_string(b.least) + " to " + std::to_string(b.most) + ", got " +
              std::to_string(b.value));
    }
  }
  if (!seedText.empty()) {
    // Every seed is a sweep of its own: a value out of range is refused, never wrapped or cut.
    const auto [end, error] =
        std::from_chars(seedText.data(), seedText.data() + seedText.size(), settings.seed);
    if (error != std::errc() || end != seedText.data() + seedText.size()) {
      FailRun("emclade-sweep: --seed: expected a whole number from 0 to " +
              std::to_string(std::numeric_limits<uint64_t>::max()) + ", got \"" + seedText + "\"");
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
  CheckEmOptions(app, settings);
  if (FindStart(settings.start) == nullptr) {
    FailRun("emclade-sweep: --start: expected one of " + StartNames() + ", got \"" +
            settings.start + "\"");
  }
  if (settings.search != "none" && settings.search != "reassign" &&
      settings.search != "split-merge") {
    FailRun("emclade-sweep: --search: expected none|reassign|split-merge, got \"" +
            settings.search + "\"");
  }
  if (FindModel(settings.model) == nullptr) {
    FailRun("emclade-sweep: --model: expected one of " + ModelNames() + ", got \"" +
            settings.model + "\"");
  }
  if (settings.bootstrap == 1) {
    FailRun(
        "emclade-sweep: --bootstrap: expected 0 (none) or at least 2 replicates (a standard "
        "error needs two), got 1");
  }
  if (settings.bootstrap > 0 && !settings.supervisedFile.empty()) {
    FailRun(
        "emclade-sweep: --bootstrap: not with --supervised (a supervised sweep's refits are "
        "not made): run the bootstrap on an unsupervised sweep");
  }
  if (settings.outDir.empty()) settings.outDir = DefaultOutputFolder(settings.inputPath);
  while (settings.outDir.size() > 1 && settings.outDir.back() == '/') settings.outDir.pop_back();
  CheckPartOptions(runsText, shardText, settings);
  return settings;
}
