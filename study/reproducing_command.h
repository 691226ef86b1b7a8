// The command that makes a study again: the same runs, tables and pictures, whether the study
// was made in one process, or in parts (--runs, --shard) gathered by collect.
#pragma once

#include <string>

#include "study/study.h"

// "emclade-sweep INPUT --k ... --replicates R --seed S --start NAME --max-iterations I
// --tolerance X", then the reader options and the plot options that were given (a setting
// left to the reader or at the plots' default is left out). Only what decides the results
// is named: never --threads, --out, --quiet, --runs or --shard. K is the sweep's K as run
// (the default range already cut at the individuals). Arguments a shell would split or
// expand are in single quotes.
std::string ReproducingCommand(const SweepSettings& settings);

// argument as a shell reads it back: as it stands when it holds no character a shell treats
// specially, else in single quotes.
std::string ShellQuoted(const std::string& argument);
