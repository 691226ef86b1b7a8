#include "app/result_files.h"

#include <algorithm>
#include <fstream>
#include <iomanip>
#include <ostream>

#include "data/messages.h"

namespace {

// Probability format: fixed, 15 decimals, width 17, zero fill (set once per file; the
// width is given again before every number). Lines go through the stream's buffer and
// reach the file when it is closed.
constexpr int kProbabilityWidth = 17;
constexpr int kSampleWidth = 6, kClusterWidth = 2, kLocusWidth = 3, kAlleleWidth = 3;

std::ofstream OpenResultFile(const std::string& path, const char* routine) {
  std::ofstream out(path, std::ios::out | std::ios::trunc);
  if (!out.is_open()) FailRun("Cannot open file " + path + " - " + routine);
  return out;
}

void CloseResultFile(std::ofstream& out, const std::string& path, const char* routine) {
  out.close();
  if (out.fail()) FailRun("Cannot write file " + path + " - " + routine);
}

}  // namespace

void WriteClusteringReport(const std::string& path, const Vector2D<double>& Q,
                           const Vector3D<double>& P, const Vector2D<int32_t>& AlleleValues,
                           const std::vector<int32_t>& J,
                           const std::vector<double>& MixingProportions) {
  const char* routine = "WriteClusteringReport";
  std::ofstream out = OpenResultFile(path, routine);
  out << std::fixed << std::setprecision(15) << std::setfill('0');
  const size_t K = MixingProportions.size();

  out << "Estimated Clustering Probabilities for Samples\n";
  out << "Sample\t";
  for (size_t k = 0; k < K; ++k) {
    out << "***Cluster  " << std::setw(kClusterWidth) << k + 1 << "***\t";
  }
  out << '\n';
  for (size_t n = 0; n < Q.size(); ++n) {
    out << std::setw(kSampleWidth) << n + 1 << '\t';
    for (size_t k = 0; k < K; ++k) out << std::setw(kProbabilityWidth) << Q[n][k] << '\t';
    out << '\n';
  }
  out << "\n\n\n";

  out << "Estimated Allele Frequencies\n";
  for (size_t k = 0; k < K; ++k) {
    out << "Cluster " << std::setw(kClusterWidth) << k + 1 << '\n';
    for (size_t l = 0; l < AlleleValues.size(); ++l) {
      out << "Locus " << std::setw(kLocusWidth) << l + 1 << '\n';
      for (int32_t j = 0; j < J[l]; ++j) {
        out << "Allele " << std::setw(kAlleleWidth) << AlleleValues[l][j] << '\t'
            << std::setw(kProbabilityWidth) << P[k][l][j] << '\n';
      }
      out << '\n';
    }
    out << '\n';
  }
  out << '\n';

  out << "Estimated Mixing Proportions\n";
  for (size_t k = 0; k < K; ++k) {
    out << std::setw(kProbabilityWidth) << MixingProportions[k] << '\n';
  }
  out << "\n\n\n";
  CloseResultFile(out, path, routine);
}

void WriteAverageLogLikelihood(const std::string& path, const std::vector<double>& H,
                               int32_t settlingCount, int32_t I) {
  const char* routine = "WriteAverageLogLikelihood";
  std::ofstream out = OpenResultFile(path, routine);
  const int32_t iterations = std::min(I, static_cast<int32_t>(H.size()));
  if (iterations > 0) {
    const int32_t W = std::min(settlingCount > 0 ? settlingCount : 1, iterations);
    double sum = 0.0;
    for (int32_t t = iterations - W; t < iterations; ++t) sum += H[t];
    out << sum / W << '\n';
  }
  CloseResultFile(out, path, routine);
}
