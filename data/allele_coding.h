// Allele coding: the distinct allele values of every locus, in ascending order, and the
// coded genotype table built from the values as they are read or simulated.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "data/genotype_table.h"
#include "data/vectors.h"

// Codes a table handed over row by row (individual n, copy a, in that order; L values each)
// while it is read or simulated, so that no table of values is ever held. Rows are staged in
// groups of 32 or more; each group is then coded locus by locus: a value near the locus's
// first value is coded through a small table, another is compared with the first sixteen
// values of its locus at once, and the rest are looked up in a hash table.
// Values are numbered in their order of first appearance and kept in a column of codes per
// locus, at the narrowest width that holds them and one code more. Finish renumbers them by
// ascending value, leaving out the smallest value of a locus when it is negative (the
// missing-data code, which becomes the missing code J[l]), and lays out the table one block
// at a time, releasing each block's columns as it goes: the coder never holds much more than
// one table's worth of codes.
//
//   AlleleCoder coder(N, A, L, routine);
//   for each row: fill coder.Row()[0 .. L-1], then coder.AddRow();
//   coder.Finish(X);
class AlleleCoder {
 public:
  // Refuses (one line naming `routine`) a table whose coding cannot fit in memory.
  AlleleCoder(int32_t N, int32_t A, int32_t L, const std::string& routine);
  ~AlleleCoder();
  AlleleCoder(const AlleleCoder&) = delete;
  AlleleCoder& operator=(const AlleleCoder&) = delete;

  // Where the next row's L values go; valid until AddRow.
  int32_t* Row() { return staged_.data() + static_cast<size_t>(stagedRows_) * L_; }
  // Counts the row just filled.
  void AddRow() {
    if (++stagedRows_ == stageCapacity_) Flush();
  }
  // After all N x A rows: X becomes the coded table (its previous content is dropped).
  void Finish(GenotypeTable& X);

 private:
  struct Locus;
  class ValueCodes;
  class Words;
  void Flush();
  int32_t FlushEightLoci(int32_t rows);
  void CodeLocus(int32_t l, const int32_t* value, size_t stride, int32_t rows);
  void Widen(int32_t l, int32_t width);
  uint32_t NewValue(int32_t l, int32_t value);

  int32_t N_, A_, L_;
  std::string routine_;
  std::vector<int32_t> staged_;  // up to stageCapacity_ rows of L values
  int32_t stageCapacity_ = 32;
  int32_t stagedRows_ = 0;
  int64_t rowsCoded_ = 0;
  std::vector<Locus> loci_;
  int32_t groupLoci_ = 1;                   // loci per shared allocation of 2-bit columns
  std::vector<Words> groups_;               // the 2-bit columns, groupLoci_ loci each
  std::vector<Words> widened_;              // a column of its own once a locus outgrows 2 bits
  std::unique_ptr<ValueCodes> manyValues_;  // codes of values past the first 16 of a locus
  bool wideVectors_ = false;                // the processor runs the AVX2 version of Flush
};

// For every locus l of X: AlleleValues[l] = the ascending distinct values at l over all
// individuals and copies, without the smallest when it is negative (the missing-data
// code). J is rebuilt as the row lengths and Jmax is its largest entry (0 when L = 0).
// X itself is left as it is.
void CodeAlleles(const GenotypeTable& X, int32_t L, Vector2D<int32_t>& AlleleValues,
                 std::vector<int32_t>& J, int32_t& Jmax);

// Codes a table of values (shape from individual 0 and its copy 0) through AlleleCoder.
GenotypeTable CodeGenotypeValues(const GenotypeValues& values);
