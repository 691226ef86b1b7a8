// The one-line errors of the study command's readers: "emclade-sweep: <file>: <position>:
// <what was expected, what stood there>", then exit code 1.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Ends the run with "emclade-sweep: file: position: what" (position may be empty, then it is
// left out with its colon).
[[noreturn]] void FailInput(const std::string& file, const std::string& position,
                            const std::string& what);

// "line 12", "record 3", "byte 1003".
std::string LineAt(int64_t line);
std::string RecordAt(int64_t record);
std::string ByteAt(int64_t byte);

// The token in double quotes, cut after 40 bytes, bytes outside printable ASCII as \xNN.
std::string QuoteToken(std::string_view token);

// "1 header row", "2 header rows": the count and the noun, plural by an added "s" or as given.
std::string Counted(int64_t count, const std::string& noun);
std::string Counted(int64_t count, const std::string& one, const std::string& many);

// Ends the run with one line naming file when a table of N x A x L copies at 2 bits each,
// held twice while it is built, cannot fit in this computer's memory.
void RequireTableMemory(const std::string& file, double N, double A, double L);
