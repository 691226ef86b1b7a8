#include "data/messages.h"

#include <cstdlib>
#include <iostream>

namespace {

RunEndHandler runEndHandler = nullptr;

}  // namespace

void ReportLine(const std::string& line) {
  std::cout.flush();
  std::cerr << line << std::endl;
}

void FailRun(const std::string& line) {
  ReportLine(line);
  EndRun(1);
}

void EndRun(int exitCode) {
  if (runEndHandler != nullptr) runEndHandler(exitCode);
  std::exit(exitCode);
}

void SetRunEndHandler(RunEndHandler handler) {
  runEndHandler = handler;
}
