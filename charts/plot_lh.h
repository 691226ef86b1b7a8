// The log-likelihood history chart: the log-likelihood of every EM iteration as a line
// over the iteration number, written as a PNG image.
#pragma once

#include <string>
#include <vector>

#include "charts/chart.h"

// The configured chart for the history (entry i is iteration i+1), not yet drawn.
XYChart BuildLHChart(const std::vector<double>& history);

// Draws the history into fileName. Returns -1, with a warning and no file, when an entry
// is below -1e300 (a log-likelihood of minus infinity); otherwise 0, also when the file
// could not be written (a warning says so).
int PlotLH(const std::vector<double>& history, const std::string& fileName);
