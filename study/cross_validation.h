// The choice of K by cross-validation (--cv V). The observed genotypes (an individual's
// genotype at a locus: all its copies together) fall into V folds. For the best run of every K,
// each fold in turn is held out: the table with that fold's genotypes made missing is fitted
// again by the study's model from the run's estimates (the model's refit: the sweep's EM after
// the annealing, with its settings), and the held-out genotypes are scored by their deviance
// under that fit. The folds are the same for every K, so that the K are compared on the same
// held-out genotypes.
#pragma once

#include <cstdint>
#include <vector>

#include "data/genotype_table.h"
#include "study/study.h"

// The fold (0 .. V - 1) of the genotype of individual n at locus l: the top 32 bits of
// h = Mix(Mix(Mix(Mix(seed) ^ 0x6376) ^ n) ^ l) (Mix: SeedMix) times V, shifted right by 32.
// Nothing is stored: each fold is one pass over (n, l).
int32_t CvFold(uint64_t seed, int32_t n, int32_t l, int32_t V);

// The deviance of one genotype of m observed copies, c[i] copies of an allele whose fitted
// expected share is h[i] (i < alleles): 2 sum_i c_i ln(c_i / (m h_i)), i ascending; a share
// below kCvShareFloor counts as kCvShareFloor.
double GenotypeDeviance(const int32_t* c, const double* h, int32_t alleles);
constexpr double kCvShareFloor = 1e-11;

// Sets fold v of X's genotypes (those with an observed copy: a code below J[l] whose value is
// not negative) missing in `masked` (a copy of X), all their copies; returns how many.
int64_t MaskFold(const GenotypeTable& X, uint64_t seed, int32_t V, int32_t v,
                 GenotypeTable& masked);

// The held-out genotypes of fold v of X under the fit (Q: N x K, P: K x L x J[l]): for each,
// n then l ascending, its observed copies' allele counts against the expected shares
// h_x = sum_k q_nk p~_klx (k ascending), with p~_klx = (c_kl p_klx + 1) / (c_kl + J_l) the
// cluster's frequency under a flat prior on the c_kl = sum_n q_nk m_nl copies it saw at l
// outside the fold (n ascending; m_nl: n's observed copies), so that an allele that no copy
// of a cluster outside the fold carries (frequent at microsatellites) costs a finite price
// that shrinks as the cluster sees more copies; adds their deviances (GenotypeDeviance) to
// deviance, in that order, and returns their number.
int64_t ScoreFold(const GenotypeTable& X, uint64_t seed, int32_t V, int32_t v,
                  const Vector2D<double>& Q, const Vector3D<double>& P, double& deviance);

// For every K of study.summaries (AlignStudy has set best, whose run holds Q and P): the V fits
// and their scores, cvError = the mean over folds of (the fold's deviance / its genotypes),
// cvSe = their standard deviation (V - 1) / sqrt(V). The fits are spread over
// study.settings.threads threads (several at once on small tables, as the runs); the results
// are the same bits on any number. Progress on standard error unless settings.quiet (a line
// rewritten in place when terminal, else one line per K).
void CrossValidateStudy(StudyRecord& study, const GenotypeTable& X, bool terminal);
