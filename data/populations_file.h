// The populations file of the study command: two tab-separated columns, an individual's name
// and its population, one individual a line.
#pragma once

#include <string>
#include <string_view>

#include "data/study_input.h"

// Sets data.populations from text, the content of the file path, by the names of data's
// individuals (it overrides populations read with the genotypes). Lines about other names
// are left aside; an individual the file does not name, a line that is not two
// tab-separated columns, or a name given two populations ends the run with one line.
void ApplyPopulationsText(const std::string& path, std::string_view text, StudyData& data);
