// The two result files of an analysis: the clustering report and the average
// log-likelihood.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "data/vectors.h"

// Writes the clustering report to path (created or replaced): the clustering
// probabilities Q of every sample, the allele frequencies P of every cluster and locus
// listed by allele value (AlleleValues, J alleles per locus), and the mixing proportions.
// Reals are written fixed with 15 decimals in at least 17 characters, zero-filled on the
// left; sample, cluster and locus numbers (from 1) and allele values are zero-filled to 6,
// 2, 3 and 3 digits, the fill going before a minus sign (-1 is written 0-1).
// A file that cannot be opened or written ends the run ("... - WriteClusteringReport").
void WriteClusteringReport(const std::string& path, const Vector2D<double>& Q,
                           const Vector3D<double>& P, const Vector2D<int32_t>& AlleleValues,
                           const std::vector<int32_t>& J,
                           const std::vector<double>& MixingProportions);

// Writes to path (created or replaced) one line: the mean of the last W entries of the
// log-likelihood history H (W = settlingCount, or 1 when it is 0), summed in ascending
// order and divided by W, in the stream's default format (six significant digits, like
// %g). With no history (I <= 0) the file is left empty. A file that cannot be opened or
// written ends the run ("... - WriteAverageLogLikelihood").
void WriteAverageLogLikelihood(const std::string& path, const std::vector<double>& H,
                               int32_t settlingCount, int32_t I);
