#include "data/supervision_file.h"

#include <unordered_map>

#include "data/input_messages.h"
#include "data/text_lines.h"

Supervision ReadSupervisionText(const std::string& path, std::string_view text,
                                const std::vector<std::string>& names) {
  std::unordered_map<std::string, int32_t> individual;
  for (size_t n = 0; n < names.size(); ++n) {
    individual.try_emplace(names[n], static_cast<int32_t>(n));
  }
  Supervision s;
  s.cluster.assign(names.size(), -1);
  std::unordered_map<std::string, int32_t> populationOf;
  TextLines lines(text);
  std::string_view line;
  while (lines.Next(line)) {
    if (Trimmed(line).empty()) continue;
    const size_t tab = line.find('\t');
    if (tab == std::string_view::npos || line.find('\t', tab + 1) != std::string_view::npos) {
      FailInput(path, LineAt(lines.number()),
                "expected two tab-separated columns (individual, reference population)");
    }
    const std::string name(Trimmed(line.substr(0, tab)));
    const std::string population(Trimmed(line.substr(tab + 1)));
    if (population.empty()) {
      FailInput(path, LineAt(lines.number()), "expected a reference population, found none");
    }
    if (name.empty()) {
      FailInput(path, LineAt(lines.number()),
                "the population " + QuoteToken(population) + " with no individual");
    }
    const auto at = individual.find(name);
    if (at == individual.end()) {
      FailInput(path, LineAt(lines.number()),
                "the individual " + QuoteToken(name) + " is not in the input");
    }
    if (s.cluster[at->second] >= 0) {
      FailInput(path, LineAt(lines.number()), "the individual " + QuoteToken(name) + " again");
    }
    const auto [found, added] =
        populationOf.try_emplace(population, static_cast<int32_t>(s.populations.size()));
    if (added) s.populations.push_back(population);
    s.cluster[at->second] = found->second;
  }
  if (s.populations.empty()) FailInput(path, "", "names no individual of a reference population");
  return s;
}
