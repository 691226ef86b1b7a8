#include <cstring>
#include <new>
#include <stdexcept>

#include "app/sweep_command_line.h"
#include "app/sweep_subcommands.h"
#include "charts/study_pictures.h"
#include "data/messages.h"
#include "study/sweep.h"

int main(int argc, char** argv) {
  try {
    if (argc >= 2 && std::strcmp(argv[1], "prepare") == 0) {
      return RunPrepareCommand(ParsePrepareCommandLine(argc, argv));
    }
    if (argc >= 2 && std::strcmp(argv[1], "project") == 0) {
      return RunProjectCommand(ParseProjectCommandLine(argc, argv));
    }
    if (argc >= 2 && std::strcmp(argv[1], "collect") == 0) {
      return RunCollectCommand(ParseCollectCommandLine(argc, argv), WriteStudyPictures);
    }
    const SweepSettings settings = ParseSweepCommandLine(argc, argv);
    return RunSweepCommand(settings, WriteStudyPictures);
  } catch (const std::bad_alloc&) {
    FailRun("emclade-sweep: out of memory");
  } catch (const std::length_error&) {
    FailRun("emclade-sweep: out of memory");
  }
}
