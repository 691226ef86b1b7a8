// The model-choice plot of a study (plots/model_choice.png): against K, the log-likelihood
// (the best replicate, and the mean with one standard deviation either side), AIC, BIC and
// ICL, Evanno's delta K, and with --cv the cross-validation error (one standard error either
// side), with the chosen K marked in every panel.
#pragma once

#include <string>

#include "charts/plot_canvas.h"
#include "study/study.h"

// Draws the plot as a file of format into bytes. False when cairo failed.
bool DrawModelChoicePlot(const StudyRecord& study, PlotFormat format, std::string& bytes);
