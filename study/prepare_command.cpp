#include "study/prepare_command.h"

#include <filesystem>
#include <iostream>

#include "data/prepared_study.h"
#include "data/study_input.h"
#include "study/study_folder.h"

int RunPrepareCommand(const PrepareSettings& settings) {
  // Before the input is read: the prepared file must not take the place of its own input.
  RefuseWritingOverInputs({settings.inputPath, settings.reader.populationsFile}, settings.outPath,
                          "--out");
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
