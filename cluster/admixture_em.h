// The EM map of the admixture model: every individual n has ancestry proportions q_n1 .. q_nK,
// and each of its allele copies independently picks a cluster k with probability q_nk and
// then its allele x from that cluster's frequencies p_klx at the locus. Estimates are one
// flat vector theta for the accelerator (cluster/accelerated_em.h).
#pragma once

#include <cstdint>
#include <vector>

#include "cluster/accelerated_em.h"
#include "data/genotype_table.h"
#include "data/vectors.h"

// Theta: Q (N x K, row n at n K), then P (K x sum_l J_l: cluster k's frequency of allele j
// at locus l at N K + k alleles + alleleStart[l] + j). Every Q row and every (k, l) is a
// simplex block.
//
// One step, from (Q, P) to (Q', P'), over the observed copies (a code below J[l] whose allele
// value is not negative; the others are left out as missing). For individual n and locus l,
// each observed allele x (codes ascending) carried by c copies has
//   h = sum over k ascending of q_nk p_klx (h = q_n0 p_0lx, then h += q_nk p_klx),
//   w = c / h
// (at a locus of two alleles, both non-negative: r = 1 / (h_0 h_1), w_0 = c_0 (h_1 r),
// w_1 = c_1 (h_0 r), one division for both),
// and adds w p_klx to n's sum A_nk (loci ascending, alleles ascending within a locus) and
// w q_nk to the sum B_klx. The individuals fall in tiles of 128 (n / 128); in each tile B_klx
// runs in four partial sums, individual n to partial n mod 4 (n ascending in each), combined
// ((B0 + B1) + B2) + B3 into the tile's sum T_t; B_klx = T_0 + T_1 + ... (tiles ascending,
// from T_0). Then
//   q'_nk = (q_nk A_nk) / M_n (M_n: n's observed copies; Q row kept when M_n is 0),
//   p'_klx = (p_klx B_klx) / D with D the sum over x ascending of p_klx B_klx (P kept when D
//   is 0 or not finite).
// The log-likelihood of (Q, P), sum over observed copies of ln h: per individual a running
// product m (from 1) multiplied, locus after locus, by h once for each copy of each allele x
// ascending, and after each locus split exactly by frexp into m (in [0.5, 1)) and an exponent
// E added to a running sum; its term is E ln 2 + ln m; the terms summed n ascending.
//
// One pass over the table: h and w serve both sums. Threads never change a bit: the tiles
// (fixed in size) are the units of work, the tiles' B sums are added per segment of loci, each
// sum in the order above.
struct AdmixtureSegment {
  int32_t block = 0;
  int32_t firstLocus = 0, endLocus = 0;
  bool packed = false;    // every locus 2 bits wide, one after another from firstWord
  int32_t firstWord = 0;  // packed: the word of the block's rows holding firstLocus
};

struct AdmixtureModel {
  int32_t N = 0, A = 0, L = 0, K = 0;
  int32_t threads = 1;
  bool wideVectors = false;  // the processor runs the AVX2 versions of the inner loops
  const GenotypeTable* X = nullptr;
  std::vector<int32_t> J;
  std::vector<int32_t> alleleStart;  // L + 1 entries
  std::vector<uint8_t> observed;     // per allele (alleleStart[l] + j): its value is not negative
  std::vector<double> copies;        // M_n
  double observedCopies = 0.0;       // sum of M_n
  std::vector<AdmixtureSegment> segments;
  // Rewritten every step (lane-sized storage in doubles, four to a lane group).
  std::vector<double> frequencies;  // sum J x K: P of `from`, allele by allele
  std::vector<double> laneQ;        // (N + 3) / 4 groups x K x 4: Q of `from`, four individuals
  int64_t segmentSlots = 0;         // the most B sums of one segment (alleles x K)
  std::vector<double> sums;         // threads x segmentSlots x 4: a segment's B lane sums
  std::vector<double> tileSums;     // tiles x sum J x K: each tile's B sums
  std::vector<double> records;      // groups x (K + 2) x 4: A sums, m, E
};

// Theta's size: N K + K sum_l J_l.
int64_t AdmixtureThetaSize(int32_t N, int32_t K, const std::vector<int32_t>& J);

// Prepares the model for K clusters over X (kept by reference); `threads` threads share
// every step (the results do not depend on them).
void PrepareAdmixtureModel(const GenotypeTable& X, int32_t K, int32_t threads, AdmixtureModel& m);

// One step (see above): writes (Q', P') into to, returns the log-likelihood of from.
double AdmixtureStep(AdmixtureModel& m, const double* from, double* to);

// Clamps every value into [epsilon, 1 - epsilon], then divides each simplex block by its sum
// (values ascending).
void ProjectAdmixture(const AdmixtureModel& m, double* theta, double epsilon);

// The model as the accelerator's EM map (m must outlive it).
EmMap AdmixtureEmMap(AdmixtureModel& m);

// Where theta's blocks of their own step length begin (cluster/block_squarem.h): each
// individual's Q row (at n K), then P as one block (at N K). Measured (bench/README.md, "The
// admixture model"): on SNPs each individual's ancestry moves at its own rate, and a length
// per row took 2.2 x fewer steps than one for Q and one for P to the same log-likelihood.
std::vector<int64_t> AdmixtureBlocks(const AdmixtureModel& m);

// How many cycles of the accelerator the admixture model's stopping rule looks back over.
constexpr int32_t kAdmixtureStopCycles = 5;

// The admixture model's EM from theta: plain (settings.method kNone) or with a step length of
// its own for each Q row and for P (RunBlockSquarem over AdmixtureBlocks,
// kAdmixtureStopCycles).
AcceleratedRun RunAdmixtureEm(AdmixtureModel& m, std::vector<double>& theta,
                              const AcceleratorSettings& settings);

// Theta from Q (N x K) and P (K x L x J[l]), and back.
void PackAdmixture(const AdmixtureModel& m, const Vector2D<double>& Q, const Vector3D<double>& P,
                   std::vector<double>& theta);
void UnpackAdmixture(const AdmixtureModel& m, const std::vector<double>& theta, Vector2D<double>& Q,
                     Vector3D<double>& P);
