#include "study/run_folder.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "data/input_messages.h"
#include "data/messages.h"
#include "study/record_text.h"
#include "study/run_check.h"
#include "study/study_file.h"
#include "study/study_files.h"

namespace {

const char kRunHeader[] =
    "K\treplicate\tseed\tstart\titerations\tconverged\tloglik\tseconds\tstudy\tproportions";

void AppendRow(std::string& text, const double* values, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    if (i > 0) text += ' ';
    AppendExactReal(text, values[i]);
  }
  text += '\n';
}

// The next line of in, which must hold count reals.
void ReadRow(RecordLines& in, size_t count, double* values, const char* what) {
  std::string_view line;
  if (!in.Next(line)) {
    in.Fail(std::string("expected ") + what + ", found the end of the file (truncated?)");
  }
  if (!ParseRealRow(line, count, values)) {
    in.Fail(std::string("expected ") + what + ": " + std::to_string(count) +
            " reals apart by single spaces, found " + QuoteToken(line));
  }
}

// Probabilities: every value finite and in [0, 1], the row summing to 1 (the estimates are
// written exactly, so both within the rounding of the sums that made them: 1e-9).
void CheckProbabilities(const RecordLines& in, const double* values, size_t count,
                        const char* what) {
  double sum = 0.0;
  for (size_t i = 0; i < count; ++i) {
    if (!(values[i] >= 0.0 && values[i] <= 1.0 + 1e-9)) {
      in.Fail(std::string("expected ") + what + " in [0, 1], found " + ExactReal(values[i]) +
              " (damaged)");
    }
    sum += values[i];
  }
  if (count > 0 && std::fabs(sum - 1.0) > 1e-9) {
    in.Fail(std::string("expected ") + what + " summing to 1, found a sum of " + ExactReal(sum) +
            " (damaged)");
  }
}

void ExpectEnd(RecordLines& in) {
  std::string_view line;
  if (in.Next(line)) in.Fail("expected the end of the file, found " + QuoteToken(line));
  // Every line was written with its line end: a last line without one was cut short.
  if (!in.EndsWithLineEnd()) in.Fail("the file ends inside this line (truncated?)");
}

}  // namespace

std::string RunFolderName(int32_t K, int32_t replicate) {
  std::string name = "K";
  name += std::to_string(K);
  name += ".r";
  name += std::to_string(replicate);
  return name;
}

void WriteRunFolder(const std::string& runsDir, const RunRecord& run, const std::string& stamp) {
  const std::string folder = runsDir + "/" + RunFolderName(run.K, run.replicate);
  const std::string temporary = JobTemporaryName(folder);
  std::error_code error;
  std::filesystem::remove_all(temporary, error);
  MakeFolder(temporary);

  std::string text;
  for (double loglik : run.history) AppendRow(text, &loglik, 1);
  WriteWholeFile(temporary + "/history.txt", text);
  text.clear();
  text.reserve(run.Q.size() * (static_cast<size_t>(run.K) * 21 + 1));
  for (const std::vector<double>& row : run.Q) AppendRow(text, row.data(), row.size());
  WriteWholeFile(temporary + "/Q.txt", text);
  text.clear();
  for (const Vector2D<double>& cluster : run.P) {
    for (const std::vector<double>& locus : cluster) AppendRow(text, locus.data(), locus.size());
  }
  WriteWholeFile(temporary + "/P.txt", text);
  text = std::string(kRunHeader) + '\n' + std::to_string(run.K) + '\t' +
         std::to_string(run.replicate) + '\t' + std::to_string(run.seed) + '\t' +
         EscapeField(run.start) + '\t' + std::to_string(run.iterations) + '\t' +
         (run.converged ? "yes" : "no") + '\t' + ExactReal(run.loglik) + '\t' +
         ExactReal(run.seconds) + '\t' + stamp + '\t';
  AppendRow(text, run.proportions.data(), run.proportions.size());
  WriteWholeFile(temporary + "/run.tsv", text);

  // Into place whole; a folder of this run from an earlier job goes first.
  if (std::rename(temporary.c_str(), folder.c_str()) != 0) {
    std::filesystem::remove_all(folder, error);
    if (std::rename(temporary.c_str(), folder.c_str()) != 0) {
      FailRun("emclade-sweep: " + folder + ": cannot move the run's folder into place (" +
              std::strerror(errno) + ")");
    }
  }
}

void ReadRunRow(const std::string& folder, RunRecord& run, std::string& stamp) {
  RecordLines in(folder + "/run.tsv");
  std::string_view line;
  if (!in.Next(line) || line != kRunHeader) {
    in.Fail("expected the header \"" + std::string(kRunHeader).substr(0, 30) + "...\", found " +
            QuoteToken(line));
  }
  if (!in.Next(line)) in.Fail("expected the row of the run, found the end of the file");
  const std::vector<std::string_view> f = SplitFields(line);
  if (f.size() != 10) {
    in.Fail("expected 10 tab-separated fields, found " + std::to_string(f.size()));
  }
  run.K = static_cast<int32_t>(in.Whole(f[0], 1, 100000, "K"));
  run.replicate = static_cast<int32_t>(in.Whole(f[1], 1, 100000, "the replicate"));
  run.seed = static_cast<uint32_t>(in.Whole(f[2], 1, 2147483647, "the seed"));
  run.start = in.Text(f[3]);
  run.iterations = static_cast<int32_t>(in.Whole(f[4], 0, 100000000, "the iterations"));
  if (f[5] != "yes" && f[5] != "no") in.Fail("expected yes or no, found " + QuoteToken(f[5]));
  run.converged = f[5] == "yes";
  run.loglik = in.Real(f[6], "the log-likelihood");
  if (std::isnan(run.loglik) || run.loglik > 0.0) {
    in.Fail("expected a log-likelihood of 0 or below, found " + std::string(f[6]) + " (damaged)");
  }
  run.seconds = in.Real(f[7], "the seconds");
  stamp = std::string(f[8]);
  run.proportions.assign(run.K, 0.0);
  if (!ParseRealRow(f[9], run.proportions.size(), run.proportions.data())) {
    in.Fail("expected " + std::to_string(run.K) + " mixing proportions, found " + QuoteToken(f[9]));
  }
  CheckProbabilities(in, run.proportions.data(), run.proportions.size(), "mixing proportions");
  ExpectEnd(in);
}

void ReadRunEstimates(const std::string& folder, const StudyRecord& study, bool withFrequencies,
                      RunRecord& run) {
  RecordLines history(folder + "/history.txt");
  run.history.assign(run.iterations, 0.0);
  for (double& loglik : run.history) {
    ReadRow(history, 1, &loglik, "the log-likelihood of an iteration");
    if (std::isnan(loglik) || loglik > 0.0) {
      history.Fail("expected a log-likelihood of 0 or below, found " + ExactReal(loglik) +
                   " (damaged)");
    }
  }
  ExpectEnd(history);
  // run.tsv records the log-likelihood of the run's estimates: that of the last iteration, or,
  // for an accelerated run whose last cycle ended on an earlier point (its last step lowered
  // the log-likelihood by rounding at convergence), one of the last four steps of the history, or
  // that point computed again (equal within rounding).
  const double last = run.history.empty() ? 0.0 : run.history.back();
  const size_t recent = std::min<size_t>(run.history.size(), 4);
  if (std::find(run.history.end() - recent, run.history.end(), run.loglik) == run.history.end() &&
      last != run.loglik && !SameLogLikelihood(run.loglik, last)) {
    FailRun("emclade-sweep: " + folder + "/run.tsv: line 2: the log-likelihood " +
            ExactReal(run.loglik) + " is not the last of history.txt, " + ExactReal(last) +
            " (damaged)");
  }

  RecordLines memberships(folder + "/Q.txt");
  run.Q.clear();
  InitVctr2D(run.Q, study.N, run.K, 0.0);
  for (std::vector<double>& row : run.Q) {
    ReadRow(memberships, row.size(), row.data(), "the memberships of an individual");
    CheckProbabilities(memberships, row.data(), row.size(), "memberships");
  }
  ExpectEnd(memberships);

  run.P.clear();
  if (!withFrequencies) return;
  RecordLines frequencies(folder + "/P.txt");
  InitVctr3D(run.P, run.K, study.L, study.J, 0.0);
  for (Vector2D<double>& cluster : run.P) {
    for (std::vector<double>& locus : cluster) {
      ReadRow(frequencies, locus.size(), locus.data(), "the allele frequencies of a locus");
      CheckProbabilities(frequencies, locus.data(), locus.size(), "allele frequencies");
    }
  }
  ExpectEnd(frequencies);
}
