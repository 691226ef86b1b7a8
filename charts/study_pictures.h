// The pictures of a study, written into its folder: plots/structure, plots/model_choice and
// plots/convergence in the format of settings.plotFormat, and report.html.
#pragma once

#include <string>

#include "study/study.h"

// Writes the plots and the report of study into dir (plots/ is created). The same record
// gives the same files byte for byte. A file that cannot be made ends the run with one line.
void WriteStudyPictures(const StudyRecord& study, const std::string& dir);
