// Console error lines: one line on standard error, naming the routine after " - ".
#pragma once

#include <string>

// Writes one line to standard error (standard output is flushed first, standard
// error is unbuffered) and returns. Used for warnings, which leave the run going.
void ReportLine(const std::string& line);

// Writes one line to standard error and ends the process with exit code 1.
[[noreturn]] void FailRun(const std::string& line);

// Ends the process with exitCode. Every fatal path goes through here, so that a harness
// running the reader or the parser in-process (a fuzzer) can install a handler that
// unwinds instead. Without a handler, or when the handler returns, this is std::exit.
[[noreturn]] void EndRun(int exitCode);

// The handler EndRun calls first; nullptr (the default) means plain std::exit.
using RunEndHandler = void (*)(int exitCode);
void SetRunEndHandler(RunEndHandler handler);
