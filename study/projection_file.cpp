#include "study/projection_file.h"

#include <algorithm>
#include <cstdint>
#include <string_view>

#include "study/record_text.h"

namespace {

// Splits a list apart by single spaces (an empty field: no items).
std::vector<std::string_view> SplitSpaces(std::string_view field) {
  std::vector<std::string_view> items;
  if (field.empty()) return items;
  size_t at = 0;
  while (true) {
    const size_t space = field.find(' ', at);
    items.push_back(
        field.substr(at, space == std::string_view::npos ? field.size() - at : space - at));
    if (space == std::string_view::npos) return items;
    at = space + 1;
  }
}

}  // namespace

bool HoldsProjection(const StudyRecord& study, const RunRecord& run) {
  const size_t K = static_cast<size_t>(run.K);
  if (run.order.size() != K || run.proportions.size() != K || run.P.size() != K) return false;
  if (study.locusNames.size() != static_cast<size_t>(study.L)) return false;
  for (const auto& cluster : run.P) {
    if (cluster.size() != static_cast<size_t>(study.L)) return false;
  }
  return true;
}

std::string ProjectionFileText(const StudyRecord& study, const RunRecord& run) {
  std::string text = "emclade-sweep projection\t" + std::to_string(kProjectionFileVersion) + '\n';
  text += "model\t" + EscapeField(study.settings.model) + '\n';
  text += "k\t" + std::to_string(run.K) + '\n';
  text += "order\t";
  for (int32_t c = 0; c < run.K; ++c) {
    if (c > 0) text += ' ';
    text += std::to_string(run.order[c]);
  }
  text += "\nproportions\t";
  for (int32_t k = 0; k < run.K; ++k) {
    if (k > 0) text += ' ';
    AppendExactReal(text, run.proportions[k]);
  }
  text += "\nloci\t" + std::to_string(study.L) + '\n';
  for (int32_t l = 0; l < study.L; ++l) {
    text += "locus\t" + EscapeField(study.locusNames[l]) + '\t';
    for (int32_t j = 0; j < study.J[l]; ++j) {
      if (j > 0) text += ' ';
      text += std::to_string(study.alleleValues[l][j]);
    }
    text += '\t';
    for (int32_t j = 0; j < study.J[l]; ++j) {
      for (int32_t k = 0; k < run.K; ++k) {
        if (j > 0 || k > 0) text += ' ';
        AppendExactReal(text, run.P[k][l][j]);
      }
    }
    text += '\n';
  }
  text += "end\n";
  return text;
}

ProjectionBasis ReadProjectionFile(const std::string& path, int32_t expectedK) {
  RecordLines in(path);
  std::string_view first;
  if (!in.Next(first) || first.substr(0, first.find('\t')) != "emclade-sweep projection") {
    in.Fail("expected the projection file of a study (\"emclade-sweep projection\")");
  }
  const std::vector<std::string_view> version = SplitFields(first);
  if (version.size() != 2 || version[1] != std::to_string(kProjectionFileVersion)) {
    in.Fail("a projection file of another version; this program reads version " +
            std::to_string(kProjectionFileVersion) + ": make the study again with this program");
  }
  ProjectionBasis basis;
  basis.model = in.Text(in.Expect("model", 1)[0]);
  basis.K = static_cast<int32_t>(in.Whole(in.Expect("k", 1)[0], 1, 100000, "a K"));
  if (basis.K != expectedK) {
    in.Fail("a projection file of K = " + std::to_string(basis.K) +
            ", expected K = " + std::to_string(expectedK));
  }
  const int32_t K = basis.K;
  const auto order = SplitSpaces(in.Expect("order", 1)[0]);
  if (static_cast<int32_t>(order.size()) != K) in.Fail("expected K cluster numbers");
  std::vector<char> seen(K, 0);
  for (std::string_view item : order) {
    const int32_t c = static_cast<int32_t>(in.Whole(item, 0, K - 1, "a cluster number"));
    if (seen[c]++) in.Fail("a cluster number found twice");
    basis.order.push_back(c);
  }
  const auto proportions = SplitSpaces(in.Expect("proportions", 1)[0]);
  if (static_cast<int32_t>(proportions.size()) != K) in.Fail("expected K proportions");
  for (std::string_view item : proportions) {
    basis.proportions.push_back(in.Real(item, "a proportion"));
  }
  const int64_t L = in.Whole(in.Expect("loci", 1)[0], 1, INT32_MAX, "the number of loci");
  for (int64_t l = 0; l < L; ++l) {
    const auto fields = in.Expect("locus", 3);
    basis.locusNames.push_back(in.Text(fields[0]));
    std::vector<int32_t> values;
    for (std::string_view item : SplitSpaces(fields[1])) {
      values.push_back(
          static_cast<int32_t>(in.Whole(item, INT32_MIN, INT32_MAX, "an allele value")));
      if (values.size() > 1 && values[values.size() - 2] >= values.back()) {
        in.Fail("allele values out of order");
      }
    }
    if (values.empty()) in.Fail("a locus without alleles");
    const auto reals = SplitSpaces(fields[2]);
    if (reals.size() != values.size() * static_cast<size_t>(K)) {
      in.Fail("expected K frequencies for every allele");
    }
    std::vector<double> P;
    for (std::string_view item : reals) {
      const double p = in.Real(item, "a frequency");
      if (!(p >= 0.0 && p <= 1.0)) in.Fail("a frequency outside [0, 1]");
      P.push_back(p);
    }
    basis.alleleValues.push_back(std::move(values));
    basis.P.push_back(std::move(P));
  }
  in.Expect("end", 0);
  std::string_view more;
  if (in.Next(more)) in.Fail("unexpected lines after \"end\"");
  return basis;
}
