// Runs the real emclade executable the way a user would, for end-to-end tests.
#pragma once

#include <string>
#include <vector>

struct ProgramResult {
  int exitCode = -1;  // -1 when the process did not exit normally
  int signal = 0;     // the signal that ended it, if any
  bool timedOut = false;
  std::string out;
  std::string err;
};

// Runs the executable with args (argv[0] is added), in workDir when not empty, and kills
// it after timeoutSeconds.
ProgramResult RunProgram(const std::vector<std::string>& args, const std::string& workDir = "",
                         double timeoutSeconds = 300.0, const std::string& exe = EMCLADE_EXE);

// A fresh empty folder under the system's temporary folder.
std::string MakeTempDir();
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& text);
bool FileExists(const std::string& path);
// The lines of text, without their line ends.
std::vector<std::string> SplitLines(const std::string& text);
