#include "study/study_files.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>

#include "data/messages.h"
#include "study/alignment.h"
#include "study/projection_file.h"
#include "study/run_seeds.h"
#include "study/study_folder.h"

namespace {

constexpr int64_t kMillion = 1000000;

std::string RunName(int32_t K, int32_t replicate) {
  return std::string("K") + std::to_string(K) + ".r" + std::to_string(replicate);
}

// A population name as one token: blanks and '#' (which pong reads as the start of a comment)
// become '_'.
std::string AsToken(const std::string& name) {
  std::string token = name.empty() ? std::string("_") : name;
  for (char& c : token) {
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '#') c = '_';
  }
  return token;
}

// Population numbers from 1 in the order the populations first appear (all 1 when unknown).
std::vector<int32_t> PopulationNumbers(const StudyRecord& study) {
  std::vector<int32_t> numbers(study.N, 1);
  std::map<std::string, int32_t> seen;
  for (int32_t n = 0; n < study.N && !study.populations.empty(); ++n) {
    auto found = seen.emplace(study.populations[n], static_cast<int32_t>(seen.size()) + 1);
    numbers[n] = found.first->second;
  }
  return numbers;
}

std::string MembershipFile(const RunRecord& run) {
  std::string text;
  text.reserve(run.Q.size() * (static_cast<size_t>(run.K) * 9 + 1));
  for (const std::vector<double>& row : run.Q) {
    AppendMembershipRow(row.data(), run.order, text);
    text += '\n';
  }
  return text;
}

std::string SummaryTable(const StudyRecord& study) {
  std::string text =
      "K\treplicates\tconverged\tloglik_best\tloglik_mean\tloglik_sd\tparameters\tAIC\tBIC\tICL\t"
      "deltaK\tmodes\tbest_mode_size\tchosen\tmodel\tcv_error\tcv_se\tq_se_mean\n";
  for (const KSummary& s : study.summaries) {
    text += std::to_string(s.K) + '\t' + std::to_string(s.replicates) + '\t' +
            std::to_string(s.converged) + '\t' + FormatReal(s.loglikBest, 6) + '\t' +
            FormatReal(s.loglikMean, 6) + '\t' + FormatReal(s.loglikSd, 6) + '\t' +
            std::to_string(s.parameters) + '\t' + FormatReal(s.AIC, 6) + '\t' +
            FormatReal(s.BIC, 6) + '\t' + FormatReal(s.ICL, 6) + '\t' + FormatReal(s.deltaK, 6) +
            '\t' + std::to_string(s.modes) + '\t' + std::to_string(s.bestModeSize) + '\t' +
            (s.chosen ? "yes" : "no") + '\t' + study.settings.model + '\t' +
            FormatReal(s.cvError, 6) + '\t' + FormatReal(s.cvSe, 6) + '\t' +
            FormatReal(s.qSeMean, 6) + '\n';
  }
  return text;
}

// The standard errors of best/K<K>.Q (already in aligned order), as that file's numbers.
std::string StandardErrorFile(const KSummary& summary) {
  std::string text;
  for (const std::vector<double>& row : summary.Qse) {
    for (size_t c = 0; c < row.size(); ++c) {
      if (c > 0) text += ' ';
      text += FormatReal(row[c], 6);
    }
    text += '\n';
  }
  return text;
}

std::string RunsTable(const StudyRecord& study) {
  std::string text =
      "K\treplicate\tseed\tstart\titerations\tconverged\tloglik\tseconds\tmode\tacceleration\tmodel"
      "\n";
  for (const RunRecord& run : study.runs) {
    text += std::to_string(run.K) + '\t' + std::to_string(run.replicate) + '\t' +
            std::to_string(run.seed) + '\t' + run.start + '\t' + std::to_string(run.iterations) +
            '\t' + (run.converged ? "yes" : "no") + '\t' + FormatReal(run.loglik, 6) + '\t' +
            FormatReal(run.seconds, 3) + '\t' + std::to_string(run.mode) + '\t' +
            study.settings.acceleration + '\t' + study.settings.model + '\n';
  }
  return text;
}

// Biallelic data (every locus with one or two alleles): one row per locus, the frequency of
// its first allele (smallest value) in every cluster. Otherwise one row per locus and allele:
// locus name, allele value, the frequency in every cluster.
std::string FrequencyFile(const StudyRecord& study, const RunRecord& run) {
  bool biallelic = true;
  for (int32_t Jl : study.J) biallelic = biallelic && (Jl == 1 || Jl == 2);
  std::string text;
  for (int32_t l = 0; l < study.L; ++l) {
    const int32_t alleles = biallelic ? 1 : study.J[l];
    for (int32_t j = 0; j < alleles; ++j) {
      if (!biallelic) {
        text += study.locusNames[l] + ' ' + std::to_string(study.alleleValues[l][j]);
      }
      for (int32_t c = 0; c < run.K; ++c) {
        if (c > 0 || !biallelic) text += ' ';
        text += FormatReal(run.P[run.order[c]][l][j], 6);
      }
      text += '\n';
    }
  }
  return text;
}

std::string IndividualsTable(const StudyRecord& study, const RunRecord& chosen) {
  const bool populations = !study.populations.empty();
  std::string text = populations ? "name\tpopulation\tcluster\tprobability\tentropy\n"
                                 : "name\tcluster\tprobability\tentropy\n";
  std::string row;
  for (int32_t n = 0; n < study.N; ++n) {
    const double* q = chosen.Q[n].data();
    double membership = 0.0;
    const int32_t cluster = AssignedCluster(q, chosen.order, membership);
    double entropy = 0.0;
    for (int32_t k = 0; k < chosen.K; ++k) {
      if (q[k] > 0.0) entropy -= q[k] * std::log(q[k]);
    }
    text += study.names[n] + '\t';
    if (populations) text += study.populations[n] + '\t';
    text += std::to_string(cluster + 1) + '\t' + FormatReal(membership, 6) + '\t' +
            FormatReal(entropy, 6) + '\n';
  }
  return text;
}

// The runs of the sweep that were not collected (collect --allow-missing): K, replicate and
// the seed each would have run from.
std::string MissingRunsTable(const StudyRecord& study) {
  std::string text = "K\treplicate\tseed\n";
  for (const RunId& id : study.missingRuns) {
    text += std::to_string(id.K) + '\t' + std::to_string(id.replicate) + '\t' +
            std::to_string(RunSeed(study.settings.seed, id.K, id.replicate)) + '\n';
  }
  return text;
}

std::string PongFilemap(const StudyRecord& study) {
  std::string text;
  for (const RunRecord& run : study.runs) {
    text += std::string("K") + std::to_string(run.K) + "r" + std::to_string(run.replicate) + '\t' +
            std::to_string(run.K) + "\t../Q/" + RunName(run.K, run.replicate) + ".Q\n";
  }
  return text;
}

std::string PongPopulations(const StudyRecord& study) {
  std::string text;
  for (const std::string& population : study.populations) text += AsToken(population) + '\n';
  return text;
}

// CLUMPP's individual file: for every run, one line per individual "n n (m) p : q1 ... qK"
// (number, label, percentage of missing copies, population number), runs separated by one
// empty line.
std::string ClumppIndividuals(const StudyRecord& study, const std::vector<int32_t>& ofK,
                              const std::vector<int32_t>& populationNumbers) {
  std::string text;
  for (size_t r = 0; r < ofK.size(); ++r) {
    const RunRecord& run = study.runs[ofK[r]];
    if (r > 0) text += '\n';
    for (int32_t n = 0; n < study.N; ++n) {
      const int64_t missing = std::llround(100.0 * study.missingShare[n]);
      text += std::to_string(n + 1) + ' ' + std::to_string(n + 1) + " (" + std::to_string(missing) +
              ") " + std::to_string(populationNumbers[n]) + " : ";
      AppendMembershipRow(run.Q[n].data(), run.order, text);
      text += '\n';
    }
  }
  return text;
}

std::string ClumppParameters(int32_t K, int32_t N, int32_t runs) {
  const std::string base = std::string("K") + std::to_string(K);
  return "DATATYPE 0\n"
         "INDFILE " +
         base +
         ".indfile\n"
         "POPFILE NOTNEEDED.popfile\n"
         "OUTFILE " +
         base +
         ".outfile\n"
         "MISCFILE " +
         base +
         ".miscfile\n"
         "K " +
         std::to_string(K) +
         "\n"
         "C " +
         std::to_string(N) +
         "\n"
         "R " +
         std::to_string(runs) +
         "\n"
         "M 2\n"
         "W 0\n"
         "S 2\n"
         "GREEDY_OPTION 2\n"
         "REPEATS 20\n"
         "PERMUTATIONFILE NOTNEEDED.permutationfile\n"
         "PRINT_PERMUTED_DATA 1\n"
         "PERMUTED_DATAFILE " +
         base +
         ".perm_datafile\n"
         "PRINT_EVERY_PERM 0\n"
         "EVERY_PERMFILE " +
         base +
         ".every_permfile\n"
         "PRINT_RANDOM_INPUTORDER 0\n"
         "RANDOM_INPUTORDERFILE " +
         base +
         ".random_inputorderfile\n"
         "OVERRIDE_WARNINGS 0\n"
         "ORDER_BY_RUN 0\n";
}

}  // namespace

void WriteWholeFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out)
    FailRun("emclade-sweep: " + path + ": cannot create the file (" + std::strerror(errno) + ")");
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  out.close();
  if (!out)
    FailRun("emclade-sweep: " + path + ": cannot write the file (" + std::strerror(errno) + ")");
  CountWrittenFile();
}

void MakeFolder(const std::string& path) {
  std::error_code error;
  std::filesystem::create_directories(path, error);
  if (error || !std::filesystem::is_directory(path)) {
    FailRun("emclade-sweep: " + path + ": cannot create the folder (" +
            (error ? error.message() : std::string("a file of that name is in the way")) + ")");
  }
}

void AppendMembershipRow(const double* q, const std::vector<int32_t>& order, std::string& out) {
  const size_t K = order.size();
  int64_t units[64];
  double remainders[64];
  std::vector<int64_t> manyUnits;
  std::vector<double> manyRemainders;
  int64_t* u = units;
  double* rest = remainders;
  if (K > 64) {
    manyUnits.resize(K);
    manyRemainders.resize(K);
    u = manyUnits.data();
    rest = manyRemainders.data();
  }
  int64_t total = 0;
  for (size_t c = 0; c < K; ++c) {
    double x = q[order[c]] * static_cast<double>(kMillion);
    if (!(x > 0.0)) x = 0.0;  // NaN too
    if (x > static_cast<double>(kMillion)) x = static_cast<double>(kMillion);
    const double whole = std::floor(x);
    u[c] = static_cast<int64_t>(whole);
    rest[c] = x - whole;
    total += u[c];
  }
  // Round up the largest remainders until the row reaches one million millionths (a row that
  // sums to less than 1 - K millionths is written as it stands).
  for (int64_t deficit = kMillion - total; deficit > 0; --deficit) {
    size_t pick = K;
    for (size_t c = 0; c < K; ++c) {
      if (rest[c] >= 0.0 && (pick == K || rest[c] > rest[pick])) pick = c;
    }
    if (pick == K) break;
    ++u[pick];
    rest[pick] = -1.0;
  }
  // Each membership as "w.ffffff" (w is 0 or 1, u[c] <= one million), by hand: this text is
  // most of what a sweep writes.
  for (size_t c = 0; c < K; ++c) {
    char text[10];
    int64_t fraction = u[c] % kMillion;
    text[0] = ' ';
    text[1] = static_cast<char>('0' + u[c] / kMillion);
    text[2] = '.';
    for (int i = 8; i >= 3; --i, fraction /= 10) text[i] = static_cast<char>('0' + fraction % 10);
    out.append(c > 0 ? text : text + 1, c > 0 ? 9 : 8);
  }
}

int32_t AssignedCluster(const double* q, const std::vector<int32_t>& order, double& membership) {
  int32_t assigned = 0;
  for (size_t c = 1; c < order.size(); ++c) {
    if (q[order[c]] > q[order[assigned]]) assigned = static_cast<int32_t>(c);
  }
  membership = order.empty() ? 0.0 : q[order[assigned]];
  return assigned;
}

std::string FormatReal(double value, int32_t decimals) {
  if (std::isnan(value)) return "NA";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  char text[64];
  std::snprintf(text, sizeof(text), "%.*f", static_cast<int>(decimals), value);
  return text;
}

void WriteStudyFiles(const StudyRecord& study, const std::string& dir) {
  for (const char* sub : {"", "/Q", "/best", "/pong", "/clumpp"}) MakeFolder(dir + sub);
  WriteWholeFile(dir + "/summary.tsv", SummaryTable(study));
  WriteWholeFile(dir + "/runs.tsv", RunsTable(study));
  // best/K<K>.Q is the Q file of that K's best run: its text is made once.
  std::vector<char> isBest(study.runs.size(), 0);
  for (const KSummary& s : study.summaries) isBest[s.best] = 1;
  std::vector<std::string> bestText(study.runs.size());
  for (size_t i = 0; i < study.runs.size(); ++i) {
    const RunRecord& run = study.runs[i];
    std::string text = MembershipFile(run);
    WriteWholeFile(dir + "/Q/" + RunName(run.K, run.replicate) + ".Q", text);
    if (isBest[i]) bestText[i] = std::move(text);
  }
  const std::vector<int32_t> populationNumbers = PopulationNumbers(study);
  for (const KSummary& s : study.summaries) {
    const RunRecord& best = study.runs[s.best];
    const std::string name = dir + "/best/K" + std::to_string(s.K);
    WriteWholeFile(name + ".Q", bestText[s.best]);
    WriteWholeFile(name + ".P", FrequencyFile(study, best));
    if (!s.Qse.empty()) WriteWholeFile(name + ".Q_se", StandardErrorFile(s));
    if (HoldsProjection(study, best)) {
      WriteWholeFile(name + ".projection", ProjectionFileText(study, best));
    }
    const std::vector<int32_t> ofK = RunsOfK(study, s.K);
    const std::string clumpp = dir + "/clumpp/K" + std::to_string(s.K);
    WriteWholeFile(clumpp + ".indfile", ClumppIndividuals(study, ofK, populationNumbers));
    WriteWholeFile(clumpp + ".paramfile",
                   ClumppParameters(s.K, study.N, static_cast<int32_t>(ofK.size())));
  }
  for (const KSummary& s : study.summaries) {
    if (s.chosen)
      WriteWholeFile(dir + "/individuals.tsv", IndividualsTable(study, study.runs[s.best]));
  }
  WriteWholeFile(dir + "/pong/filemap.txt", PongFilemap(study));
  if (!study.populations.empty()) WriteWholeFile(dir + "/pong/ind2pop.txt", PongPopulations(study));
  if (!study.missingRuns.empty()) {
    WriteWholeFile(dir + "/missing_runs.tsv", MissingRunsTable(study));
  } else {
    std::error_code error;  // a list from an earlier, incomplete collect no longer holds
    std::filesystem::remove(dir + "/missing_runs.tsv", error);
  }
}

std::vector<std::string> StudyFileNames(const StudyRecord& study) {
  std::vector<std::string> names = {"summary.tsv", "runs.tsv"};
  for (const RunRecord& run : study.runs) {
    names.push_back("Q/" + RunName(run.K, run.replicate) + ".Q");
  }
  for (const KSummary& s : study.summaries) {
    const std::string K = std::to_string(s.K);
    for (const char* name :
         {"best/K#.Q", "best/K#.P", "clumpp/K#.indfile", "clumpp/K#.paramfile"}) {
      std::string path = name;
      path.replace(path.find('#'), 1, K);
      names.push_back(path);
    }
    if (!s.Qse.empty()) names.push_back("best/K" + K + ".Q_se");
    if (HoldsProjection(study, study.runs[s.best])) names.push_back("best/K" + K + ".projection");
  }
  for (const KSummary& s : study.summaries) {
    if (s.chosen) names.push_back("individuals.tsv");
  }
  names.push_back("pong/filemap.txt");
  if (!study.populations.empty()) names.push_back("pong/ind2pop.txt");
  if (!study.missingRuns.empty()) names.push_back("missing_runs.tsv");
  return names;
}
