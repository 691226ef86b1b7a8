#include <new>
#include <stdexcept>

#include "app/sweep_command_line.h"
#include "charts/study_pictures.h"
#include "data/messages.h"
#include "study/sweep.h"

int main(int argc, char** argv) {
  try {
    const SweepSettings settings = ParseSweepCommandLine(argc, argv);
    return RunSweepCommand(settings, WriteStudyPictures);
  } catch (const std::bad_alloc&) {
    FailRun("emclade-sweep: out of memory");
  } catch (const std::length_error&) {
    FailRun("emclade-sweep: out of memory");
  }
}
