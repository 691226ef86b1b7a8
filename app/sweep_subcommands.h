// The study command's subcommands, "emclade-sweep prepare ..." and "emclade-sweep collect ...":
// their command lines (CLI11), each with --help.
#pragma once

#include "study/collect.h"
#include "study/prepare_command.h"
#include "study/projection.h"

// argv[1] is "prepare" or "collect". --help writes the usage and ends the process with exit
// code 0; an error ends it with one line "emclade-sweep: ..." and exit code 1.
PrepareSettings ParsePrepareCommandLine(int argc, const char* const* argv);
CollectSettings ParseCollectCommandLine(int argc, const char* const* argv);
// argv[1] is "project".
ProjectSettings ParseProjectCommandLine(int argc, const char* const* argv);
