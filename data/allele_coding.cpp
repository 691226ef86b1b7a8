#include "data/allele_coding.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <numeric>

#include <immintrin.h>

#include "data/memory_check.h"
#include "data/messages.h"

// Zero-filled words whose pages the system provides when first written. Large ones are
// mapped on their own, so that releasing them returns the memory at once.
class AlleleCoder::Words {
 public:
  Words() = default;
  explicit Words(size_t count) : bytes_(count * sizeof(uint64_t)) {
    if (bytes_ == 0) return;
    if (bytes_ >= kMapBytes) {
      void* p = mmap(nullptr, bytes_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
      if (p == MAP_FAILED) throw std::bad_alloc();
      data_ = static_cast<uint64_t*>(p);
      mapped_ = true;
    } else {
      data_ = static_cast<uint64_t*>(std::calloc(count, sizeof(uint64_t)));
      if (data_ == nullptr) throw std::bad_alloc();
    }
  }
  Words(Words&& other) noexcept { *this = std::move(other); }
  Words& operator=(Words&& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(bytes_, other.bytes_);
    std::swap(mapped_, other.mapped_);
    return *this;
  }
  ~Words() {
    if (mapped_) {
      munmap(data_, bytes_);
    } else {
      std::free(data_);
    }
  }
  uint64_t* data() const { return data_; }

 private:
  static constexpr size_t kMapBytes = size_t{1} << 20;
  uint64_t* data_ = nullptr;
  size_t bytes_ = 0;
  bool mapped_ = false;
};

// Codes of the values past the first kInlineValues of their locus: an open-addressing table
// keyed by (locus, value), linear probing, grown at half load.
class AlleleCoder::ValueCodes {
 public:
  ValueCodes() : keys_(kInitialSize, 0), codes_(kInitialSize, -1) {}

  // The code of value at locus l, or -1.
  int32_t Find(int32_t l, int32_t value) const {
    const uint64_t key = Key(l, value);
    for (size_t i = Slot(key);; i = (i + 1) & (codes_.size() - 1)) {
      if (codes_[i] < 0) return -1;
      if (keys_[i] == key) return codes_[i];
    }
  }

  void Insert(int32_t l, int32_t value, int32_t code) {
    if (2 * (used_ + 1) > codes_.size()) Grow();
    Place(Key(l, value), code);
    ++used_;
  }

  // Calls visit(l, value, code) for every entry.
  template <typename Visit>
  void ForEach(Visit visit) const {
    for (size_t i = 0; i < codes_.size(); ++i) {
      if (codes_[i] >= 0) {
        visit(static_cast<int32_t>(keys_[i] >> 32), static_cast<int32_t>(keys_[i] & 0xffffffffu),
              codes_[i]);
      }
    }
  }

 private:
  static constexpr size_t kInitialSize = 1024;
  static uint64_t Key(int32_t l, int32_t value) {
    return (static_cast<uint64_t>(static_cast<uint32_t>(l)) << 32) | static_cast<uint32_t>(value);
  }
  size_t Slot(uint64_t key) const {
    return static_cast<size_t>((key * 0x9E3779B97F4A7C15ull) >> 32) & (codes_.size() - 1);
  }
  void Place(uint64_t key, int32_t code) {
    size_t i = Slot(key);
    while (codes_[i] >= 0) i = (i + 1) & (codes_.size() - 1);
    keys_[i] = key;
    codes_[i] = code;
  }
  void Grow() {
    std::vector<uint64_t> keys(2 * keys_.size(), 0);
    std::vector<int32_t> codes(2 * codes_.size(), -1);
    keys.swap(keys_);
    codes.swap(codes_);
    for (size_t i = 0; i < codes.size(); ++i) {
      if (codes[i] >= 0) Place(keys[i], codes[i]);
    }
  }

  std::vector<uint64_t> keys_;
  std::vector<int32_t> codes_;
  size_t used_ = 0;
};

namespace {

// A locus's first values are compared all at once: most loci hold no more.
constexpr int32_t kInlineValues = 16;
// Values within kWindow of a locus's first one (half below, half above) are coded by table.
constexpr uint32_t kWindow = 64;
// Rows are coded in groups whose codes fill whole words at every width.
constexpr int32_t kRowGroup = 32;

size_t ColumnWords(int64_t codes, int32_t width) {
  return static_cast<size_t>((codes * width + 63) / 64);
}

inline uint32_t ColumnCode(const uint64_t* column, int64_t i, int32_t width) {
  const uint64_t bit = static_cast<uint64_t>(i) * width;
  return static_cast<uint32_t>((column[bit >> 6] >> (bit & 63)) & ((uint64_t{1} << width) - 1));
}

// Bit i set when value equals values[i], i < 16.
inline uint32_t MatchValues(const int32_t* values, int32_t value) {
#if defined(__SSE2__)
  const __m128i x = _mm_set1_epi32(value);
  const __m128i* v = reinterpret_cast<const __m128i*>(values);
  const __m128i low = _mm_packs_epi32(_mm_cmpeq_epi32(_mm_loadu_si128(v), x),
                                      _mm_cmpeq_epi32(_mm_loadu_si128(v + 1), x));
  const __m128i high = _mm_packs_epi32(_mm_cmpeq_epi32(_mm_loadu_si128(v + 2), x),
                                       _mm_cmpeq_epi32(_mm_loadu_si128(v + 3), x));
  return static_cast<uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(low, high)));
#else
  uint32_t match = 0;
  for (int32_t i = 0; i < kInlineValues; ++i)
    match |= static_cast<uint32_t>(values[i] == value) << i;
  return match;
#endif
}

// Rewrites the codes of one column (count codes, at `width` bits) as map[code], at
// `narrower` bits (at most width), in place.
void RecodeColumn(uint64_t* column, int64_t count, int32_t width, int32_t narrower,
                  const uint32_t* map, int32_t distinct) {
  const size_t words = ColumnWords(count, width);
  if (width == 2 && narrower == 2) {
    // Four codes: each result bit is a union of the bit planes' four combinations.
    constexpr uint64_t kLow = 0x5555555555555555ull;
    uint64_t toLow[4], toHigh[4];
    for (uint32_t c = 0; c < 4; ++c) {
      const uint32_t to = static_cast<int32_t>(c) < distinct ? map[c] : c;
      toLow[c] = (to & 1) ? ~0ull : 0;
      toHigh[c] = (to & 2) ? ~0ull : 0;
    }
    for (size_t i = 0; i < words; ++i) {
      const uint64_t low = column[i] & kLow, high = (column[i] >> 1) & kLow;
      const uint64_t is[4] = {~(low | high) & kLow, low & ~high, high & ~low, low & high};
      uint64_t outLow = 0, outHigh = 0;
      for (int c = 0; c < 4; ++c) {
        outLow |= is[c] & toLow[c];
        outHigh |= is[c] & toHigh[c];
      }
      column[i] = outLow | (outHigh << 1);
    }
    return;
  }
  if (width == narrower && width <= 8) {
    // A byte holds whole codes: one table of 256 bytes maps them.
    uint8_t table[256];
    const uint32_t mask = (1u << width) - 1;
    for (uint32_t byte = 0; byte < 256; ++byte) {
      uint32_t to = 0;
      for (int32_t at = 0; at < 8; at += width) {
        const uint32_t c = (byte >> at) & mask;
        to |= (static_cast<int32_t>(c) < distinct ? map[c] : c) << at;
      }
      table[byte] = static_cast<uint8_t>(to);
    }
    uint8_t* bytes = reinterpret_cast<uint8_t*>(column);
    for (size_t i = 0; i < words * 8; ++i) bytes[i] = table[bytes[i]];
    return;
  }
  // One code at a time; output word k is stored only once complete, and by then every input
  // word it overlaps has been read (narrower <= width).
  uint64_t out = 0;
  size_t outWord = 0;
  int32_t outBit = 0;
  for (int64_t i = 0; i < count; ++i) {
    const uint32_t code = ColumnCode(column, i, width);
    out |= static_cast<uint64_t>(static_cast<int32_t>(code) < distinct ? map[code] : code)
           << outBit;
    outBit += narrower;
    if (outBit == 64) {
      column[outWord++] = out;
      out = 0;
      outBit = 0;
    }
  }
  if (outBit > 0) column[outWord++] = out;
  std::fill(column + outWord, column + words, uint64_t{0});
}

// The transposition of an E x E matrix of kWidth-bit elements (E = 64 / kWidth), word i
// holding row i with element e at bit e * kWidth: afterwards word e holds column e. Stage by
// stage, halves of ever smaller blocks swap places: the elements whose index has bit s set in
// row i with those whose index has it clear in row i + s.
template <int kWidth>
void TransposeTile(uint64_t* m) {
  constexpr int32_t E = 64 / kWidth;
  for (int32_t s = E / 2; s >= 1; s /= 2) {
    const int32_t shift = s * kWidth;
    // `shift` ones, `shift` zeros, and so on from bit 0.
    const uint64_t mask = shift == 32   ? 0x00000000FFFFFFFFull
                          : shift == 16 ? 0x0000FFFF0000FFFFull
                          : shift == 8  ? 0x00FF00FF00FF00FFull
                          : shift == 4  ? 0x0F0F0F0F0F0F0F0Full
                                        : 0x3333333333333333ull;
    for (int32_t i = 0; i < E; ++i) {
      if (i & s) continue;
      const uint64_t t = ((m[i] >> shift) ^ m[i + s]) & mask;
      m[i + s] ^= t;
      m[i] ^= t << shift;
    }
  }
}

}  // namespace

struct AlleleCoder::Locus {
  int32_t values[kInlineValues] = {};  // the first values, by code
  int32_t distinct = 0;                // values seen so far
  int32_t width = 2;                   // bits per code in column
  uint64_t* column = nullptr;          // code of every row so far
  // Codes by value for the kWindow values from base on (most loci hold values close to one
  // another): code + 1, or 0 for a value not seen yet or with a code past 254.
  uint32_t base = 0;
  uint8_t window[kWindow] = {};
};

AlleleCoder::AlleleCoder(int32_t N, int32_t A, int32_t L, const std::string& routine)
    : N_(std::max(N, 0)), A_(std::max(A, 0)), L_(std::max(L, 0)), routine_(routine) {
  const int64_t rows = static_cast<int64_t>(N_) * A_;
  // The columns at 2 bits per code (the laid-out table takes their place block by block),
  // the staged rows and the state of every locus.
  const double staging = double(kRowGroup) * 2 * L_ * sizeof(int32_t);
  RequireMemory(GenotypeTableBytes(N_, A_, L_, 2) + staging + double(L_) * sizeof(Locus),
                "a genotype table of " + std::to_string(N) + " x " + std::to_string(A) + " x " +
                    std::to_string(L) + " alleles",
                routine_);
  // About a million staged values at a time, in whole groups of rows.
  const int64_t byRows = (int64_t{1} << 20) / std::max<int32_t>(L_, 1) / kRowGroup * kRowGroup;
  stageCapacity_ = static_cast<int32_t>(std::clamp<int64_t>(byRows, kRowGroup, 2 * kRowGroup));
  staged_.assign(static_cast<size_t>(stageCapacity_) * L_, 0);
  loci_.resize(L_);
  // The 2-bit columns of about 8 MiB worth of loci share one allocation.
  const size_t columnWords = ColumnWords(rows, 2);
  groupLoci_ = static_cast<int32_t>(std::clamp<size_t>(
      (size_t{1} << 20) / std::max<size_t>(columnWords, 1), 1, std::max<size_t>(L_, 1)));
  for (int32_t l = 0; l < L_; l += groupLoci_) {
    groups_.emplace_back(columnWords * std::min(groupLoci_, L_ - l));
    for (int32_t i = l; i < std::min(L_, l + groupLoci_); ++i) {
      loci_[i].column = groups_.back().data() + (i - l) * columnWords;
    }
  }
  widened_.resize(L_);
  manyValues_ = std::make_unique<ValueCodes>();
  wideVectors_ = __builtin_cpu_supports("avx2");
}

AlleleCoder::~AlleleCoder() = default;

void AlleleCoder::Widen(int32_t l, int32_t width) {
  Locus& locus = loci_[l];
  // The codes of the rows before this group; the new column is zero beyond them.
  Words wider(ColumnWords(static_cast<int64_t>(N_) * A_, width));
  for (int64_t i = 0; i < rowsCoded_; ++i) {
    const uint64_t bit = static_cast<uint64_t>(i) * width;
    wider.data()[bit >> 6] |= static_cast<uint64_t>(ColumnCode(locus.column, i, locus.width))
                              << (bit & 63);
  }
  widened_[l] = std::move(wider);
  locus.column = widened_[l].data();
  locus.width = width;
}

uint32_t AlleleCoder::NewValue(int32_t l, int32_t value) {
  Locus& locus = loci_[l];
  if (locus.distinct >= kInlineValues) {
    const int32_t known = manyValues_->Find(l, value);
    if (known >= 0) return static_cast<uint32_t>(known);
    manyValues_->Insert(l, value, locus.distinct);
  } else {
    locus.values[locus.distinct] = value;
  }
  return static_cast<uint32_t>(locus.distinct++);
}

void AlleleCoder::CodeLocus(int32_t l, const int32_t* value, size_t stride, int32_t rows) {
  Locus& locus = loci_[l];
  uint32_t codes[2 * kRowGroup];
  // Codes packed at the locus's width as they come; rowsCoded_ is a whole number of row
  // groups, so this group starts a word. A new value that needs a wider code sends the
  // group's codes again, at the new width, after the column has been widened.
  const int32_t w = locus.width;
  uint64_t* word = locus.column + static_cast<size_t>(rowsCoded_) * w / 64;
  uint32_t known = (1u << std::min(locus.distinct, kInlineValues)) - 1;
  bool wider = false;
  uint64_t packed = 0;
  int32_t bit = 0;
  if (locus.distinct == 0 && rows > 0) locus.base = static_cast<uint32_t>(*value) - kWindow / 2;
  for (int32_t r = 0; r < rows; ++r, value += stride) {
    const uint32_t offset = static_cast<uint32_t>(*value) - locus.base;
    const uint32_t byWindow = offset < kWindow ? locus.window[offset] : 0;
    uint32_t code;
    if (byWindow != 0) {
      code = byWindow - 1;
    } else {
      const uint32_t match = MatchValues(locus.values, *value) & known;
      if (match != 0) {
        code = static_cast<uint32_t>(__builtin_ctz(match));
      } else {
        code = NewValue(l, *value);
        known = (1u << std::min(locus.distinct, kInlineValues)) - 1;
        // Room for every value so far and one code more (the missing code may need it).
        wider = wider || CodeWidth(static_cast<int64_t>(locus.distinct) + 1) > w;
      }
      if (offset < kWindow && code < 255) locus.window[offset] = static_cast<uint8_t>(code + 1);
    }
    codes[r] = code;
    packed |= static_cast<uint64_t>(code) << bit;
    bit += w;
    if (bit == 64) {
      *word++ = packed;
      packed = 0;
      bit = 0;
    }
  }
  if (bit > 0) *word = packed;
  if (!wider) return;
  Widen(l, CodeWidth(static_cast<int64_t>(locus.distinct) + 1));
  const int32_t width = locus.width;
  uint64_t* start = locus.column + static_cast<size_t>(rowsCoded_) * width / 64;
  for (int32_t r = 0; r < rows; ++r) {
    start[(r * width) >> 6] |= static_cast<uint64_t>(codes[r]) << ((r * width) & 63);
  }
}

// Eight loci at a time: their staged values turned into one row of 8 x rows values per locus
// (8 x 8 transpositions), and a locus whose values are all among its first sixteen, at 2 or
// 4 bits, coded eight rows at once by comparing them with each known value. Any other locus
// goes through CodeLocus. Returns the number of loci done (a multiple of 8).
[[gnu::target("avx2")]] int32_t AlleleCoder::FlushEightLoci(int32_t rows) {
  alignas(32) int32_t columns[8][2 * kRowGroup];
  int32_t l = 0;
  for (; l + 8 <= L_; l += 8) {
    const int32_t* staged = staged_.data() + l;
    if (l % 16 == 0 && l + 16 < L_) {
      for (int32_t r = 0; r < rows; ++r)
        __builtin_prefetch(staged + static_cast<size_t>(r) * L_ + 16);
    }
    for (int32_t r = 0; r < rows; r += 8) {
      __m256i v[8], t[8];
      for (int i = 0; i < 8; ++i) {
        v[i] = _mm256_loadu_si256(
            reinterpret_cast<const __m256i*>(staged + static_cast<size_t>(r + i) * L_));
      }
      for (int i = 0; i < 8; i += 2) {
        t[i] = _mm256_unpacklo_epi32(v[i], v[i + 1]);
        t[i + 1] = _mm256_unpackhi_epi32(v[i], v[i + 1]);
      }
      for (int i = 0; i < 8; i += 4) {
        v[i] = _mm256_unpacklo_epi64(t[i], t[i + 2]);
        v[i + 1] = _mm256_unpackhi_epi64(t[i], t[i + 2]);
        v[i + 2] = _mm256_unpacklo_epi64(t[i + 1], t[i + 3]);
        v[i + 3] = _mm256_unpackhi_epi64(t[i + 1], t[i + 3]);
      }
      for (int i = 0; i < 4; ++i) {
        _mm256_store_si256(reinterpret_cast<__m256i*>(columns[i] + r),
                           _mm256_permute2x128_si256(v[i], v[i + 4], 0x20));
        _mm256_store_si256(reinterpret_cast<__m256i*>(columns[i + 4] + r),
                           _mm256_permute2x128_si256(v[i], v[i + 4], 0x31));
      }
    }
    for (int32_t i = 0; i < 8; ++i) {
      Locus& locus = loci_[l + i];
      const int32_t w = locus.width;
      bool done = locus.distinct > 0 && locus.distinct <= kInlineValues && w <= 4;
      if (done) {
        // Code d where a value equals the locus's value d; every lane must find one.
        const __m256i shifts = _mm256_setr_epi32(0, w, 2 * w, 3 * w, 4 * w, 5 * w, 6 * w, 7 * w);
        uint64_t* word = locus.column + static_cast<size_t>(rowsCoded_) * w / 64;
        uint64_t packed = 0;
        int32_t bit = 0;
        for (int32_t r = 0; r < rows && done; r += 8) {
          const __m256i x = _mm256_load_si256(reinterpret_cast<const __m256i*>(columns[i] + r));
          __m256i codes = _mm256_setzero_si256(), matched = _mm256_setzero_si256();
          for (int32_t d = 0; d < locus.distinct; ++d) {
            const __m256i m = _mm256_cmpeq_epi32(x, _mm256_set1_epi32(locus.values[d]));
            codes = _mm256_or_si256(codes, _mm256_and_si256(m, _mm256_set1_epi32(d)));
            matched = _mm256_or_si256(matched, m);
          }
          done = _mm256_movemask_ps(_mm256_castsi256_ps(matched)) == 0xFF;
          // Eight codes side by side at w bits: each shifted into place, then all lanes ORed.
          __m128i sum = _mm_or_si128(_mm256_castsi256_si128(_mm256_sllv_epi32(codes, shifts)),
                                     _mm256_extracti128_si256(_mm256_sllv_epi32(codes, shifts), 1));
          sum = _mm_or_si128(sum, _mm_shuffle_epi32(sum, 0x4E));
          sum = _mm_or_si128(sum, _mm_shuffle_epi32(sum, 0xB1));
          packed |= static_cast<uint64_t>(static_cast<uint32_t>(_mm_cvtsi128_si32(sum))) << bit;
          bit += 8 * w;
          if (bit == 64) {
            *word++ = packed;
            packed = 0;
            bit = 0;
          }
        }
        if (done && bit > 0) *word = packed;
      }
      // A new value (or a locus this path does not take): all its rows, one at a time.
      if (!done) CodeLocus(l + i, columns[i], 1, rows);
    }
  }
  return l;
}

void AlleleCoder::Flush() {
  if (rowsCoded_ + stagedRows_ > static_cast<int64_t>(N_) * A_) {
    FailRun("More rows than " + std::to_string(N_) + " x " + std::to_string(A_) + " - " + routine_);
  }
  const int32_t rows = stagedRows_;
  const int32_t done = wideVectors_ && rows % 8 == 0 ? FlushEightLoci(rows) : 0;
  for (int32_t l = done; l < L_; ++l) {
    const int32_t* value = staged_.data() + l;
    // The staged rows lie far apart: each cache line holds 16 loci of one row. Fetch the
    // lines of the next 16 loci while these are coded.
    if (l % 16 == 0 && l + 16 < L_) {
      for (int32_t r = 0; r < rows; ++r)
        __builtin_prefetch(value + static_cast<size_t>(r) * L_ + 16);
    }
    CodeLocus(l, value, static_cast<size_t>(L_), rows);
  }
  rowsCoded_ += stagedRows_;
  stagedRows_ = 0;
}

void AlleleCoder::Finish(GenotypeTable& X) {
  Flush();
  const int64_t rows = static_cast<int64_t>(N_) * A_;
  if (rowsCoded_ != rows) {
    FailRun("Only " + std::to_string(rowsCoded_) + " of " + std::to_string(rows) + " rows - " +
            routine_);
  }
  std::vector<int32_t>().swap(staged_);

  // Every locus's values by first-appearance code.
  std::vector<size_t> offset(static_cast<size_t>(L_) + 1, 0);
  for (int32_t l = 0; l < L_; ++l) offset[l + 1] = offset[l] + loci_[l].distinct;
  std::vector<int32_t> valueOf(offset[L_]);
  for (int32_t l = 0; l < L_; ++l) {
    const int32_t inlined = std::min(loci_[l].distinct, kInlineValues);
    for (int32_t i = 0; i < inlined; ++i) valueOf[offset[l] + i] = loci_[l].values[i];
  }
  manyValues_->ForEach(
      [&](int32_t l, int32_t value, int32_t code) { valueOf[offset[l] + code] = value; });
  manyValues_.reset();

  // Final codes: ascending values, the smallest left out (to the missing code) when negative.
  Vector2D<int32_t> alleleValues(L_);
  std::vector<int32_t> missingValue(L_, -9);
  std::vector<uint32_t> finalCode(offset[L_]);
  std::vector<int32_t> order;
  for (int32_t l = 0; l < L_; ++l) {
    const int32_t d = loci_[l].distinct;
    const int32_t* values = valueOf.data() + offset[l];
    order.resize(d);
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(),
              [&](int32_t x, int32_t y) { return values[x] < values[y]; });
    const int32_t leftOut = d > 0 && values[order[0]] < 0 ? 1 : 0;
    std::vector<int32_t>& row = alleleValues[l];
    row.resize(d - leftOut);
    for (int32_t i = leftOut; i < d; ++i) {
      row[i - leftOut] = values[order[i]];
      finalCode[offset[l] + order[i]] = static_cast<uint32_t>(i - leftOut);
    }
    if (leftOut) {
      missingValue[l] = values[order[0]];
      finalCode[offset[l] + order[0]] = static_cast<uint32_t>(d - 1);
    }
  }
  std::vector<int32_t>().swap(valueOf);

  X = GenotypeTable();
  const size_t words =
      LayOutGenotypeBlocks(X, N_, A_, L_, std::move(alleleValues), std::move(missingValue));
  // The table's pages are written block by block, while the columns of the blocks done so
  // far are released: the two together stay near one table's size.
  X.words.reserve(words);
  int32_t groupsReleased = 0;
  for (size_t b = 0; b < X.blocks.size(); ++b) {
    const LocusBlock& block = X.blocks[b];
    X.words.resize(block.start + static_cast<size_t>(rows) * block.rowWords);
    uint64_t* const blockWords = X.words.data() + block.start;
    bool uniform = true;
    for (int32_t l = block.firstLocus; l < block.endLocus; ++l) {
      Locus& locus = loci_[l];
      RecodeColumn(locus.column, rows, locus.width, X.width[l], finalCode.data() + offset[l],
                   locus.distinct);
      locus.width = X.width[l];
      uniform = uniform && X.width[l] == X.width[block.firstLocus];
    }

    if (uniform) {
      // Codes one after another at one width: tiles of E rows x E loci (one column word of
      // each of E loci) turn into one word of each of E rows. A thousand rows at a time, each
      // word of their rows in turn, so that the E columns stream and the rows stay in cache.
      const int32_t width = X.width[block.firstLocus];
      const int32_t E = 64 / width;
      constexpr int64_t kRows = 1024;
      uint64_t tile[32];
      const uint64_t* columns[32];
      for (int64_t c0 = 0; c0 < rows; c0 += kRows) {
        const int64_t c1 = std::min(rows, c0 + kRows);
        for (int32_t j = 0; j < block.rowWords; ++j) {
          const int32_t first = block.firstLocus + j * E;
          const int32_t loci = std::min(E, block.endLocus - first);
          for (int32_t i = 0; i < loci; ++i) columns[i] = loci_[first + i].column;
          for (int64_t r0 = c0; r0 < c1; r0 += E) {
            const size_t t = static_cast<size_t>(r0 / E);
            for (int32_t i = 0; i < loci; ++i) tile[i] = columns[i][t];
            std::fill(tile + loci, tile + E, uint64_t{0});  // bits of no locus stay 0
            switch (width) {
              case 2:
                TransposeTile<2>(tile);
                break;
              case 4:
                TransposeTile<4>(tile);
                break;
              case 8:
                TransposeTile<8>(tile);
                break;
              case 16:
                TransposeTile<16>(tile);
                break;
              default:
                TransposeTile<32>(tile);
                break;
            }
            const int32_t count = static_cast<int32_t>(std::min<int64_t>(E, rows - r0));
            uint64_t* word = blockWords + static_cast<size_t>(r0) * block.rowWords + j;
            for (int32_t e = 0; e < count; ++e)
              word[static_cast<size_t>(e) * block.rowWords] = tile[e];
          }
        }
      }
    } else {
      // Code by code, a few hundred rows at a time so that their words stay in cache.
      constexpr int64_t kRows = 256;
      for (int64_t r0 = 0; r0 < rows; r0 += kRows) {
        const int64_t r1 = std::min(rows, r0 + kRows);
        for (int32_t l = block.firstLocus; l < block.endLocus; ++l) {
          const uint64_t* column = loci_[l].column;
          const int32_t width = X.width[l];
          const uint32_t at = X.position[l];
          uint64_t* word = blockWords + static_cast<size_t>(r0) * block.rowWords + (at >> 6);
          for (int64_t r = r0; r < r1; ++r, word += block.rowWords) {
            *word |= static_cast<uint64_t>(ColumnCode(column, r, width)) << (at & 63);
          }
        }
      }
    }

    for (int32_t l = block.firstLocus; l < block.endLocus; ++l) widened_[l] = Words();
    const int32_t done = block.endLocus / groupLoci_;
    for (; groupsReleased < done; ++groupsReleased) groups_[groupsReleased] = Words();
  }
  groups_.clear();
  widened_.clear();
}

void CodeAlleles(const GenotypeTable& X, int32_t L, Vector2D<int32_t>& AlleleValues,
                 std::vector<int32_t>& J, int32_t& Jmax) {
  const int32_t loci = std::clamp(L, 0, X.L);
  AlleleValues.assign(X.alleleValues.begin(), X.alleleValues.begin() + loci);
  J.clear();
  Jmax = 0;
  for (int32_t l = 0; l < loci; ++l) {
    J.push_back(static_cast<int32_t>(AlleleValues[l].size()));
    Jmax = std::max(Jmax, J.back());
  }
}

GenotypeTable CodeGenotypeValues(const GenotypeValues& values) {
  const int32_t N = static_cast<int32_t>(values.size());
  const int32_t A = N > 0 ? static_cast<int32_t>(values[0].size()) : 0;
  const int32_t L = A > 0 ? static_cast<int32_t>(values[0][0].size()) : 0;
  AlleleCoder coder(N, A, L, "CodeAlleles");
  for (int32_t n = 0; n < N; ++n) {
    for (int32_t a = 0; a < A; ++a) {
      std::copy(values[n][a].begin(), values[n][a].begin() + L, coder.Row());
      coder.AddRow();
    }
  }
  GenotypeTable X;
  coder.Finish(X);
  return X;
}
