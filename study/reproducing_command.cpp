#include "study/reproducing_command.h"

#include "study/record_text.h"
#include "study/sweep.h"

std::string ShellQuoted(const std::string& argument) {
  bool plain = !argument.empty();
  for (char c : argument) {
    const bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '-' || c == '_' || c == '.' || c == '/' || c == ',' || c == ':' ||
                      c == '+' || c == '=' || c == '@' || c == '%';
    plain = plain && safe;
  }
  if (plain) return argument;
  std::string quoted = "'";
  for (char c : argument) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string ReproducingCommand(const SweepSettings& s) {
  std::string command = "emclade-sweep " + ShellQuoted(s.inputPath);
  auto add = [&command](const char* option, const std::string& value) {
    command += std::string(" ") + option + " " + ShellQuoted(value);
  };
  add("--k", DescribeClusterCounts(s.clusterCounts));
  add("--replicates", std::to_string(s.replicates));
  add("--seed", std::to_string(s.seed));
  add("--start", s.start);
  if (s.model != "mixture") add("--model", s.model);
  add("--max-iterations", std::to_string(s.maxIterations));
  add("--tolerance", ExactReal(s.tolerance));
  if (s.search != SweepSettings().search) add("--search", s.search);
  add("--acceleration", s.acceleration);
  add("--stop", s.stop);
  if (s.cvFolds > 0) add("--cv", std::to_string(s.cvFolds));
  if (!s.supervisedFile.empty()) add("--supervised", s.supervisedFile);
  if (s.bootstrap > 0) add("--bootstrap", std::to_string(s.bootstrap));
  const ReaderOptions& r = s.reader;
  if (r.headerRows >= 0) add("--header-rows", std::to_string(r.headerRows));
  if (r.labelColumns >= 0) add("--label-columns", std::to_string(r.labelColumns));
  if (r.populationColumn >= 0) add("--population-column", std::to_string(r.populationColumn));
  if (r.ploidy >= 0) add("--ploidy", std::to_string(r.ploidy));
  if (r.oneRowPerIndividual >= 0)
    add("--one-row-per-individual", std::to_string(r.oneRowPerIndividual));
  if (!r.populationsFile.empty()) add("--populations", r.populationsFile);
  if (!s.plotClusterCounts.empty()) add("--plot-k", DescribeClusterCounts(s.plotClusterCounts));
  if (s.plotFormat != "png") add("--plot-format", s.plotFormat);
  if (!s.populationOrderFile.empty()) add("--population-order", s.populationOrderFile);
  return command;
}
