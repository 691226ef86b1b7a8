// Console error lines: one line on standard error, naming the routine after " - ".
#pragma once

#include <string>

// Writes one line to standard error (standard output is flushed first, standard
// error is unbuffered) and returns. Used for warnings, which leave the run going.
void ReportLine(const std::string& line);

// Writes one line to standard error and ends the process with exit code 1.
[[noreturn]] void FailRun(const std::string& line);
