// libFuzzer entry for the genotype-file reader.
#include <cstdio>
#include <cstdlib>

#include "fuzz/genotype_file_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string problem = CheckGenotypeFileInput(data, size);
  if (!problem.empty()) {
    std::fprintf(stderr, "%s\n", problem.c_str());
    std::abort();
  }
  return 0;
}
