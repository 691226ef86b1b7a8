// The supervision file of a supervised sweep (--supervised): two tab-separated columns, an
// individual's name and its reference population, one individual a line. The individuals it
// names are held at their population's cluster; the others are estimated.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct Supervision {
  std::vector<std::string> populations;  // the reference populations, in order of first line
  std::vector<int32_t> cluster;          // per individual of names: its population's index, or -1
};

// Reads text, the content of the file path, against the individuals' names. A line that is not
// two tab-separated columns, an empty population, a line with a population but no individual
// ("a population with no individual"), a name that is not an individual of the input, an
// individual named twice, or a file naming no individual ends the run with one line naming
// file and line.
Supervision ReadSupervisionText(const std::string& path, std::string_view text,
                                const std::vector<std::string>& names);
