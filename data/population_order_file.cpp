#include "data/population_order_file.h"

#include <set>
#include <unordered_map>

#include "data/input_messages.h"
#include "data/text_lines.h"

std::vector<std::string> ReadPopulationOrder(const std::string& path, std::string_view text,
                                             const std::vector<std::string>& populations) {
  if (populations.empty()) {
    FailInput(path, "",
              "expected an input with populations (a population column, or --populations "
              "FILE), but the input names none");
  }
  const std::set<std::string> known(populations.begin(), populations.end());
  std::unordered_map<std::string, int64_t> listed;
  std::vector<std::string> order;
  TextLines lines(text);
  std::string_view line;
  while (lines.Next(line)) {
    const std::string name(Trimmed(line));
    if (name.empty()) continue;
    if (known.count(name) == 0) {
      std::string names;
      size_t shown = 0;
      for (const std::string& p : known) {
        if (shown == 10) {
          names += ", ...";
          break;
        }
        names += (shown++ > 0 ? ", " : "") + p;
      }
      FailInput(path, LineAt(lines.number()),
                "expected a population of the input (" + names + "), found " + QuoteToken(name));
    }
    const auto [at, added] = listed.try_emplace(name, lines.number());
    if (!added) {
      FailInput(path, LineAt(lines.number()),
                "expected each population once, found " + QuoteToken(name) + " again (first on " +
                    LineAt(at->second) + ")");
    }
    order.push_back(name);
  }
  if (order.empty()) FailInput(path, "", "expected population names, one a line; found none");
  return order;
}
