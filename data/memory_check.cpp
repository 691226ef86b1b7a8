#include "data/memory_check.h"

#include <unistd.h>

#include <cstdio>

#include "data/messages.h"

double PhysicalMemoryBytes() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long pageSize = sysconf(_SC_PAGE_SIZE);
  if (pages <= 0 || pageSize <= 0) return 0.0;
  return static_cast<double>(pages) * static_cast<double>(pageSize);
}

void RequireMemory(double bytes, const std::string& what, const std::string& routine) {
  const double available = PhysicalMemoryBytes();
  if (available <= 0.0 || bytes <= available) return;
  char amounts[96];
  std::snprintf(amounts, sizeof(amounts), "%.1f GiB needed, %.1f GiB on this computer",
                bytes / 1073741824.0, available / 1073741824.0);
  FailRun("Not enough memory for " + what + " (" + amounts + ") - " + routine);
}
