#include "study/projection.h"

#include <cmath>
#include <filesystem>
#include <iostream>
#include <map>
#include <numeric>

#include "cluster/fixed_frequencies.h"
#include "data/input_messages.h"
#include "data/messages.h"
#include "data/study_input.h"
#include "study/model.h"
#include "study/projection_file.h"
#include "study/study_files.h"

namespace {

// The frequencies of basis seen from X (loci by name, alleles by value); counts the loci and
// alleles of X that basis lacks.
FixedFrequencies MatchLoci(const ProjectionBasis& basis, const StudyData& data, int32_t& sharedLoci,
                           int32_t& absentLoci, std::string& firstAbsent, int32_t& unknownAlleles) {
  const GenotypeTable& X = data.X;
  FixedFrequencies f;
  f.K = basis.K;
  std::map<std::string, int32_t> locusOf;
  std::vector<int32_t> rowStart(basis.P.size() + 1, 0);
  for (size_t s = 0; s < basis.P.size(); ++s) {
    locusOf.emplace(basis.locusNames[s], static_cast<int32_t>(s));
    rowStart[s + 1] = rowStart[s] + static_cast<int32_t>(basis.alleleValues[s].size());
    f.F.insert(f.F.end(), basis.P[s].begin(), basis.P[s].end());
  }
  f.alleleStart.assign(X.L + 1, 0);
  sharedLoci = absentLoci = unknownAlleles = 0;
  for (int32_t l = 0; l < X.L; ++l) {
    const std::vector<int32_t>& values = X.alleleValues[l];
    f.alleleStart[l + 1] = f.alleleStart[l] + static_cast<int32_t>(values.size());
    const auto found = locusOf.find(data.locusNames[l]);
    if (found == locusOf.end()) {
      if (absentLoci++ == 0) firstAbsent = data.locusNames[l];
      f.rowOfCode.insert(f.rowOfCode.end(), values.size(), -1);
      continue;
    }
    ++sharedLoci;
    const std::vector<int32_t>& known = basis.alleleValues[found->second];
    for (int32_t value : values) {
      const auto at = std::lower_bound(known.begin(), known.end(), value);
      if (at == known.end() || *at != value) {
        ++unknownAlleles;
        f.rowOfCode.push_back(-1);
      } else {
        f.rowOfCode.push_back(rowStart[found->second] + static_cast<int32_t>(at - known.begin()));
      }
    }
  }
  return f;
}

std::string IndividualsText(const StudyData& data, const Vector2D<double>& Q,
                            const std::vector<int32_t>& order) {
  const bool populations = !data.populations.empty();
  std::string text = populations ? "name\tpopulation\tcluster\tprobability\tentropy\n"
                                 : "name\tcluster\tprobability\tentropy\n";
  for (size_t n = 0; n < Q.size(); ++n) {
    double membership = 0.0;
    const int32_t cluster = AssignedCluster(Q[n].data(), order, membership);
    double entropy = 0.0;
    for (double q : Q[n]) {
      if (q > 0.0) entropy -= q * std::log(q);
    }
    text += data.names[n] + '\t';
    if (populations) text += data.populations[n] + '\t';
    text += std::to_string(cluster + 1) + '\t' + FormatReal(membership, 6) + '\t' +
            FormatReal(entropy, 6) + '\n';
  }
  return text;
}

}  // namespace

int RunProjectCommand(const ProjectSettings& settings) {
  const std::string& dir = settings.studyDir;
  if (!std::filesystem::is_regular_file(dir + "/summary.tsv")) {
    FailRun("emclade-sweep: " + dir + ": not the folder of a sweep (it holds no summary.tsv)");
  }
  const std::string basisPath = dir + "/best/K" + std::to_string(settings.K) + ".projection";
  if (!std::filesystem::is_regular_file(basisPath)) {
    FailRun("emclade-sweep: " + basisPath + ": not found: the study has no K = " +
            std::to_string(settings.K) + ", or an older program made it");
  }
  const ProjectionBasis basis = ReadProjectionFile(basisPath, settings.K);
  if (FindModel(basis.model) == nullptr) {
    FailRun("emclade-sweep: " + basisPath + ": a study of the model " + QuoteToken(basis.model) +
            ", which this program does not know (" + ModelNames() + ")");
  }
  const StudyData data = ReadStudyInput(settings.inputPath, settings.reader);

  int32_t shared = 0, absent = 0, unknownAlleles = 0;
  std::string firstAbsent;
  const FixedFrequencies f = MatchLoci(basis, data, shared, absent, firstAbsent, unknownAlleles);
  if (shared == 0) {
    FailRun("emclade-sweep: " + settings.inputPath + ": no locus in common with the study " + dir +
            " (loci are matched by name)");
  }
  if (!settings.quiet && absent > 0) {
    std::cerr << "emclade-sweep project: " << absent << " of the " << data.X.L << " loci of "
              << settings.inputPath
              << " are not in the study and are left out (the first: " << QuoteToken(firstAbsent)
              << ")\n";
  }
  if (!settings.quiet && unknownAlleles > 0) {
    std::cerr << "emclade-sweep project: " << unknownAlleles
              << " alleles of shared loci are not in the study: their copies count as missing\n";
  }

  Vector2D<double> Q;
  if (basis.model == "admixture") {
    AcceleratorSettings accelerator;
    accelerator.rule = StoppingRule::kPerCopy;
    accelerator.tolerance = settings.tolerance;
    accelerator.maxSteps = 20000;
    const FixedFrequencyRun run =
        AdmixtureFixedFrequencies(data.X, f, accelerator, settings.threads, Q);
    if (!settings.quiet && run.unconverged > 0) {
      std::cerr << "emclade-sweep project: " << run.unconverged << " individuals stopped at "
                << accelerator.maxSteps << " EM steps before they converged\n";
    }
  } else {
    MixturePosterior(data.X, f, basis.proportions, settings.threads, Q);
  }

  MakeFolder(settings.outDir);
  std::string text;
  for (const std::vector<double>& row : Q) {
    AppendMembershipRow(row.data(), basis.order, text);
    text += '\n';
  }
  const std::string qPath = settings.outDir + "/K" + std::to_string(settings.K) + ".Q";
  WriteWholeFile(qPath, text);
  WriteWholeFile(settings.outDir + "/individuals.tsv", IndividualsText(data, Q, basis.order));
  std::cout << "emclade-sweep project: " << data.X.N << " individuals onto K = " << settings.K
            << " of " << dir << " (" << basis.model << ", " << shared << " shared loci): " << qPath
            << ", " << settings.outDir << "/individuals.tsv\n";
  return 0;
}
