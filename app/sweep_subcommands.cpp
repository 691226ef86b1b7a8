#include "app/sweep_subcommands.h"

#include <unistd.h>
#include <CLI/CLI.hpp>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <thread>

#include "app/sweep_command_line.h"
#include "data/messages.h"

namespace {

// Parses argv[1..] with app, whose name is the subcommand's.
void ParseSubcommand(CLI::App& app, int argc, const char* const* argv) {
  app.get_formatter()->column_width(34);
  try {
    app.parse(argc - 1, argv + 1);
  } catch (const CLI::CallForHelp&) {
    std::string text = app.help();
    if (text.empty() || text.back() != '\n') text += '\n';
    std::cout << text;
    EndRun(0);
  } catch (const CLI::ParseError& e) {
    FailRun(std::string("emclade-sweep ") + argv[1] + ": " + e.what() + " (see emclade-sweep " +
            argv[1] + " --help)");
  }
}

}  // namespace

PrepareSettings ParsePrepareCommandLine(int argc, const char* const* argv) {
  PrepareSettings settings;
  CLI::App app{
      "emclade-sweep prepare: reads INPUT once and writes it as a prepared study file (the coded "
      "table with names, populations and alleles; versioned and checksummed) that every "
      "emclade-sweep command takes as INPUT and reads in one pass.",
      "emclade-sweep prepare"};
  app.add_option("INPUT", settings.inputPath,
                 "genotype file (STRUCTURE, GENEPOP, VCF/BCF or PLINK)")
      ->required()
      ->type_name("FILE");
  app.add_option("--out", settings.outPath, "the prepared file (default: INPUT's stem + .emc)")
      ->type_name("FILE");
  app.add_flag("--quiet", settings.quiet, "no line on standard error");
  AddReaderOptions(app, settings.reader);
  app.footer("Example: emclade-sweep prepare study.vcf.gz --out study.emc");
  ParseSubcommand(app, argc, argv);
  if (settings.outPath.empty()) {
    std::string stem = std::filesystem::path(settings.inputPath).stem().string();
    if (stem.empty() || stem == "." || stem == "..") stem = "study";
    settings.outPath = stem + ".emc";
  }
  return settings;
}

CollectSettings ParseCollectCommandLine(int argc, const char* const* argv) {
  CollectSettings settings;
  CLI::App app{
      "emclade-sweep collect: gathers the runs of a sweep made in parts (--runs or --shard, "
      "from one or many jobs, in any order) from DIR/runs/ and writes every file of the sweep "
      "into DIR, byte for byte those one process writes (the seconds aside).",
      "emclade-sweep collect"};
  app.add_option("DIR", settings.dir, "the sweep's folder (the --out of its parts)")
      ->required()
      ->type_name("DIR");
  app.add_flag("--allow-missing", settings.allowMissing,
               "collect the runs that are there; the report and missing_runs.tsv name the others");
  app.add_flag("--quiet", settings.quiet, "no progress line on standard error");
  const unsigned cores = std::thread::hardware_concurrency();
  settings.threads = cores > 0 ? static_cast<int32_t>(std::min(cores, 1024u)) : 1;
  app.add_option(
         "--threads", settings.threads,
         "threads of the --cv and --bootstrap fits that collect makes (default: every core; "
         "the results do not depend on them)")
      ->check(CLI::Range(1, 1024))
      ->type_name("T");
  app.footer("Example: emclade-sweep collect study.sweep");
  ParseSubcommand(app, argc, argv);
  settings.terminal = isatty(STDERR_FILENO) == 1;
  while (settings.dir.size() > 1 && settings.dir.back() == '/') settings.dir.pop_back();
  return settings;
}

ProjectSettings ParseProjectCommandLine(int argc, const char* const* argv) {
  ProjectSettings settings;
  CLI::App app{
      "emclade-sweep project: places the individuals of INPUT on the best run of K of a "
      "finished study, its allele frequencies held fixed: their memberships (mixture model) or "
      "ancestry proportions (admixture model) in the study's aligned cluster order. Loci are "
      "matched by name; INPUT's loci that the study lacks are left out.",
      "emclade-sweep project"};
  app.add_option("STUDY_DIR", settings.studyDir, "the study's folder (the --out of its sweep)")
      ->required()
      ->type_name("DIR");
  app.add_option("INPUT", settings.inputPath,
                 "the new individuals (STRUCTURE, GENEPOP, VCF/BCF, PLINK or prepared)")
      ->required()
      ->type_name("FILE");
  app.add_option("--k", settings.K, "the K of the study's best run to project onto")
      ->required()
      ->check(CLI::Range(1, 100000))
      ->type_name("K");
  app.add_option("--out", settings.outDir,
                 "the folder of K<K>.Q and individuals.tsv (default: INPUT's stem + .projection)")
      ->type_name("DIR");
  app.add_option("--threads", settings.threads, "threads (the results do not depend on them)")
      ->check(CLI::Range(1, 1024))
      ->type_name("T");
  app.add_option("--tolerance", settings.tolerance,
                 "admixture: the EM over Q stops at a step gaining less than this per allele copy")
      ->check(CLI::PositiveNumber)
      ->type_name("X");
  app.add_flag("--quiet", settings.quiet, "no line on standard error");
  AddReaderOptions(app, settings.reader);
  app.footer("Example: emclade-sweep project study.sweep new.vcf.gz --k 3 --out new.projection");
  ParseSubcommand(app, argc, argv);
  while (settings.studyDir.size() > 1 && settings.studyDir.back() == '/') {
    settings.studyDir.pop_back();
  }
  if (settings.outDir.empty()) {
    std::string stem = std::filesystem::path(settings.inputPath).stem().string();
    if (stem.empty() || stem == "." || stem == "..") stem = "input";
    settings.outDir = stem + ".projection";
  }
  return settings;
}
