#include "data/genotype_file.h"

#include <sys/stat.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <string_view>
#include <vector>

#include "data/allele_coding.h"
#include "data/input_messages.h"
#include "data/messages.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Bytes read from the file at a time. The fuzz build shrinks it, so that tokens and
// header rows cross buffer ends on small inputs too.
#ifndef EMCLADE_READ_BUFFER_BYTES
#define EMCLADE_READ_BUFFER_BYTES (1 << 20)
#endif

namespace {

// White space as the C library's isspace sees it in the "C" locale.
constexpr bool IsSpace(char ch) {
  return ch == ' ' || (ch >= '\t' && ch <= '\r');
}

// Bit 7 of every byte of word (first byte lowest) that is not a decimal digit. Bits of
// bytes after the first non-digit may be disturbed by borrows and carries, which only ever
// run towards them.
inline uint64_t NonDigitBits(uint64_t word) {
  const uint64_t t = word - 0x3030303030303030ull;
  return (t | (t + 0x7676767676767676ull)) & 0x8080808080808080ull;
}

// kLowBytes[d]: the low d bytes of a word set, d = 0..7.
constexpr uint64_t kLowBytes[8] = {0,          0xff,         0xffff,         0xffffff,
                                   0xffffffff, 0xffffffffff, 0xffffffffffff, 0xffffffffffffff};

// The value of the first count (1..7) bytes of word, all decimal digits.
inline uint32_t DigitsValue(uint64_t word, int count) {
  // Move the digits to the top bytes; the freed low bytes act as leading zeros.
  uint64_t v = (word << (8 * (8 - count))) & 0x0F0F0F0F0F0F0F0Full;
  v = (v * 2561) >> 8;
  v = ((v & 0x00FF00FF00FF00FFull) * 6553601) >> 16;
  return static_cast<uint32_t>(((v & 0x0000FFFF0000FFFFull) * 42949672960001ull) >> 32);
}

enum class ParseResult { kOk, kNotInteger, kOutOfRange, kEnd };

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

struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// Number of '\n' in the size bytes at p (line ends are sparse: jump between them).
int64_t CountLineEnds(const char* p, size_t size) {
  int64_t count = 0;
  const char* const stop = p + size;
  while (const void* nl = std::memchr(p, '\n', static_cast<size_t>(stop - p))) {
    ++count;
    p = static_cast<const char*>(nl) + 1;
  }
  return count;
}

// For the 64 bytes at p: bit i of space set when p[i] is white space, of minus when p[i]
// is '-', of plus when p[i] is '+'.
inline void ClassifyBlock(const char* p, uint64_t& space, uint64_t& minus, uint64_t& plus) {
#if defined(__SSE2__)
  space = 0;
  minus = 0;
  plus = 0;
  const __m128i blank = _mm_set1_epi8(' ');
  const __m128i tab = _mm_set1_epi8('\t');
  const __m128i four = _mm_set1_epi8(4);
  const __m128i minusChar = _mm_set1_epi8('-');
  const __m128i plusChar = _mm_set1_epi8('+');
  for (int j = 0; j < 4; ++j) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * j));
    const __m128i t = _mm_sub_epi8(v, tab);  // '\t'..'\r' become 0..4
    const __m128i control = _mm_cmpeq_epi8(_mm_min_epu8(t, four), t);
    const __m128i white = _mm_or_si128(_mm_cmpeq_epi8(v, blank), control);
    const int shift = 16 * j;
    space |= static_cast<uint64_t>(static_cast<uint16_t>(_mm_movemask_epi8(white))) << shift;
    minus |= static_cast<uint64_t>(
                 static_cast<uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, minusChar))))
             << shift;
    plus |=
        static_cast<uint64_t>(static_cast<uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, plusChar))))
        << shift;
  }
#else
  space = 0;
  minus = 0;
  plus = 0;
  for (int i = 0; i < 64; ++i) {
    space |= static_cast<uint64_t>(IsSpace(p[i])) << i;
    minus |= static_cast<uint64_t>(p[i] == '-') << i;
    plus |= static_cast<uint64_t>(p[i] == '+') << i;
  }
#endif
}

// Every other byte white space, from the second one on.
constexpr uint64_t kAlternate = 0xAAAAAAAAAAAAAAAAull;

// The 32 bytes at even offsets of the 64 at p as the values of single digits into out; false
// (and nothing written) when one of them is not a digit.
inline bool AlternateDigits(const char* p, int32_t* out) {
#if defined(__SSE2__)
  const __m128i low = _mm_set1_epi16(0x00FF);
  const __m128i zero = _mm_set1_epi16('0');
  const __m128i nine = _mm_set1_epi16(9);
  __m128i digits[4];
  __m128i bad = _mm_setzero_si128();
  for (int j = 0; j < 4; ++j) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * j));
    digits[j] = _mm_sub_epi16(_mm_and_si128(v, low), zero);
    bad = _mm_or_si128(bad, _mm_or_si128(_mm_cmpgt_epi16(digits[j], nine),
                                         _mm_cmpgt_epi16(_mm_setzero_si128(), digits[j])));
  }
  if (_mm_movemask_epi8(bad) != 0) return false;
  for (int j = 0; j < 4; ++j) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8 * j),
                     _mm_unpacklo_epi16(digits[j], _mm_setzero_si128()));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8 * j + 4),
                     _mm_unpackhi_epi16(digits[j], _mm_setzero_si128()));
  }
  return true;
#else
  for (int i = 0; i < 32; ++i) {
    if (static_cast<unsigned>(p[2 * i] - '0') > 9u) return false;
  }
  for (int i = 0; i < 32; ++i) out[i] = p[2 * i] - '0';
  return true;
#endif
}

// Reads white-space separated tokens through a large buffer. A token is always contiguous
// in the buffer: when one reaches the buffer's end, the unread part is moved to the front
// before refilling. Line ends are counted only in the bytes a refill discards and, for a
// message, up to the current position.
class TokenScanner {
 public:
  explicit TokenScanner(FILE* file)
      : file_(file), capacity_(EMCLADE_READ_BUFFER_BYTES), buffer_(capacity_ + kSlack) {}

  // The line (from 1) of the current position.
  int64_t line() const { return 1 + linesBefore_ + CountLineEnds(buffer_.data(), pos_); }

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
        return true;
      }
      pos_ = end_;
    }
  }

  // Reads up to count allele values into out and returns how many it read. It stops early
  // before a token it cannot take on this path (anything but a sign and 1 to 7 digits
  // followed by white space) and near the end of the file; NextValue takes that one.
  // Token starts come from a white-space mask of 64 bytes at a time, so that the values of
  // one block are parsed independently of each other.
  int32_t NextValues(int32_t* out, int32_t count) {
    int32_t done = 0;
    while (done < count) {
      if (!SkipSpace()) return done;
      if (!EnsureWindow()) return done;
      const char* const base = buffer_.data() + pos_;
      uint64_t space, minus, plus;
      ClassifyBlock(base, space, minus, plus);
      // A token that fills the whole block is longer than any value of this path.
      if (space == 0) return done;
      // One digit, one white space, 32 times over (a biallelic or single-digit file): the
      // values are the digits themselves.
      if (space == kAlternate && count - done >= 32 && AlternateDigits(base, out + done)) {
        done += 32;
        pos_ += 64;
        continue;
      }
      // The tokens that end inside the block: those that start before its last white
      // space. pos_ is at a token, so bit 0 is one of them.
      const int lastSpace = 63 - std::countl_zero(space);
      uint64_t starts = ~space & ((space << 1) | 1) & ((uint64_t{1} << lastSpace) - 1);
      const uint64_t sign = minus | plus;
      size_t consumed = 0;
      while (starts != 0 && done < count) {
        // Neither word is 0 here (starts holds this token; a white space follows it), so
        // the plain bit scan serves.
        const int at = __builtin_ctzll(starts);
        starts &= starts - 1;
        const int length = __builtin_ctzll(space >> at);
        const int signed_ = static_cast<int>((sign >> at) & 1);
        const int digits = length - signed_;
        uint64_t word;
        std::memcpy(&word, base + at + signed_, sizeof(word));
        // 1 to 7 digits, nothing else.
        const bool plain = (static_cast<unsigned>(digits - 1) < 7u) &
                           ((NonDigitBits(word) & kLowBytes[digits & 7]) == 0);
        if (!plain) {
          pos_ += static_cast<size_t>(at);
          return done;
        }
        const int32_t magnitude = static_cast<int32_t>(DigitsValue(word, digits));
        const int32_t negative = static_cast<int32_t>((minus >> at) & 1);
        out[done++] = (magnitude ^ -negative) + negative;
        consumed = static_cast<size_t>(at + length);
      }
      pos_ += consumed;
    }
    return done;
  }

  // The next token read as an allele value, any form.
  ParseResult NextValue(int32_t& value, std::string_view& token) {
    if (!NextToken(token)) return ParseResult::kEnd;
    return ParseInt32(token, value);
  }

  // The next token, or false at the end of the file. Valid until the next call.
  bool NextToken(std::string_view& token) {
    if (!SkipSpace()) return false;
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
  // Bytes a block parse may read past pos_: the 64-byte mask, then up to 1 + 8 bytes of the
  // last token that starts in it.
  static constexpr size_t kWindow = 64 + 16;
  static constexpr size_t kSlack = 8;

  // Moves past white space; false at the end of the file.
  bool SkipSpace() {
    for (;;) {
      while (pos_ < end_ && IsSpace(buffer_[pos_])) ++pos_;
      if (pos_ < end_) return true;
      if (!Refill()) return false;
    }
  }

  // Makes at least kWindow bytes readable from pos_; false near the end of the file.
  bool EnsureWindow() {
    while (end_ - pos_ < kWindow) {
      Compact();
      if (!Refill()) return false;
    }
    return true;
  }

  // Moves the unread bytes to the front, growing the buffer when they fill it.
  void Compact() {
    Discard();
    const size_t unread = end_ - pos_;
    if (pos_ > 0) std::memmove(buffer_.data(), buffer_.data() + pos_, unread);
    pos_ = 0;
    end_ = unread;
    if (end_ == capacity_) {
      capacity_ *= 2;
      buffer_.resize(capacity_ + kSlack);
    }
    MarkEnd();
  }

  // Counts the line ends of the bytes before pos_, which are about to be dropped.
  void Discard() { linesBefore_ += CountLineEnds(buffer_.data(), pos_); }

  // Appends more of the file after end_; false when nothing more could be read.
  bool Refill() {
    if (eof_) return false;
    if (pos_ == end_) {
      Discard();
      pos_ = end_ = 0;
    }
    if (end_ == capacity_) Compact();
    const size_t got = std::fread(buffer_.data() + end_, 1, capacity_ - end_, file_);
    if (got == 0) {
      eof_ = true;
      return false;
    }
    end_ += got;
    MarkEnd();
    return true;
  }

  // Zero bytes after the data, so that a read past its end sees no stale digits.
  void MarkEnd() { std::memset(buffer_.data() + end_, 0, kSlack); }

  FILE* file_;
  size_t capacity_;  // usable bytes; kSlack more follow
  std::vector<char> buffer_;
  size_t pos_ = 0;
  size_t end_ = 0;
  bool eof_ = false;
  int64_t linesBefore_ = 0;  // line ends in the bytes already dropped
};

// "individual n, copy a, locus l" (or "label column l") counted from 1.
std::string Where(int32_t n, int32_t a, const char* what, int32_t index) {
  return "individual " + std::to_string(n + 1) + ", copy " + std::to_string(a + 1) + ", " + what +
         " " + std::to_string(index + 1);
}

[[noreturn]] void FailRead(const std::string& path, const TokenScanner& scanner,
                           const std::string& problem) {
  FailRun(problem + " in file " + path + " at line " + std::to_string(scanner.line()) +
          " - LoadGenotypeDataFromStructureFile");
}

}  // namespace

bool LoadGenotypeDataFromStructureFile(const std::string& path, GenotypeTable& X, int32_t N,
                                       int32_t A, int32_t L, int32_t r, int32_t c) {
  if (X.N <= 0) FailRun("Uninitialized X - LoadGenotypeDataFromStructureFile");
  FilePtr file(std::fopen(path.c_str(), "r"));
  if (!file) FailRun("Cannot open file " + path + " - LoadGenotypeDataToStructureFile");
  // A folder opens, but reads as an empty file: it is a file that cannot be opened.
  struct stat info;
  if (fstat(fileno(file.get()), &info) == 0 && S_ISDIR(info.st_mode)) {
    FailRun("Cannot open file " + path + " - LoadGenotypeDataToStructureFile");
  }
  X = GenotypeTable();  // rebuilt from the file below
  AlleleCoder coder(N, A, L, "LoadGenotypeDataFromStructureFile");

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
      int32_t* values = coder.Row();
      for (int32_t l = 0; l < L; ++l) {
        l += scanner.NextValues(values + l, L - l);
        if (l == L) break;
        switch (scanner.NextValue(values[l], token)) {
          case ParseResult::kOk:
            break;
          case ParseResult::kEnd:
            FailRead(path, scanner, "Unexpected end of data at " + Where(n, a, "locus", l));
          case ParseResult::kNotInteger:
            FailRead(path, scanner,
                     "Allele value " + QuoteToken(token) + " is not an integer at " +
                         Where(n, a, "locus", l));
          case ParseResult::kOutOfRange:
            FailRead(path, scanner,
                     "Allele value " + QuoteToken(token) + " is outside the 32-bit range at " +
                         Where(n, a, "locus", l));
        }
      }
      coder.AddRow();
    }
  }
  coder.Finish(X);
  return true;
}

bool SaveGenotypeDataToStructureFile(const std::string& path, const GenotypeTable& X) {
  FilePtr file(std::fopen(path.c_str(), "w"));
  if (!file) FailRun("Cannot open file " + path + " - SaveGenotypeDataToStructureFile");

  std::string line;
  char number[16];
  bool written = true;
  std::vector<int32_t> copy(X.L > 0 ? X.L : 0);
  for (int32_t n = 0; n < X.N; ++n) {
    for (int32_t a = 0; a < X.A; ++a) {
      DecodeGenotypeRow(X, n, a, copy.data());
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
