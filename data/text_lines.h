// Text inputs of the study readers: a whole file in memory, cut into numbered lines and
// white-space separated tokens, and whole tokens read as integers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The bytes of path. A folder, a file that cannot be opened or read, or one too large for
// this computer's memory ends the run with one line.
std::string ReadWholeFile(const std::string& path);
// The same for fd, open on path for reading, from where it stands to its end; fd stays open
// (every failure ends the run, and the system closes it then).
std::string ReadWholeDescriptor(const std::string& path, int fd);

// The lines of a text, numbered from 1. A line ends at "\n"; a "\r" before it is not part of
// the line. A UTF-8 byte-order mark at the very start is dropped.
class TextLines {
 public:
  explicit TextLines(std::string_view text);
  // The next line; false at the end of the text.
  bool Next(std::string_view& line);
  // The number of the line Next returned last (0 before the first).
  int64_t number() const { return number_; }

 private:
  std::string_view text_;
  size_t pos_ = 0;
  int64_t number_ = 0;
};

// White space as the C library's isspace sees it in the "C" locale.
constexpr bool IsWhite(char ch) {
  return ch == ' ' || (ch >= '\t' && ch <= '\r');
}

// The white-space separated tokens of line (tokens is cleared first).
void SplitTokens(std::string_view line, std::vector<std::string_view>& tokens);

// line without white space at both ends.
std::string_view Trimmed(std::string_view line);

enum class IntToken { kOk, kNotInteger, kOutOfRange };

// A whole token as a decimal 32-bit integer with an optional sign.
IntToken ParseIntToken(std::string_view token, int32_t& value);
