// The assignment-probability chart: one bar per sample, split into one segment per
// cluster in proportion to the sample's clustering probabilities, written as PNG.
#pragma once

#include <cstdint>
#include <string>

#include "charts/chart.h"
#include "data/vectors.h"

// Width of the plot area for N samples: 30 pixels a sample, narrowed evenly when the
// chart (plot area plus 100 pixels of margins) would be wider than an image can be.
int32_t APPlotWidth(int32_t N);

// The configured chart for probabilities Q (N rows of K), not yet drawn.
XYChart BuildAPChart(const Vector2D<double>& probabilities);

// Draws the chart into fileName. Always 0; a file that could not be written gives a
// warning and the run goes on.
int PlotAP(const Vector2D<double>& probabilities, const std::string& fileName);
