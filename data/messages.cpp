#include "data/messages.h"

#include <cstdlib>
#include <iostream>

void ReportLine(const std::string& line) {
  std::cout.flush();
  std::cerr << line << std::endl;
}

void FailRun(const std::string& line) {
  ReportLine(line);
  std::exit(1);
}
