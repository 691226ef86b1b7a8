#include "data/allele_coding.h"

#include <algorithm>
#include <numeric>

#include "data/memory_check.h"
#include "data/messages.h"

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

// A locus's first values are compared directly: most loci hold only a few.
constexpr int32_t kInlineValues = 4;

size_t ColumnWords(int64_t codes, int32_t width) {
  return static_cast<size_t>((codes * width + 63) / 64);
}

inline uint32_t ColumnCode(const std::vector<uint64_t>& column, int64_t i, int32_t width) {
  const uint64_t bit = static_cast<uint64_t>(i) * width;
  return static_cast<uint32_t>((column[bit >> 6] >> (bit & 63)) & ((uint64_t{1} << width) - 1));
}

}  // namespace

struct AlleleCoder::Locus {
  int32_t first[kInlineValues] = {0, 0, 0, 0};  // the first values, by code
  int32_t distinct = 0;                         // values seen so far
  int32_t width = 2;                            // bits per code in column
  std::vector<uint64_t> column;                 // code of every row so far
};

AlleleCoder::AlleleCoder(int32_t N, int32_t A, int32_t L, const std::string& routine)
    : N_(std::max(N, 0)), A_(std::max(A, 0)), L_(std::max(L, 0)), routine_(routine) {
  const double rows = static_cast<double>(N_) * A_;
  // The columns and the laid-out table at 2 bits per code, and the state of every locus.
  RequireMemory(2 * GenotypeTableBytes(N_, A_, L_, 2) + double(L_) * sizeof(Locus),
                "a genotype table of " + std::to_string(N) + " x " + std::to_string(A) + " x " +
                    std::to_string(L) + " alleles",
                routine_);
  // About a million staged values at a time: each locus then takes a run of rows at once.
  const int64_t byRows = (int64_t{1} << 20) / std::max<int32_t>(L_, 1);
  stageCapacity_ = static_cast<int32_t>(std::clamp<int64_t>(byRows, 1, 64));
  staged_.assign(static_cast<size_t>(stageCapacity_) * L_, 0);
  loci_.resize(L_);
  for (Locus& locus : loci_) locus.column.assign(ColumnWords(static_cast<int64_t>(rows), 2), 0);
  manyValues_ = std::make_unique<ValueCodes>();
}

AlleleCoder::~AlleleCoder() = default;

void AlleleCoder::Widen(int32_t l, int32_t width) {
  Locus& locus = loci_[l];
  // Codes held so far: those of the rows before this flush and of the staged rows this locus
  // has already taken (all of them lie below the first free position, which stays 0).
  std::vector<uint64_t> wider(ColumnWords(static_cast<int64_t>(N_) * A_, width), 0);
  const int64_t held = rowsCoded_ + stagedRows_;
  for (int64_t i = 0; i < held; ++i) {
    const uint64_t bit = static_cast<uint64_t>(i) * width;
    wider[bit >> 6] |= static_cast<uint64_t>(ColumnCode(locus.column, i, locus.width))
                       << (bit & 63);
  }
  locus.column.swap(wider);
  locus.width = width;
}

void AlleleCoder::Flush() {
  if (rowsCoded_ + stagedRows_ > static_cast<int64_t>(N_) * A_) {
    FailRun("More rows than " + std::to_string(N_) + " x " + std::to_string(A_) + " - " + routine_);
  }
  for (int32_t l = 0; l < L_; ++l) {
    Locus& locus = loci_[l];
    const int32_t* value = staged_.data() + l;
    for (int32_t r = 0; r < stagedRows_; ++r, value += L_) {
      const int32_t v = *value;
      int32_t code = -1;
      const int32_t inlined = std::min(locus.distinct, kInlineValues);
      for (int32_t i = 0; i < inlined; ++i) {
        if (locus.first[i] == v) {
          code = i;
          break;
        }
      }
      if (code < 0 && locus.distinct > kInlineValues) code = manyValues_->Find(l, v);
      if (code < 0) {
        code = locus.distinct++;
        if (code < kInlineValues) {
          locus.first[code] = v;
        } else {
          manyValues_->Insert(l, v, code);
        }
        // Room for every value so far and one code more (the missing code may need it).
        const int32_t width = CodeWidth(static_cast<int64_t>(locus.distinct) + 1);
        if (width > locus.width) {
          // Widen copies the codes of rows before r; this row's code is written below.
          const int32_t staged = stagedRows_;
          stagedRows_ = r;
          Widen(l, width);
          stagedRows_ = staged;
        }
      }
      const uint64_t bit = static_cast<uint64_t>(rowsCoded_ + r) * locus.width;
      locus.column[bit >> 6] |= static_cast<uint64_t>(code) << (bit & 63);
    }
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

  // Every locus's values by first-appearance code.
  std::vector<size_t> offset(static_cast<size_t>(L_) + 1, 0);
  for (int32_t l = 0; l < L_; ++l) offset[l + 1] = offset[l] + loci_[l].distinct;
  std::vector<int32_t> valueOf(offset[L_]);
  for (int32_t l = 0; l < L_; ++l) {
    const int32_t inlined = std::min(loci_[l].distinct, kInlineValues);
    for (int32_t i = 0; i < inlined; ++i) valueOf[offset[l] + i] = loci_[l].first[i];
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

  X = GenotypeTable();
  LayOutGenotypeTable(X, N_, A_, L_, std::move(alleleValues), std::move(missingValue));

  // Columns into rows, one block at a time; a block's columns are dropped once it is done.
  for (size_t b = 0; b < X.blocks.size(); ++b) {
    const LocusBlock& block = X.blocks[b];
    uint64_t* row = X.words.data() + block.start;
    for (int64_t r = 0; r < rows; ++r, row += block.rowWords) {
      for (int32_t l = block.firstLocus; l < block.endLocus; ++l) {
        const Locus& locus = loci_[l];
        const uint32_t code = finalCode[offset[l] + ColumnCode(locus.column, r, locus.width)];
        const uint32_t at = X.position[l];
        row[at >> 6] |= static_cast<uint64_t>(code) << (at & 63);
      }
    }
    for (int32_t l = block.firstLocus; l < block.endLocus; ++l) {
      std::vector<uint64_t>().swap(loci_[l].column);
    }
  }
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
