// libFuzzer entry for the command-line parser.
#include <cstdio>
#include <cstdlib>

#include "fuzz/command_line_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string problem = CheckCommandLineInput(data, size);
  if (!problem.empty()) {
    std::fprintf(stderr, "%s\n", problem.c_str());
    std::abort();
  }
  return 0;
}
