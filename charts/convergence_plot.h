// The convergence plot of a study (plots/convergence.png): the log-likelihood of every
// iteration of every replicate of the chosen K, one line per replicate, coloured by mode.
#pragma once

#include <string>

#include "charts/plot_canvas.h"
#include "study/study.h"

// Draws the plot as a file of format into bytes. False when cairo failed.
bool DrawConvergencePlot(const StudyRecord& study, PlotFormat format, std::string& bytes);
