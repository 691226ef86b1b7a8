// A coded genotype table built one locus at a time, for readers that learn the loci and
// their alleles only as they read them (VCF/BCF). The result is laid out exactly as
// LayOutGenotypeTable lays out a table of the same alleles.
#pragma once

#include <cstdint>
#include <vector>

#include "data/genotype_table.h"

class LocusTableBuilder {
 public:
  // N individuals of A copies each (N x A rows).
  LocusTableBuilder(int32_t N, int32_t A);

  // Adds the next locus: its ascending allele values (J of them), the value its missing
  // code stands for, and the code of every row r = n * A + a (each at most J).
  void AddLocus(std::vector<int32_t> values, int32_t missingValue, const uint32_t* codes);

  // X becomes the table of the loci added (its previous content is dropped).
  void Finish(GenotypeTable& X);

 private:
  void CloseBlock();
  void FlushWord();

  int32_t N_, A_;
  size_t rows_;
  GenotypeTable table_;          // loci closed so far, and their layout
  std::vector<uint64_t> stage_;  // the open block: kBlockRowWords words per row
  // The word of the open block's rows that the last loci went to, one per row, gathered
  // here and stored into stage_ once it is complete (one store per row and word rather
  // than one per row and locus).
  std::vector<uint64_t> word_;
  int32_t wordAt_ = -1;  // its index in the rows, -1 when none is open
  int32_t bits_ = 0;     // bits used in the open block's rows
  bool open_ = false;    // whether a block is open
};
