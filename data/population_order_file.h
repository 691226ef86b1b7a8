// The file of --population-order: the populations in the order the plots show them, one name
// a line.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// The names of text (the content of the file path), one a line without the blanks round it;
// empty lines are skipped. Every name must be one of populations (the input's, one per
// individual) and come once; a file that names none, a name the input does not have, a name
// given twice, or an input without populations ends the run with one line.
std::vector<std::string> ReadPopulationOrder(const std::string& path, std::string_view text,
                                             const std::vector<std::string>& populations);
