// The study command's options of its EM after the annealing: --acceleration and --stop,
// added to the command line and checked in one place (study/accelerated_run.h).
#pragma once

#include <CLI/CLI.hpp>

#include "study/study.h"

// The tolerance of --stop per-copy when --tolerance is not given: the gain per observed
// allele copy (bench/README.md#acceleration).
constexpr double kPerCopyTolerance = 1e-9;

// Adds --acceleration and --stop to app.
void AddEmOptions(CLI::App& app, SweepSettings& settings);

// Checks their values once app is parsed, and gives --stop per-copy its own default tolerance
// when --tolerance was not given. An error ends the run with one line naming the option.
void CheckEmOptions(const CLI::App& app, SweepSettings& settings);
