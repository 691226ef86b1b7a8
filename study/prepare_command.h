// The prepare command: a study's input read once and written as a prepared study file
// (data/prepared_study.h) that every later command reads in one pass, whatever the format.
#pragma once

#include <string>

#include "data/reader_options.h"

struct PrepareSettings {
  std::string inputPath;
  ReaderOptions reader;
  std::string outPath;  // the prepared file (default: INPUT's stem + ".emc")
  bool quiet = false;
};

// Reads settings.inputPath with the reader options, writes settings.outPath and one closing
// line on standard output. Returns the exit code (0); failures end the run with one line.
int RunPrepareCommand(const PrepareSettings& settings);
