// Every individual as its allele counts: at every locus the number of its copies that carry
// each allele, missing copies left out (a sparse vector of at most A L entries over the
// alleles of all loci). The k-means start and the nearest-cluster assignment compare
// individuals with sums of such vectors through DotWithColumns.
//
// Counts and their sums are whole numbers held in doubles; while every sum stays below 2^53
// (A^2 L N below 2^53: 10^7 individuals of 10^6 diploid loci are far inside) each is exact,
// so every result below is the same bits in any order of summation and on any thread count.
#pragma once

#include <cstdint>
#include <vector>

#include "data/genotype_table.h"

// Column tables W hold one row of K values per code of every locus: code c of locus l
// (0 .. J[l], J[l] the missing code) is row codeStart[l] + c, values k = 0 .. K-1 innermost.
// The row of a missing code stays 0, so that a copy adds the row of its code without a test.
// Where locus l sits in its block's row (word, shift and mask of its code), its first code
// row and its missing code J[l]; loci in table order, so block b's loci are
// fields[X.blocks[b].firstLocus .. X.blocks[b].endLocus - 1].
struct LocusField {
  int32_t word, shift;
  uint64_t mask;
  int32_t codeStart;
  uint32_t missing;
};

struct AlleleCountSpace {
  const GenotypeTable* X = nullptr;
  int32_t N = 0, A = 0, L = 0;
  int32_t rows = 0;                 // sum over l of J[l] + 1
  std::vector<int32_t> codeStart;   // L entries
  std::vector<LocusField> fields;   // L entries
  std::vector<double> squaredNorm;  // ||x_n||^2 = sum over l, j of (copies of j at l)^2
};

// The code rows of X and the squared norm of every individual (threads split the
// individuals).
void PrepareAlleleCountSpace(const GenotypeTable& X, int32_t threads, AlleleCountSpace& space);

// dots[n K + k] = x_n . (column k of W) = sum over copies a and loci l of
// W[(codeStart[l] + code(n, a, l)) K + k], for every individual n; dots is resized to N K.
// Each individual's K sums are made by one thread, blocks of loci, copies and loci ascending.
void DotWithColumns(const AlleleCountSpace& space, const std::vector<double>& W, int32_t K,
                    int32_t threads, std::vector<double>& dots);

// Adds weight times the counts of individual n to column k of W (K columns): weight for
// every copy that is not missing at the row of its code.
void AddCounts(const AlleleCountSpace& space, int32_t n, int32_t k, int32_t K, double weight,
               std::vector<double>& W);

// W (rows x K zeros, then) column k = the summed counts of the individuals labelled k (a
// negative label counts nowhere). Threads take whole blocks of loci, so that every entry is
// added by one thread, individuals ascending.
void CountByLabel(const AlleleCountSpace& space, const std::vector<int32_t>& labels, int32_t K,
                  int32_t threads, std::vector<double>& W);

// Cluster k's observed copies T at locus l and their sum of squares around the cluster's
// allele shares, T - sum over alleles of S^2 / T (0 when T is 0), from W, the columns of
// summed counts CountByLabel makes; the alleles ascending.
double LocusSquares(const AlleleCountSpace& space, const std::vector<double>& W, int32_t K,
                    int32_t k, int32_t l, double& T);

// Every individual labelled -1 joins the group (0 .. K-1, of the individuals labelled so)
// whose members share the most alleles with it over the copies observed in both: the largest
// x_n . S_k / sum over l of o_nl T_kl, S_k the count sum of group k, o_nl and T_kl the
// observed copies of n and of k's members at locus l; the lowest group among equals. Groups
// without members are never joined; an individual with no observed copy in common with any
// group joins the lowest group with members.
void JoinNearestBySharing(const AlleleCountSpace& space, int32_t K, int32_t threads,
                          std::vector<int32_t>& labels);
