// Memberships of individuals under allele frequencies held fixed (the frequencies of a
// finished run, projected onto new individuals): the mixture model's posterior cluster
// probabilities, and the admixture model's ancestry proportions by EM over Q alone.
#pragma once

#include <cstdint>
#include <vector>

#include "cluster/accelerated_em.h"
#include "data/genotype_table.h"
#include "data/vectors.h"

// The fixed frequencies as seen from a table X: row r of F holds the K frequencies of one
// allele (F[r K + k]); code j of locus l of X stands for row rowOfCode[alleleStart[l] + j],
// or for no row (-1: an allele or locus the frequencies do not know, taken as missing).
struct FixedFrequencies {
  int32_t K = 0;
  std::vector<double> F;
  std::vector<int32_t> alleleStart;  // X.L + 1 entries
  std::vector<int32_t> rowOfCode;
};

// The mixture model's E-step with proportions pi (K) and the fixed frequencies: for each
// individual, g_k = sum over its known copies (a outer, l inner, ascending) of
// max(ln p, -707), plus max(ln pi_k, -707); the pairwise ratios capped at 707 and
// q_k = 1 / sum over m ascending of exp(g_m - g_k) (the diagonal e^0) — the same operations
// in the same order as an iteration of cluster/em.h, so that a run's own individuals get its
// memberships bit for bit. Q: N x K; threads never change a bit.
void MixturePosterior(const GenotypeTable& X, const FixedFrequencies& f,
                      const std::vector<double>& pi, int32_t threads, Vector2D<double>& Q);

// The admixture model's EM for Q alone (cluster/admixture_em.h with P not updated), one
// individual at a time (their rows of Q are independent): for every known copy of n,
// h = sum over k ascending of q_nk p_kx, A_nk += p_kx / h (copies a outer, loci inner), and
// q'_nk = q_nk A_nk / M_n (M_n its known copies; the row kept when M_n is 0). n's
// log-likelihood: its running product of h split by frexp after every copy. Each individual runs
// accelerated (settings, its own M_n as the observed copies) from the uniform row. Q: N x K;
// threads never change a bit.
struct FixedFrequencyRun {
  int64_t steps = 0;        // EM steps over all individuals
  int32_t unconverged = 0;  // individuals stopped by maxSteps
  double loglik = 0.0;      // the sum over individuals, ascending
};
FixedFrequencyRun AdmixtureFixedFrequencies(const GenotypeTable& X, const FixedFrequencies& f,
                                            const AcceleratorSettings& settings, int32_t threads,
                                            Vector2D<double>& Q);
