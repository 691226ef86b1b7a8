// The run driver: the fixed sequence of one run, from data to result files.
#pragma once

#include "app/command_line.h"

// Runs one analysis (or simulation) as the settings say, with the random-number
// generator seeded by seed (the entry point passes the calendar time in seconds).
// Returns the process exit code: 0 when the run reaches its end. Fatal conditions met
// on the way end the process with exit code 1 where they are found.
int RunEstimation(const RunSettings& settings, unsigned long seed);
