// Refusing runs whose tables cannot fit in memory, before any is built.
#pragma once

#include <string>

// Bytes of physical memory on this machine (0 when it cannot be told).
double PhysicalMemoryBytes();

// Ends the run with one line naming the routine and what was asked for when bytes
// exceed the machine's physical memory.
void RequireMemory(double bytes, const std::string& what, const std::string& routine);
