#include "app/sweep_subcommands.h"

#include <CLI/CLI.hpp>

#include <filesystem>
#include <iostream>

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
  app.footer("Example: emclade-sweep collect study.sweep");
  ParseSubcommand(app, argc, argv);
  while (settings.dir.size() > 1 && settings.dir.back() == '/') settings.dir.pop_back();
  return settings;
}
