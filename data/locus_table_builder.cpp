#include "data/locus_table_builder.h"

#include <algorithm>
#include <cstring>
#include <utility>

LocusTableBuilder::LocusTableBuilder(int32_t N, int32_t A)
    : N_(N), A_(A), rows_(static_cast<size_t>(N) * static_cast<size_t>(A)) {
  table_.N = N;
  table_.A = A;
  stage_.assign(rows_ * kBlockRowWords, 0);
  word_.assign(rows_, 0);
}

void LocusTableBuilder::FlushWord() {
  if (wordAt_ < 0) return;
  uint64_t* out = stage_.data() + wordAt_;
  for (size_t r = 0; r < rows_; ++r, out += kBlockRowWords) *out = word_[r];
  std::fill(word_.begin(), word_.end(), 0);
  wordAt_ = -1;
}

void LocusTableBuilder::CloseBlock() {
  FlushWord();
  LocusBlock& block = table_.blocks.back();
  block.endLocus = table_.L;
  block.rowWords = (bits_ + 63) / 64;
  block.start = table_.words.size();
  const size_t rowWords = static_cast<size_t>(block.rowWords);
  table_.words.resize(block.start + rows_ * rowWords);
  uint64_t* out = table_.words.data() + block.start;
  const uint64_t* in = stage_.data();
  for (size_t r = 0; r < rows_; ++r, out += rowWords, in += kBlockRowWords) {
    std::memcpy(out, in, rowWords * sizeof(uint64_t));
  }
  std::fill(stage_.begin(), stage_.end(), 0);
  open_ = false;
  bits_ = 0;
}

void LocusTableBuilder::AddLocus(std::vector<int32_t> values, int32_t missingValue,
                                 const uint32_t* codes) {
  // The placement rule of LayOutGenotypeTable: the next multiple of the width in the open
  // block's row, or a new block when the row would pass kBlockRowWords words.
  constexpr int32_t kRowBits = 64 * kBlockRowWords;
  const int32_t w = CodeWidth(static_cast<int64_t>(values.size()) + 1);
  int32_t at = (bits_ + w - 1) / w * w;
  if (!open_ || at + w > kRowBits) {
    if (open_) CloseBlock();
    table_.blocks.push_back(LocusBlock{table_.L, table_.L, 0, 0});
    open_ = true;
    at = 0;
  }
  table_.width.push_back(static_cast<uint8_t>(w));
  table_.position.push_back(static_cast<uint16_t>(at));
  table_.blockOf.push_back(static_cast<int32_t>(table_.blocks.size()) - 1);
  table_.alleleValues.push_back(std::move(values));
  table_.missingValue.push_back(missingValue);
  ++table_.L;
  bits_ = at + w;

  // Codes never straddle words (the position is a multiple of the width).
  if ((at >> 6) != wordAt_) {
    FlushWord();
    wordAt_ = at >> 6;
  }
  const int shift = at & 63;
  for (size_t r = 0; r < rows_; ++r) word_[r] |= static_cast<uint64_t>(codes[r]) << shift;
}

void LocusTableBuilder::Finish(GenotypeTable& X) {
  if (open_) CloseBlock();
  X = std::move(table_);
  table_ = GenotypeTable();
  table_.N = N_;
  table_.A = A_;
}
