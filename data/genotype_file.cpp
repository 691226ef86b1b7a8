#include "data/genotype_file.h"

#include <charconv>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <string_view>
#include <vector>

#include "data/messages.h"

// Bytes read from the file at a time. The fuzz build shrinks it, so that tokens and
// header rows cross buffer ends on small inputs too.
#ifndef EMCLADE_READ_BUFFER_BYTES
#define EMCLADE_READ_BUFFER_BYTES (1 << 20)
#endif

namespace {

bool IsSpace(char ch) {
  return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\r' || ch == '\v' || ch == '\f';
}

struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// Reads white-space separated tokens through a large buffer, counting line ends so that
// errors can name the line. A token is always contiguous in the buffer: when one reaches
// the buffer's end, the unread part is moved to the front before refilling.
class TokenScanner {
 public:
  explicit TokenScanner(FILE* file) : file_(file), buffer_(EMCLADE_READ_BUFFER_BYTES) {}

  int64_t line() const { return line_; }

  // Drops one UTF-8 byte-order mark at the very start of the file (spreadsheet exports
  // write one); it is not part of the first header row, label or value.
  void SkipByteOrderMark() {
    while (end_ < 3 && Refill()) {
    }
    if (end_ >= 3 && std::memcmp(buffer_.data(), "\xEF\xBB\xBF", 3) == 0) pos_ = 3;
  }

  // Drops everything up to and including the next line end; false when the file has
  // nothing left, so no row was there to drop.
  bool SkipRow() {
    if (pos_ == end_ && !Refill()) return false;
    for (;;) {
      if (pos_ == end_ && !Refill()) return true;
      const char* start = buffer_.data() + pos_;
      const void* nl = std::memchr(start, '\n', end_ - pos_);
      if (nl != nullptr) {
        pos_ += static_cast<const char*>(nl) - start + 1;
        ++line_;
        return true;
      }
      pos_ = end_;
    }
  }

  // The next token, or false at the end of the file. Valid until the next call.
  bool NextToken(std::string_view& token) {
    for (;;) {
      while (pos_ < end_ && IsSpace(buffer_[pos_])) {
        if (buffer_[pos_] == '\n') ++line_;
        ++pos_;
      }
      if (pos_ < end_) break;
      if (!Refill()) return false;
    }
    size_t stop = pos_;
    for (;;) {
      while (stop < end_ && !IsSpace(buffer_[stop])) ++stop;
      if (stop < end_ || eof_) break;
      const size_t scanned = stop - pos_;
      Compact();
      if (!Refill()) {
        stop = end_;
        break;
      }
      stop = pos_ + scanned;
    }
    token = std::string_view(buffer_.data() + pos_, stop - pos_);
    pos_ = stop;
    return true;
  }

 private:
  // Moves the unread bytes to the front, growing the buffer when they fill it.
  void Compact() {
    const size_t unread = end_ - pos_;
    if (pos_ > 0) std::memmove(buffer_.data(), buffer_.data() + pos_, unread);
    pos_ = 0;
    end_ = unread;
    if (end_ == buffer_.size()) buffer_.resize(buffer_.size() * 2);
  }

  // Appends more of the file after end_; false when nothing more could be read.
  bool Refill() {
    if (eof_) return false;
    if (pos_ == end_) pos_ = end_ = 0;
    if (end_ == buffer_.size()) Compact();
    const size_t got = std::fread(buffer_.data() + end_, 1, buffer_.size() - end_, file_);
    if (got == 0) {
      eof_ = true;
      return false;
    }
    end_ += got;
    return true;
  }

  FILE* file_;
  std::vector<char> buffer_;
  size_t pos_ = 0;
  size_t end_ = 0;
  bool eof_ = false;
  int64_t line_ = 1;
};

enum class ParseResult { kOk, kNotInteger, kOutOfRange };

// A whole token as a decimal 32-bit integer with an optional sign.
ParseResult ParseInt32(std::string_view token, int32_t& value) {
  size_t i = 0;
  bool negative = false;
  if (token[0] == '+' || token[0] == '-') {
    negative = token[0] == '-';
    i = 1;
  }
  if (i == token.size()) return ParseResult::kNotInteger;
  // Accumulate as a negative number so that the lowest value has room.
  constexpr int64_t kLowest = std::numeric_limits<int32_t>::min();
  int64_t acc = 0;
  bool overflow = false;
  for (; i < token.size(); ++i) {
    const unsigned digit = static_cast<unsigned char>(token[i]) - '0';
    if (digit > 9) return ParseResult::kNotInteger;
    if (!overflow) {
      acc = acc * 10 - digit;
      overflow = acc < kLowest;
    }
  }
  if (overflow || (!negative && acc == kLowest)) return ParseResult::kOutOfRange;
  value = static_cast<int32_t>(negative ? acc : -acc);
  return ParseResult::kOk;
}

// The token in double quotes, cut after 40 bytes; bytes outside printable ASCII are
// shown as \xNN so that a stray byte (an encoding mark, a control character) is visible
// and cannot disturb the terminal.
std::string Quoted(std::string_view token) {
  constexpr size_t kShown = 40;
  static const char kHex[] = "0123456789ABCDEF";
  std::string quoted(1, '"');
  for (const char ch : token.substr(0, kShown)) {
    const unsigned char u = static_cast<unsigned char>(ch);
    if (u >= 0x20 && u < 0x7F) {
      quoted.push_back(ch);
    } else {
      quoted.append("\\x");
      quoted.push_back(kHex[u >> 4]);
      quoted.push_back(kHex[u & 15]);
    }
  }
  if (token.size() > kShown) quoted.append("...");
  quoted.push_back('"');
  return quoted;
}

// "individual n, copy a, locus l" (or "label column l") counted from 1.
std::string Where(int32_t n, int32_t a, const char* what, int32_t index) {
  return "individual " + std::to_string(n + 1) + ", copy " + std::to_string(a + 1) + ", " +
         what + " " + std::to_string(index + 1);
}

[[noreturn]] void FailRead(const std::string& path, const TokenScanner& scanner,
                           const std::string& problem) {
  FailRun(problem + " in file " + path + " at line " + std::to_string(scanner.line()) +
          " - LoadGenotypeDataFromStructureFile");
}

}  // namespace

bool LoadGenotypeDataFromStructureFile(const std::string& path, GenotypeTable& X, int32_t N,
                                       int32_t A, int32_t L, int32_t r, int32_t c) {
  if (X.empty()) FailRun("Uninitialized X - LoadGenotypeDataFromStructureFile");
  FilePtr file(std::fopen(path.c_str(), "r"));
  if (!file) FailRun("Cannot open file " + path + " - LoadGenotypeDataToStructureFile");

  TokenScanner scanner(file.get());
  scanner.SkipByteOrderMark();
  for (int32_t row = 0; row < r; ++row) {
    if (!scanner.SkipRow()) {
      FailRead(path, scanner, "Unexpected end of data at header row " + std::to_string(row + 1));
    }
  }

  std::string_view token;
  for (int32_t n = 0; n < N; ++n) {
    for (int32_t a = 0; a < A; ++a) {
      for (int32_t col = 0; col < c; ++col) {
        if (!scanner.NextToken(token)) {
          FailRead(path, scanner, "Unexpected end of data at " + Where(n, a, "label column", col));
        }
      }
      int32_t* values = X[n][a].data();
      for (int32_t l = 0; l < L; ++l) {
        if (!scanner.NextToken(token)) {
          FailRead(path, scanner, "Unexpected end of data at " + Where(n, a, "locus", l));
        }
        switch (ParseInt32(token, values[l])) {
          case ParseResult::kOk: break;
          case ParseResult::kNotInteger:
            FailRead(path, scanner,
                     "Allele value " + Quoted(token) + " is not an integer at " +
                         Where(n, a, "locus", l));
          case ParseResult::kOutOfRange:
            FailRead(path, scanner,
                     "Allele value " + Quoted(token) + " is outside the 32-bit range at " +
                         Where(n, a, "locus", l));
        }
      }
    }
  }
  return true;
}

bool SaveGenotypeDataToStructureFile(const std::string& path, const GenotypeTable& X) {
  FilePtr file(std::fopen(path.c_str(), "w"));
  if (!file) FailRun("Cannot open file " + path + " - SaveGenotypeDataToStructureFile");

  std::string line;
  char number[16];
  bool written = true;
  for (const auto& individual : X) {
    for (const auto& copy : individual) {
      line.clear();
      for (const int32_t value : copy) {
        const auto result = std::to_chars(number, number + sizeof(number), value);
        line.append(number, result.ptr);
        line.push_back('\t');
      }
      line.push_back('\n');
      written = written && std::fwrite(line.data(), 1, line.size(), file.get()) == line.size();
    }
  }
  written = std::fflush(file.get()) == 0 && written;
  if (!written) FailRun("Cannot write file " + path + " - SaveGenotypeDataToStructureFile");
  return true;
}
