#include "data/populations_file.h"

#include <unordered_map>
#include <vector>

#include "data/input_messages.h"
#include "data/text_lines.h"

void ApplyPopulationsText(const std::string& path, std::string_view text, StudyData& data) {
  struct Entry {
    std::string population;
    int64_t line;
  };
  std::unordered_map<std::string, Entry> byName;
  TextLines lines(text);
  std::string_view line;
  while (lines.Next(line)) {
    if (Trimmed(line).empty()) continue;
    const size_t tab = line.find('\t');
    const size_t columns = tab == std::string_view::npos                        ? 1
                           : line.find('\t', tab + 1) == std::string_view::npos ? 2
                                                                                : 3;
    if (columns != 2) {
      FailInput(path, LineAt(lines.number()),
                "expected two tab-separated columns (name, population), found " +
                    (columns == 1 ? std::string("one: ") + QuoteToken(Trimmed(line))
                                  : std::string("more")));
    }
    const std::string name(Trimmed(line.substr(0, tab)));
    const std::string population(Trimmed(line.substr(tab + 1)));
    if (name.empty() || population.empty()) {
      FailInput(path, LineAt(lines.number()),
                std::string("expected a name and a population, found an empty ") +
                    (name.empty() ? "name" : "population"));
    }
    const auto [at, added] = byName.try_emplace(name, Entry{population, lines.number()});
    if (!added && at->second.population != population) {
      FailInput(path, LineAt(lines.number()),
                "expected one population for " + name + ", found " + QuoteToken(population) +
                    " here and " + QuoteToken(at->second.population) + " on line " +
                    std::to_string(at->second.line));
    }
  }
  std::vector<std::string> populations;
  std::vector<std::string> missing;
  for (const std::string& name : data.names) {
    const auto at = byName.find(name);
    if (at == byName.end()) {
      missing.push_back(name);
    } else {
      populations.push_back(at->second.population);
    }
  }
  if (!missing.empty()) {
    constexpr size_t kShown = 10;
    std::string list;
    for (size_t i = 0; i < missing.size() && i < kShown; ++i) list += (i ? ", " : "") + missing[i];
    if (missing.size() > kShown)
      list += " and " + std::to_string(missing.size() - kShown) + " more";
    FailInput(path, "",
              "expected a population for every individual, found none for " +
                  std::to_string(missing.size()) + " of " + std::to_string(data.names.size()) +
                  ": " + list);
  }
  data.populations = populations;
}
