// The report of a study (report.html): one self-contained web page (styles and images inside
// it, nothing loaded from anywhere, no script) with the input, the choice of K, the plots,
// the modes of every K, the runs' times, how to repeat the sweep and links to its files.
#pragma once

#include <string>

#include "study/study.h"

// The plots as PNG files, shown in the page.
struct StudyImages {
  std::string structure, modelChoice, convergence;
};

// The page of study. plotExtension names the files in plots/ that the page links to ("png",
// "svg" or "pdf"). A pure function of its arguments: the same record gives the same page.
std::string BuildStudyReport(const StudyRecord& study, const StudyImages& images,
                             const std::string& plotExtension);

// text with &, <, >, " and ' written as character references.
std::string EscapeHtml(const std::string& text);
