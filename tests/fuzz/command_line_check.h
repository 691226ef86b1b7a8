// One fuzz input for the command-line parser: the bytes, split at every zero byte, are the
// arguments after the program name. The parser's outcome (settings returned, or the exit
// with its streams) is compared with a literal reading of the option rules.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// "" when the parser and the literal reading agree, else what differed.
std::string CheckCommandLineArguments(const std::vector<std::string>& args);
std::string CheckCommandLineInput(const uint8_t* data, size_t size);
