// The structure plot of a study (plots/structure.png): one panel of stacked membership bars
// per K, all on one x axis of individuals grouped by population, the clusters in the colours
// the sweep's alignment gives them at every K.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "charts/plot_canvas.h"
#include "study/study.h"

// The K drawn: those of settings.plotClusterCounts that the sweep ran (every K of the sweep
// when it names none), ascending.
std::vector<int32_t> PlottedClusterCounts(const StudyRecord& study);

// The pixel columns of the bars: the width given to each population and how individuals map
// onto columns. Up to kMaxBarPixels individuals every individual gets the same whole number
// of pixels (at least one, and the bars kMinBarPixels wide in all when it can); beyond it the
// bars are kMaxBarPixels wide and each column shows the mean of the individuals it covers.
constexpr int32_t kMinBarPixels = 600;
constexpr int32_t kMaxBarPixels = 1200;
// The pixels of each of count groups (count[g] individuals, N in all) side by side.
std::vector<int32_t> GroupPixels(const std::vector<int32_t>& counts, int32_t N);

// Draws the plot as a file of format into bytes. False when cairo failed.
bool DrawStructurePlot(const StudyRecord& study, PlotFormat format, std::string& bytes);
