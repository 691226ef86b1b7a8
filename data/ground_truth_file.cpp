#include "data/ground_truth_file.h"

#include <cstdio>
#include <memory>

#include "data/messages.h"

namespace {

struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

}  // namespace

void WriteGroundTruthFile(const std::string& path, int32_t N, int32_t A, int32_t L,
                          const std::vector<int32_t>& J, int32_t K, const SimulatedModel& model) {
  FilePtr file(std::fopen(path.c_str(), "w"));
  if (!file) FailRun("Cannot open file " + path + " - SimulateGenotypeData");
  FILE* out = file.get();

  std::fprintf(out, "Number of Individuals: %d\n", N);
  std::fprintf(out, "A: %d\n", A);
  std::fprintf(out, "Number of Loci: %d\n", L);
  std::fprintf(out, "Number of Alleles per Locus: \n");
  for (int32_t l = 0; l < L; ++l) std::fprintf(out, "%d\n", J[l]);
  std::fprintf(out, "Number of Clusters: %d\n", K);
  std::fprintf(out, "Weight of Clusters:\n");
  for (int32_t k = 0; k < K; ++k) std::fprintf(out, "%.15f\n", model.w[k]);
  std::fprintf(out, "Number of Individuals in each Clusters:\n");
  for (int32_t k = 0; k < K; ++k) std::fprintf(out, "%04d\n", model.sizes[k]);
  std::fprintf(out, "Allele Frequencies:\n");
  for (int32_t k = 0; k < K; ++k) {
    std::fprintf(out, "Cluster %02d\n", k);
    for (int32_t l = 0; l < L; ++l) {
      std::fprintf(out, "Locus %03d\n", l);
      for (int32_t i = 0; i < J[l]; ++i) {
        std::fprintf(out, "Allele %03d\t%.15f\n", i, model.P[k][l][i]);
      }
      std::fprintf(out, "\n");
    }
    std::fprintf(out, "\n");
  }
  // One check at the end: a full disk or a size limit leaves the stream in error.
  if (std::fflush(out) != 0 || std::ferror(out)) {
    FailRun("Cannot write file " + path + " - SimulateGenotypeData");
  }
}
