// The text of the records that a part of a sweep leaves for collect (study/study_file.h,
// study/run_folder.h): reals in their shortest form that reads back to the same bits, strings
// as one tab-free field, and a line-by-line reader whose errors name file and line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "data/text_lines.h"

// The shortest decimal text that reads back to exactly value (std::to_chars): "0.1",
// "-1234.5678", "1e-300"; "nan", "inf" and "-inf" for the values that are not finite.
std::string ExactReal(double value);

// A whole text written by ExactReal (or any decimal real) read back; false when it is not one.
bool ParseExactReal(std::string_view text, double& value);

// text as one field: backslash, tab, line feed and carriage return written as \\, \t, \n, \r.
std::string EscapeField(const std::string& text);

// The text EscapeField wrote; false on a backslash followed by anything else.
bool UnescapeField(std::string_view field, std::string& text);

// The fields of line between its tabs (one field, perhaps empty, when it has none).
std::vector<std::string_view> SplitFields(std::string_view line);

// Reads a record file line by line, every failure one line naming the file and the line.
class RecordLines {
 public:
  // Reads the whole of path (a file that cannot be read ends the run with one line).
  explicit RecordLines(const std::string& path);

  // The fields of the next line, which must begin with key and hold fieldCount fields after
  // it (-1: any number); the end of the file or another line ends the run with one line.
  std::vector<std::string_view> Expect(std::string_view key, int64_t fieldCount);
  // The next line; false at the end of the file.
  bool Next(std::string_view& line);
  // Ends the run: "emclade-sweep: <file>: line <n>: <what>" (the line Next read last).
  [[noreturn]] void Fail(const std::string& what) const;

  // Whole fields read as numbers, strings and reals; anything else ends the run with one
  // line naming what was expected.
  int64_t Whole(std::string_view field, int64_t least, int64_t most, const char* what) const;
  // A whole number from 0 to 2^64 - 1 (a seed), or Fail as Whole does.
  uint64_t Unsigned(std::string_view field, const char* what) const;
  std::string Text(std::string_view field) const;
  double Real(std::string_view field, const char* what) const;

  const std::string& path() const { return path_; }
  // Whether the file is empty or ends with a line feed.
  bool EndsWithLineEnd() const { return text_.empty() || text_.back() == '\n'; }

 private:
  std::string path_;
  std::string text_;
  TextLines lines_;
};

// Appends ExactReal(value) to text without a temporary string.
void AppendExactReal(std::string& text, double value);

// Reads the count reals of line, apart by single spaces, into values; false when the line
// holds anything else or another number of them.
bool ParseRealRow(std::string_view line, size_t count, double* values);
