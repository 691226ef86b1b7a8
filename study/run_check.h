// The check collect makes of every run against the table it was made on: the log-likelihood
// that run.tsv records must be the one its estimates give.
#pragma once

#include "data/genotype_table.h"
#include "study/study.h"

// The log-likelihood of the mixture model with run's mixing proportions and allele
// frequencies (run.proportions, run.P) on X, as an EM iteration computes it for its estimates:
// the sum over individuals, ascending, of ln sum_k pi_k prod P[k][l][x] over the individual's
// copies, a missing code or a negative allele value a factor 1; each individual's term in
// log space (LogSumExp), so it equals the iteration's up to rounding.
double MixtureLogLikelihood(const GenotypeTable& X, const RunRecord& run);

// Whether recorded is computed within rounding: a relative difference of 1e-9 at most.
bool SameLogLikelihood(double recorded, double computed);
