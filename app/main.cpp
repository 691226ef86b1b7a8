#include <ctime>
#include <new>
#include <stdexcept>

#include "app/command_line.h"
#include "app/run_driver.h"
#include "data/messages.h"

int main(int argc, char** argv) {
  try {
    const RunSettings settings = ParseCommandLine(argc, argv);
    return RunEstimation(settings, static_cast<unsigned long>(std::time(nullptr)));
  } catch (const std::bad_alloc&) {
    FailRun("Out of memory - emclade");
  } catch (const std::length_error&) {
    FailRun("Out of memory - emclade");
  }
}
