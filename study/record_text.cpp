#include "study/record_text.h"

#include <charconv>
#include <system_error>

#include "data/input_messages.h"

std::string ExactReal(double value) {
  std::string text;
  AppendExactReal(text, value);
  return text;
}

bool ParseExactReal(std::string_view text, double& value) {
  if (text.empty()) return false;
  const char* begin = text.data();
  // from_chars takes no '+' and reads "nan" and "inf" with an optional '-' itself.
  const std::from_chars_result end = std::from_chars(begin, begin + text.size(), value);
  return end.ec == std::errc() && end.ptr == begin + text.size();
}

std::string EscapeField(const std::string& text) {
  std::string field;
  field.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '\\':
        field += "\\\\";
        break;
      case '\t':
        field += "\\t";
        break;
      case '\n':
        field += "\\n";
        break;
      case '\r':
        field += "\\r";
        break;
      default:
        field += c;
    }
  }
  return field;
}

bool UnescapeField(std::string_view field, std::string& text) {
  text.clear();
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] != '\\') {
      text += field[i];
      continue;
    }
    if (++i == field.size()) return false;
    switch (field[i]) {
      case '\\':
        text += '\\';
        break;
      case 't':
        text += '\t';
        break;
      case 'n':
        text += '\n';
        break;
      case 'r':
        text += '\r';
        break;
      default:
        return false;
    }
  }
  return true;
}

std::vector<std::string_view> SplitFields(std::string_view line) {
  std::vector<std::string_view> fields;
  size_t begin = 0;
  for (size_t tab; (tab = line.find('\t', begin)) != std::string_view::npos; begin = tab + 1) {
    fields.push_back(line.substr(begin, tab - begin));
  }
  fields.push_back(line.substr(begin));
  return fields;
}

RecordLines::RecordLines(const std::string& path)
    : path_(path), text_(ReadWholeFile(path)), lines_(text_) {}

bool RecordLines::Next(std::string_view& line) {
  return lines_.Next(line);
}

void RecordLines::Fail(const std::string& what) const {
  FailInput(path_, lines_.number() > 0 ? LineAt(lines_.number()) : std::string(), what);
}

std::vector<std::string_view> RecordLines::Expect(std::string_view key, int64_t fieldCount) {
  std::string_view line;
  std::string expected = "\"";
  expected += key;
  expected += '"';
  if (!lines_.Next(line)) {
    FailInput(path_, LineAt(lines_.number() + 1),
              "expected a line " + expected + ", found the end of the file (truncated?)");
  }
  std::vector<std::string_view> fields = SplitFields(line);
  if (fields.front() != key) {
    Fail("expected a line " + expected + ", found " + QuoteToken(fields.front()));
  }
  fields.erase(fields.begin());
  if (fieldCount >= 0 && static_cast<int64_t>(fields.size()) != fieldCount) {
    Fail("expected " + Counted(fieldCount, "field") + " after " + expected + ", found " +
         std::to_string(fields.size()));
  }
  return fields;
}

int64_t RecordLines::Whole(std::string_view field, int64_t least, int64_t most,
                           const char* what) const {
  int64_t value = 0;
  const std::from_chars_result end =
      std::from_chars(field.data(), field.data() + field.size(), value);
  if (field.empty() || end.ec != std::errc() || end.ptr != field.data() + field.size() ||
      value < least || value > most) {
    Fail(std::string("expected ") + what + " (a whole number from " + std::to_string(least) +
         " to " + std::to_string(most) + "), found " + QuoteToken(field));
  }
  return value;
}

uint64_t RecordLines::Unsigned(std::string_view field, const char* what) const {
  uint64_t value = 0;
  const std::from_chars_result end =
      std::from_chars(field.data(), field.data() + field.size(), value);
  if (field.empty() || end.ec != std::errc() || end.ptr != field.data() + field.size()) {
    Fail(std::string("expected ") + what + " (a whole number from 0 to " +
         std::to_string(UINT64_MAX) + "), found " + QuoteToken(field));
  }
  return value;
}

std::string RecordLines::Text(std::string_view field) const {
  std::string text;
  if (!UnescapeField(field, text)) {
    Fail("a backslash that begins none of \\\\, \\t, \\n, \\r in " + QuoteToken(field));
  }
  return text;
}

double RecordLines::Real(std::string_view field, const char* what) const {
  double value = 0.0;
  if (!ParseExactReal(field, value)) {
    Fail(std::string("expected ") + what + " (a real number), found " + QuoteToken(field));
  }
  return value;
}

void AppendExactReal(std::string& text, double value) {
  char digits[64];
  const std::to_chars_result end = std::to_chars(digits, digits + sizeof(digits), value);
  text.append(digits, end.ptr);
}

bool ParseRealRow(std::string_view line, size_t count, double* values) {
  const char* p = line.data();
  const char* end = p + line.size();
  for (size_t i = 0; i < count; ++i) {
    if (i > 0) {
      if (p == end || *p != ' ') return false;
      ++p;
    }
    if (p == end || *p == ' ') return false;
    const std::from_chars_result read = std::from_chars(p, end, values[i]);
    if (read.ec != std::errc()) return false;
    p = read.ptr;
  }
  return p == end;
}
