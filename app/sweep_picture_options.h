// The study command's options of its pictures: --plot-k, --plot-format and
// --population-order, added to the command line and checked in one place.
#pragma once

#include <CLI/CLI.hpp>

#include <string>

#include "study/study.h"

// Adds the options to app; --plot-k's text goes to plotK until CheckPictureOptions reads it.
void AddPictureOptions(CLI::App& app, SweepSettings& settings, std::string& plotK);

// Checks the options' values once the rest is parsed (settings.clusterCounts set): --plot-k
// a list of K of the sweep, at most kMaxPlotPanels of them, and --plot-format png, svg or
// pdf. An error ends the run with one line naming the option.
void CheckPictureOptions(const std::string& plotK, SweepSettings& settings);

// Panels of the structure plot at most (each about 90 pixels high).
constexpr size_t kMaxPlotPanels = 300;
