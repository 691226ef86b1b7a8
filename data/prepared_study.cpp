#include "data/prepared_study.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "data/input_messages.h"

namespace {

constexpr char kMagic[8] = {'\x89', 'E', 'M', 'C', '\r', '\n', '\x1a', '\n'};
constexpr size_t kTrailerBytes = 16;

// A checksum of a byte stream taken as 8-byte little-endian words (the last one padded with
// zeros), word i mixed into lane i mod 4 so that four chains run side by side. The result
// depends on the bytes alone, not on how they were handed over.
class Checksum {
 public:
  void Add(const void* data, size_t bytes) {
    const unsigned char* p = static_cast<const unsigned char*>(data);
    length_ += bytes;
    while (bytes > 0 && filled_ > 0) {
      pending_ |= static_cast<uint64_t>(*p++) << (8 * filled_);
      --bytes;
      if (++filled_ == 8) MixPending();
    }
    for (; bytes >= 8; bytes -= 8, p += 8) {
      uint64_t word;
      std::memcpy(&word, p, 8);
      Mix(word);
    }
    for (; bytes > 0; --bytes) {
      pending_ |= static_cast<uint64_t>(*p++) << (8 * filled_);
      if (++filled_ == 8) MixPending();
    }
  }

  uint64_t Final() const {
    Checksum copy = *this;
    if (copy.filled_ > 0) copy.MixPending();
    uint64_t h = copy.length_;
    for (uint64_t lane : copy.lane_) h = (h ^ lane) * 0x9E3779B97F4A7C15ull;
    return h ^ (h >> 29);
  }

 private:
  void Mix(uint64_t word) {
    uint64_t& lane = lane_[words_++ & 3];
    lane = (lane ^ (word * 0xC2B2AE3D27D4EB4Full)) * 0x165667B19E3779F9ull;
    lane ^= lane >> 31;
  }
  void MixPending() {
    Mix(pending_);
    pending_ = 0;
    filled_ = 0;
  }

  uint64_t lane_[4] = {1, 2, 3, 4};
  uint64_t words_ = 0;
  uint64_t pending_ = 0;
  int filled_ = 0;
  uint64_t length_ = 0;
};

struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// ---- Writing --------------------------------------------------------------------------

struct Writer {
  FILE* file;
  Checksum sum;
  uint64_t written = 0;
  bool ok = true;

  void Bytes(const void* data, size_t bytes) {
    sum.Add(data, bytes);
    written += bytes;
    ok = ok && std::fwrite(data, 1, bytes, file) == bytes;
  }
  void U32(uint32_t v) { Bytes(&v, 4); }
  void I32(int32_t v) { Bytes(&v, 4); }
  void U64(uint64_t v) { Bytes(&v, 8); }
  void String(const std::string& s) {
    U64(s.size());
    Bytes(s.data(), s.size());
  }
  void Strings(const std::vector<std::string>& list) {
    U64(list.size());
    for (const std::string& s : list) String(s);
  }
};

// ---- Reading --------------------------------------------------------------------------

struct Reader {
  const std::string& path;
  FILE* file;
  uint64_t bodyEnd;  // bytes before the trailer
  uint64_t offset = 0;
  Checksum sum;

  [[noreturn]] void Fail(const std::string& what) const { FailInput(path, ByteAt(offset), what); }

  void Bytes(void* data, size_t bytes) {
    if (bytes > bodyEnd - offset) Fail("the file ends inside its data (truncated or damaged)");
    if (std::fread(data, 1, bytes, file) != bytes) Fail("cannot read the file");
    sum.Add(data, bytes);
    offset += bytes;
  }
  uint32_t U32() {
    uint32_t v;
    Bytes(&v, 4);
    return v;
  }
  int32_t I32() {
    int32_t v;
    Bytes(&v, 4);
    return v;
  }
  uint64_t U64() {
    uint64_t v;
    Bytes(&v, 8);
    return v;
  }
  // A length of items of at least itemBytes each, checked against what the file has left.
  uint64_t Length(uint64_t itemBytes) {
    const uint64_t at = offset;
    const uint64_t n = U64();
    if (itemBytes > 0 && n > (bodyEnd - offset) / itemBytes) {
      offset = at;
      Fail("a length of " + std::to_string(n) + " items runs past the end of the file (damaged)");
    }
    return n;
  }
  std::string String() {
    std::string s(Length(1), '\0');
    Bytes(s.data(), s.size());
    return s;
  }
  std::vector<std::string> Strings() {
    std::vector<std::string> list(Length(8));
    for (std::string& s : list) s = String();
    return list;
  }
  // A count that must be `expected` (or 0 when zeroAllowed).
  void Expect(uint64_t count, uint64_t expected, bool zeroAllowed, const char* what) {
    if (count != expected && !(zeroAllowed && count == 0)) {
      Fail(std::string("expected ") + std::to_string(expected) + " " + what + ", found " +
           std::to_string(count) + " (damaged)");
    }
  }
};

}  // namespace

bool IsPreparedStudy(const std::string& bytes) {
  return bytes.size() >= sizeof(kMagic) && std::memcmp(bytes.data(), kMagic, sizeof(kMagic)) == 0;
}

void WritePreparedStudy(const std::string& path, const StudyData& data) {
  FilePtr file(std::fopen(path.c_str(), "wb"));
  if (!file) FailInput(path, "", "cannot create the file");
  const GenotypeTable& X = data.X;
  Writer w{file.get(), {}, 0, true};
  w.Bytes(kMagic, sizeof(kMagic));
  w.U32(kPreparedStudyVersion);
  w.I32(X.N);
  w.I32(X.A);
  w.I32(X.L);
  w.String(data.format);
  w.String(data.detected);
  w.Strings(data.names);
  w.Strings(data.populations);
  w.Strings(data.locusNames);
  w.U64(data.alleleNames.size());
  for (const std::vector<std::string>& names : data.alleleNames) w.Strings(names);
  for (int32_t l = 0; l < X.L; ++l) {
    w.U64(X.alleleValues[l].size());
    w.Bytes(X.alleleValues[l].data(), X.alleleValues[l].size() * sizeof(int32_t));
  }
  w.Bytes(X.missingValue.data(), X.missingValue.size() * sizeof(int32_t));
  w.U64(X.words.size());
  w.Bytes(X.words.data(), X.words.size() * sizeof(uint64_t));
  const uint64_t trailer[2] = {w.written, w.sum.Final()};
  w.ok = w.ok && std::fwrite(trailer, 1, sizeof(trailer), file.get()) == sizeof(trailer);
  w.ok = std::fflush(file.get()) == 0 && w.ok;
  if (!w.ok) FailInput(path, "", "cannot write the file (disk full?)");
}

void ReadPreparedStudy(const std::string& path, StudyData& data, const std::string* bytes) {
  // Bytes in memory are read as a file of their own (which can seek, as a pipe cannot).
  FilePtr file(bytes ? fmemopen(const_cast<char*>(bytes->data()), bytes->size(), "rb")
                     : std::fopen(path.c_str(), "rb"));
  if (!file) FailInput(path, "", "cannot open the file");
  struct stat info {};
  if (!bytes && fstat(fileno(file.get()), &info) != 0) FailInput(path, "", "cannot read the file");
  const uint64_t size = bytes ? bytes->size() : static_cast<uint64_t>(info.st_size);
  if (size < sizeof(kMagic) + 4 + kTrailerBytes) {
    FailInput(path, ByteAt(0),
              "a prepared study file is at least 28 bytes, found " + std::to_string(size) +
                  " (truncated)");
  }

  // The trailer first: a file cut short or extended is refused before its data are read.
  uint64_t trailer[2];
  if (std::fseek(file.get(), static_cast<long>(size - kTrailerBytes), SEEK_SET) != 0 ||
      std::fread(trailer, 1, sizeof(trailer), file.get()) != sizeof(trailer) ||
      std::fseek(file.get(), 0, SEEK_SET) != 0) {
    FailInput(path, "", "cannot read the file");
  }
  if (trailer[0] != size - kTrailerBytes) {
    FailInput(path, ByteAt(static_cast<int64_t>(size - kTrailerBytes)),
              "the last 16 bytes are not the trailer of a " + std::to_string(size) +
                  "-byte file (truncated or damaged)");
  }

  Reader r{path, file.get(), size - kTrailerBytes, 0, {}};
  char magic[sizeof(kMagic)];
  r.Bytes(magic, sizeof(magic));
  if (std::memcmp(magic, kMagic, sizeof(kMagic)) != 0) {
    r.offset = 0;
    r.Fail("not a prepared study file (its first bytes differ)");
  }
  const uint32_t version = r.U32();
  if (version != kPreparedStudyVersion) {
    r.offset -= 4;
    r.Fail("a prepared study file of version " + std::to_string(version) +
           ", this program reads version " + std::to_string(kPreparedStudyVersion) +
           ": prepare it again with this program");
  }
  const int32_t N = r.I32(), A = r.I32(), L = r.I32();
  if (N < 1 || A < 1 || L < 0) {
    r.offset -= 12;
    r.Fail("a table of " + std::to_string(N) + " x " + std::to_string(A) + " x " +
           std::to_string(L) + " copies (damaged)");
  }
  data.format = r.String();
  data.detected = r.String();
  data.names = r.Strings();
  r.Expect(data.names.size(), N, false, "names");
  data.populations = r.Strings();
  r.Expect(data.populations.size(), N, true, "populations");
  data.locusNames = r.Strings();
  r.Expect(data.locusNames.size(), L, false, "locus names");
  data.alleleNames.assign(r.Length(8), {});
  r.Expect(data.alleleNames.size(), L, true, "allele name lists");
  for (std::vector<std::string>& names : data.alleleNames) names = r.Strings();
  Vector2D<int32_t> alleleValues(L);
  for (int32_t l = 0; l < L; ++l) {
    std::vector<int32_t>& values = alleleValues[l];
    values.resize(r.Length(4));
    r.Bytes(values.data(), values.size() * sizeof(int32_t));
    for (size_t j = 1; j < values.size(); ++j) {
      if (values[j - 1] >= values[j]) r.Fail("allele values out of order (damaged)");
    }
    if (!data.alleleNames.empty() && data.alleleNames[l].size() != values.size()) {
      r.Fail("allele names and values of locus " + std::to_string(l + 1) + " differ in number");
    }
  }
  std::vector<int32_t> missingValue(L);
  r.Bytes(missingValue.data(), missingValue.size() * sizeof(int32_t));

  GenotypeTable& X = data.X;
  const size_t words =
      LayOutGenotypeBlocks(X, N, A, L, std::move(alleleValues), std::move(missingValue));
  r.Expect(r.Length(8), words, false, "table words");
  RequireTableMemory(path, N, A, L);
  X.words.resize(words);
  r.Bytes(X.words.data(), words * sizeof(uint64_t));

  if (r.offset != r.bodyEnd) r.Fail("unexpected bytes after the table (damaged)");
  if (r.sum.Final() != trailer[1]) {
    FailInput(path, ByteAt(static_cast<int64_t>(size - 8)),
              "the checksum does not match the data (damaged)");
  }
}
