// Runs a routine that may end the process (the reader, the parser) inside this process:
// its end is turned into an unwind through the run-end handler, and both console streams
// are captured. For fuzz targets and the tests that replay their inputs.
#pragma once

#include <functional>
#include <string>

struct InProcessResult {
  bool ended = false;  // the routine called EndRun instead of returning
  int exitCode = 0;    // the code it asked for, when it ended
  std::string out;     // what it wrote to standard output
  std::string err;     // what it wrote to standard error
};

InProcessResult RunInProcess(const std::function<void()>& body);

// A fresh empty folder under the system's temporary folder, made once per process.
const std::string& ScratchDir();
