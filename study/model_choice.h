// The choice of K: log-likelihood over replicates, information criteria and Evanno's delta K
// for every K of a sweep, and the K of lowest BIC.
#pragma once

#include <cstdint>
#include <vector>

#include "study/study.h"

// Free parameters of K clusters: K - 1 mixing proportions and K (J_l - 1) frequencies at
// every locus (a locus with no allele seen adds none).
int64_t FreeParameters(int32_t K, const std::vector<int32_t>& J);

// -sum over individuals and clusters of q ln q (0 ln 0 = 0), n then k ascending.
double MembershipEntropy(const Vector2D<double>& Q);

// Fills every field of study.summaries but best, modes and bestModeSize (AlignStudy sets
// those, and must have run: the criteria are those of each K's best replicate):
// replicates, converged; best, mean and standard deviation (n - 1; NaN for one replicate) of
// the final log-likelihoods; parameters p; AIC = -2 LL + 2 p; BIC = -2 LL + p ln N;
// ICL = BIC + 2 MembershipEntropy(best Q); deltaK = |m(K+1) - 2 m(K) + m(K-1)| / sd(K) with m the
// mean log-likelihood, where K - 1 and K + 1 are both in the sweep and there are 2 or more
// replicates (NaN otherwise; +inf when sd(K) is 0 and the numerator is not). chosen marks the
// K of lowest BIC (the smallest K among equals), also set in study.chosenK; with --cv (the
// cross-validation has set cvError) the K of lowest cvError instead.
void ChooseK(StudyRecord& study);

// What chose K, for messages: "lowest BIC", or "lowest cross-validation error" with --cv.
const char* ChoiceCriterion(const SweepSettings& settings);
