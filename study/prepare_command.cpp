#include "study/prepare_command.h"

#include <filesystem>
#include <iostream>

#include "data/prepared_study.h"
#include "data/study_input.h"

int RunPrepareCommand(const PrepareSettings& settings) {
  const StudyData data = ReadStudyInput(settings.inputPath, settings.reader);
  if (!settings.quiet) {
    std::cerr << "emclade-sweep: " << settings.inputPath << ": " << data.detected << std::endl;
  }
  WritePreparedStudy(settings.outPath, data);
  std::error_code error;
  const auto bytes = std::filesystem::file_size(settings.outPath, error);
  std::cout << "emclade-sweep: " << data.X.N << " individuals, " << data.X.L << " loci in "
            << settings.outPath << " (" << (error ? 0 : bytes) << " bytes); give it as INPUT to "
            << "emclade-sweep" << std::endl;
  return 0;
}
