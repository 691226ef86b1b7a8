// libFuzzer entry for the study readers' check of this input kind.
#include <cstdio>
#include <cstdlib>

#include "fuzz/study_readers_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string problem = CheckProjectionInput(data, size);
  if (!problem.empty()) {
    std::fprintf(stderr, "%s\n", problem.c_str());
    std::abort();
  }
  return 0;
}
