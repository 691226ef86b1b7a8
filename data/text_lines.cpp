#include "data/text_lines.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>

#include "data/input_messages.h"
#include "data/memory_check.h"

std::string ReadWholeFile(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0)
    FailInput(path, "", std::string("cannot open the file (") + std::strerror(errno) + ")");
  std::string bytes = ReadWholeDescriptor(path, fd);
  close(fd);
  return bytes;
}

std::string ReadWholeDescriptor(const std::string& path, int fd) {
  struct stat info;
  if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    FailInput(path, "", "a folder, expected a genotype file");
  }
  const double size = static_cast<double>(info.st_size);
  if (size > PhysicalMemoryBytes() && PhysicalMemoryBytes() > 0) {
    FailInput(path, "", "the file is larger than this computer's memory");
  }
  std::string bytes;
  bytes.resize(static_cast<size_t>(info.st_size));
  size_t got = 0;
  for (;;) {
    if (got == bytes.size()) bytes.resize(got + 65536);  // a file that grew, or a pipe
    const ssize_t n = read(fd, bytes.data() + got, bytes.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int error = errno;
      FailInput(path, ByteAt(static_cast<int64_t>(got)),
                std::string("cannot read the file (") + std::strerror(error) + ")");
    }
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  bytes.resize(got);
  return bytes;
}

TextLines::TextLines(std::string_view text) : text_(text) {
  if (text_.substr(0, 3) == "\xEF\xBB\xBF") pos_ = 3;
}

bool TextLines::Next(std::string_view& line) {
  if (pos_ >= text_.size()) return false;
  const char* start = text_.data() + pos_;
  const void* nl = std::memchr(start, '\n', text_.size() - pos_);
  size_t length =
      nl ? static_cast<size_t>(static_cast<const char*>(nl) - start) : text_.size() - pos_;
  pos_ += length + (nl ? 1 : 0);
  if (length > 0 && start[length - 1] == '\r') --length;
  line = std::string_view(start, length);
  ++number_;
  return true;
}

void SplitTokens(std::string_view line, std::vector<std::string_view>& tokens) {
  tokens.clear();
  const size_t n = line.size();
  size_t i = 0;
  for (;;) {
    while (i < n && IsWhite(line[i])) ++i;
    if (i == n) return;
    const size_t start = i;
    while (i < n && !IsWhite(line[i])) ++i;
    tokens.emplace_back(line.data() + start, i - start);
  }
}

std::string_view Trimmed(std::string_view line) {
  size_t begin = 0, end = line.size();
  while (begin < end && IsWhite(line[begin])) ++begin;
  while (end > begin && IsWhite(line[end - 1])) --end;
  return line.substr(begin, end - begin);
}

IntToken ParseIntToken(std::string_view token, int32_t& value) {
  size_t i = 0;
  bool negative = false;
  if (!token.empty() && (token[0] == '+' || token[0] == '-')) {
    negative = token[0] == '-';
    i = 1;
  }
  if (i == token.size()) return IntToken::kNotInteger;
  // Accumulated as a negative number, so that the lowest value has room.
  constexpr int64_t kLowest = std::numeric_limits<int32_t>::min();
  int64_t acc = 0;
  bool overflow = false;
  for (; i < token.size(); ++i) {
    const unsigned digit = static_cast<unsigned char>(token[i]) - '0';
    if (digit > 9) return IntToken::kNotInteger;
    if (!overflow) {
      acc = acc * 10 - digit;
      overflow = acc < kLowest;
    }
  }
  if (overflow || (!negative && acc == kLowest)) return IntToken::kOutOfRange;
  value = static_cast<int32_t>(negative ? acc : -acc);
  return IntToken::kOk;
}
