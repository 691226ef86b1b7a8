// The page is built from the StudyRecord alone, never from this process: the times it shows
// are the seconds every run recorded (RunRecord::seconds, the seconds column of runs.tsv,
// which a run made elsewhere keeps with its results), not this process's clock, and it names
// files only by paths relative to the sweep's folder. So a record gathered from runs made on
// other machines gives the same page byte for byte.
#include "charts/study_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <vector>

#include "charts/base64.h"
#include "charts/cluster_colours.h"
#include "charts/structure_order.h"
#include "study/accelerated_run.h"
#include "study/alignment.h"
#include "study/model.h"
#include "study/model_choice.h"
#include "study/reproducing_command.h"
#include "study/run_folder.h"
#include "study/study_files.h"
#include "study/sweep.h"

namespace {

const char kStyle[] = R"(
body { font-family: "Liberation Sans", Arial, Helvetica, sans-serif; color: #1a1a1a;
       max-width: 1320px; margin: 0 auto; padding: 16px 24px 48px; line-height: 1.45; }
h1 { font-size: 1.6em; margin: 0.4em 0 0.2em; }
h2 { font-size: 1.25em; margin: 1.6em 0 0.5em; border-bottom: 1px solid #ccc; padding-bottom: 3px; }
p.lead { font-size: 1.1em; margin-top: 0; }
nav a { margin-right: 1em; }
div.wide { overflow-x: auto; }
table { border-collapse: collapse; margin: 0.5em 0 1em; font-size: 0.92em; }
table.criteria { font-size: 0.85em; }
th, td { border: 1px solid #d0d0d0; padding: 3px 8px; text-align: right; }
th { background: #f2f2f2; }
td.text, th.text { text-align: left; }
tr.chosen td { background: #fff1b8; font-weight: bold; }
table.facts th { text-align: left; }
img { max-width: 100%; height: auto; border: 1px solid #e2e2e2; }
.swatch { display: inline-block; width: 0.9em; height: 0.9em; vertical-align: -0.1em;
          margin-right: 0.25em; border: 1px solid #999; }
pre { background: #f6f6f6; border: 1px solid #ddd; padding: 8px 10px; overflow-x: auto;
      white-space: pre-wrap; word-break: break-all; }
.note { color: #555; font-size: 0.92em; }
dl.files dt { font-weight: bold; margin-top: 0.6em; }
dl.files dd { margin-left: 1.2em; }
dl.files a { margin-right: 0.7em; white-space: nowrap; }
)";

std::string Real(double value, int32_t decimals) {
  return FormatReal(value, decimals);
}

// A setting as it would be typed: 0.0001, 1e-08.
std::string ShortReal(double value) {
  char text[32];
  std::snprintf(text, sizeof(text), "%g", value);
  return text;
}

std::string Percent(double share) {
  return FormatReal(100.0 * share, 1) + " %";
}

std::string Colour(uint32_t rgb) {
  char text[8];
  std::snprintf(text, sizeof(text), "#%06x", static_cast<unsigned>(rgb & 0xffffff));
  return text;
}

std::string Swatch(int32_t cluster) {
  return "<span class=\"swatch\" style=\"background:" + Colour(ClusterColour(cluster)) +
         "\"></span>";
}

std::string Row(const std::vector<std::string>& cells, const std::string& cellTag = "td",
                const std::string& rowClass = "") {
  std::string row = rowClass.empty() ? "<tr>" : "<tr class=\"" + rowClass + "\">";
  for (const std::string& cell : cells) row += "<" + cellTag + ">" + cell + "</" + cellTag + ">";
  return row + "</tr>\n";
}

std::string Image(const std::string& png, const std::string& alt) {
  if (png.empty()) return "<p class=\"note\">(" + EscapeHtml(alt) + ": not drawn)</p>\n";
  return "<p><img alt=\"" + EscapeHtml(alt) + "\" src=\"data:image/png;base64," +
         EncodeBase64(png) + "\"></p>\n";
}

std::string Link(const std::string& path, const std::string& text) {
  return "<a href=\"" + EscapeHtml(path) + "\">" + EscapeHtml(text) + "</a>";
}

std::string InputSection(const StudyRecord& study) {
  int32_t fewest = 0, most = 0;
  double alleles = 0.0;
  for (size_t l = 0; l < study.J.size(); ++l) {
    fewest = l == 0 ? study.J[l] : std::min(fewest, study.J[l]);
    most = std::max(most, study.J[l]);
    alleles += study.J[l];
  }
  double missing = 0.0, worst = 0.0;
  int32_t withMissing = 0;
  for (double share : study.missingShare) {
    missing += share;
    worst = std::max(worst, share);
    withMissing += share > 0.0 ? 1 : 0;
  }
  if (!study.missingShare.empty()) missing /= static_cast<double>(study.missingShare.size());
  const std::vector<std::string> populations = OrderPopulations(study);

  std::string html = "<h2 id=\"input\">Input</h2>\n<table class=\"facts\">\n";
  auto fact = [&html](const std::string& name, const std::string& value) {
    html += "<tr><th>" + name + "</th><td class=\"text\">" + value + "</td></tr>\n";
  };
  fact("File", "<code>" + EscapeHtml(study.settings.inputPath) + "</code>");
  if (!study.detected.empty()) fact("Read as", EscapeHtml(study.detected));
  fact("Individuals", std::to_string(study.N));
  fact("Loci", std::to_string(study.L));
  fact("Ploidy", std::to_string(study.A) + " allele copies per individual and locus");
  fact("Alleles per locus",
       study.J.empty() ? std::string("none")
                       : std::to_string(fewest) + " to " + std::to_string(most) + " (mean " +
                             Real(alleles / static_cast<double>(study.J.size()), 1) + ")");
  fact("Missing copies",
       Percent(missing) + " of all; " +
           (withMissing == 1 ? std::string("1 individual misses some")
                             : std::to_string(withMissing) + " individuals miss some") +
           ", at most " + Percent(worst));
  fact("Populations",
       populations.empty() ? std::string("not given") : std::to_string(populations.size()));
  html += "</table>\n";

  const RunRecord* chosen = ChosenRun(study);
  if (!populations.empty()) {
    // Every population's size and, at the chosen K, its mean membership of every cluster.
    std::map<std::string, size_t> index;
    for (size_t p = 0; p < populations.size(); ++p) index[populations[p]] = p;
    const int32_t K = chosen != nullptr ? chosen->K : 0;
    std::vector<int32_t> sizes(populations.size(), 0);
    std::vector<std::vector<double>> sums(populations.size(), std::vector<double>(K, 0.0));
    for (int32_t n = 0; n < study.N; ++n) {
      const size_t p = index[study.populations[n]];
      ++sizes[p];
      for (int32_t c = 0; c < K; ++c) sums[p][c] += chosen->Q[n][chosen->order[c]];
    }
    html += "<table>\n<tr><th class=\"text\">Population</th><th>Individuals</th>";
    for (int32_t c = 0; c < K; ++c) {
      html += "<th>" + Swatch(c) + "cluster " + EscapeHtml(ClusterName(study, c)) + "</th>";
    }
    html += "</tr>\n";
    for (size_t p = 0; p < populations.size(); ++p) {
      html += "<tr><td class=\"text\">" + EscapeHtml(populations[p]) + "</td><td>" +
              std::to_string(sizes[p]) + "</td>";
      for (int32_t c = 0; c < K; ++c) html += "<td>" + Real(sums[p][c] / sizes[p], 2) + "</td>";
      html += "</tr>\n";
    }
    html += "</table>\n";
    if (K > 0) {
      html += "<p class=\"note\">Cluster columns: the population's mean membership at K = " +
              std::to_string(K) + ", the " + ChoiceCriterion(study.settings) + ".</p>\n";
    }
  }
  return html;
}

std::string ChoiceSection(const StudyRecord& study, const StudyImages& images) {
  const int32_t V = study.settings.cvFolds;
  std::string html = "<h2 id=\"choice\">Choice of K</h2>\n";
  html += Image(images.modelChoice, V > 0 ? "Log-likelihood, AIC, BIC, ICL, delta K and the "
                                            "cross-validation error against K"
                                          : "Log-likelihood, AIC, BIC, ICL and delta K against K");
  html += "<div class=\"wide\"><table class=\"criteria\">\n";
  std::vector<std::string> header = {
      "K",   "replicates", "converged", "loglik_best", "loglik_mean", "loglik_sd",     "parameters",
      "AIC", "BIC",        "ICL",       "deltaK",      "modes",       "best_mode_size"};
  const bool bootstrap = study.settings.bootstrap > 0;
  if (V > 0) header.insert(header.end(), {"cv_error", "cv_se"});
  if (bootstrap) header.push_back("q_se_mean");
  header.push_back("chosen");
  html += Row(header, "th");
  for (const KSummary& s : study.summaries) {
    std::vector<std::string> row = {std::to_string(s.K),
                                    std::to_string(s.replicates),
                                    std::to_string(s.converged),
                                    Real(s.loglikBest, 3),
                                    Real(s.loglikMean, 3),
                                    Real(s.loglikSd, 3),
                                    std::to_string(s.parameters),
                                    Real(s.AIC, 3),
                                    Real(s.BIC, 3),
                                    Real(s.ICL, 3),
                                    Real(s.deltaK, 3),
                                    std::to_string(s.modes),
                                    std::to_string(s.bestModeSize)};
    if (V > 0) row.insert(row.end(), {Real(s.cvError, 4), Real(s.cvSe, 4)});
    if (bootstrap) row.push_back(Real(s.qSeMean, 4));
    row.push_back(s.chosen ? "yes" : "no");
    html += Row(row, "td", s.chosen ? "chosen" : "");
  }
  html += "</table></div>\n<p class=\"note\">The table of " + Link("summary.tsv", "summary.tsv") +
          " (there with six decimals). AIC = &minus;2 LL + 2p and BIC = &minus;2 LL + p ln N of "
          "the best replicate, lower is better; ICL adds twice the entropy of the memberships; "
          "&Delta;K is Evanno's, defined where K &minus; 1 and K + 1 are in the sweep. ";
  if (V > 0) {
    html += "cv_error is the " + std::to_string(V) +
            "-fold cross-validation error of the best replicate (<code>--cv " + std::to_string(V) +
            "</code>): the observed genotypes fall into " + std::to_string(V) +
            " folds, the same for every K; each fold in turn is made missing, the model fitted "
            "again from the best replicate's estimates, and every held-out genotype scored by "
            "its deviance 2 &sum;<sub>x</sub> c<sub>x</sub> ln(c<sub>x</sub> / (m "
            "h<sub>x</sub>)) (c<sub>x</sub> of its m copies carry allele x, h<sub>x</sub> = "
            "&sum;<sub>k</sub> q<sub>k</sub> p<sub>kx</sub> the fitted share); cv_error is the "
            "mean over folds of the deviance per held-out genotype, lower is better, and cv_se "
            "its standard error. ";
  }
  if (bootstrap) {
    html += "q_se_mean is the mean standard error of the best replicate's memberships, from " +
            std::to_string(study.settings.bootstrap) +
            " refits on the loci drawn with replacement (every entry in best/K&lt;K&gt;.Q_se). ";
  }
  html += std::string("The highlighted row has the ") + ChoiceCriterion(study.settings) +
          ", which chose K. Distrust every criterion when sampling is uneven or the structure "
          "is hierarchical: look at the memberships across K as well.</p>\n";
  return html;
}

// Every K's modes: how many replicates found each solution, and its best log-likelihood.
std::string ModesSection(const StudyRecord& study) {
  std::string html = "<h2 id=\"modes\">Modes</h2>\n<table>\n";
  html += Row({"K", "replicates", "modes", "replicates per mode", "best log-likelihood per mode"},
              "th");
  for (const KSummary& s : study.summaries) {
    std::vector<int32_t> sizes;
    std::vector<double> best;
    for (int32_t i : RunsOfK(study, s.K)) {
      const RunRecord& run = study.runs[i];
      const size_t m = static_cast<size_t>(std::max(1, run.mode));
      if (sizes.size() < m) {
        sizes.resize(m, 0);
        best.resize(m, -INFINITY);
      }
      ++sizes[m - 1];
      if (run.loglik > best[m - 1]) best[m - 1] = run.loglik;
    }
    std::string counts, lls;
    for (size_t m = 0; m < sizes.size(); ++m) {
      if (m > 0) {
        counts += ", ";
        lls += ", ";
      }
      counts += std::to_string(sizes[m]);
      lls += Real(best[m], 3);
    }
    html += Row(
        {std::to_string(s.K), std::to_string(s.replicates), std::to_string(s.modes), counts, lls},
        "td", s.chosen ? "chosen" : "");
  }
  html +=
      "</table>\n<p class=\"note\">Replicates whose memberships agree at 0.97 or more after "
      "their clusters are matched form a mode; mode 1 holds the best replicate. Many modes "
      "at a K mean several peaks of the likelihood: trust that K less, or run more "
      "replicates.</p>\n";
  return html;
}

std::string RunsSection(const StudyRecord& study) {
  std::string html = "<h2 id=\"runs\">Runs</h2>\n<table>\n";
  html += Row({"K", "runs", "converged", "iterations (fewest to most)", "seconds (sum)"}, "th");
  double total = 0.0;
  for (const KSummary& s : study.summaries) {
    int32_t fewest = 0, most = 0, converged = 0;
    double seconds = 0.0;
    const std::vector<int32_t> runs = RunsOfK(study, s.K);
    for (size_t r = 0; r < runs.size(); ++r) {
      const RunRecord& run = study.runs[runs[r]];
      fewest = r == 0 ? run.iterations : std::min(fewest, run.iterations);
      most = std::max(most, run.iterations);
      converged += run.converged ? 1 : 0;
      seconds += run.seconds;
    }
    total += seconds;
    html += Row({std::to_string(s.K), std::to_string(runs.size()), std::to_string(converged),
                 std::to_string(fewest) + " to " + std::to_string(most),
                 "<span class=\"seconds\">" + Real(seconds, 3) + "</span>"});
  }
  html += "</table>\n<p class=\"note\">The runs took <span class=\"seconds\">" + Real(total, 3) +
          "</span> s together, as each recorded it (the seconds of " +
          Link("runs.tsv", "runs.tsv") +
          "); runs that went at the same time on several threads overlap, so the sweep took "
          "less wall time. " +
          EscapeHtml(EmDescription(study.settings, ShortReal(study.settings.tolerance))) + "</p>\n";
  return html;
}

std::string RepeatSection(const StudyRecord& study) {
  const SweepSettings& s = study.settings;
  std::string html = "<h2 id=\"repeat\">Repeat</h2>\n<table class=\"facts\">\n";
  auto fact = [&html](const std::string& name, const std::string& value) {
    html += "<tr><th>" + name + "</th><td class=\"text\">" + value + "</td></tr>\n";
  };
  fact("Seed", std::to_string(s.seed) + " (each run's own seed is in runs.tsv)");
  fact("K", DescribeClusterCounts(s.clusterCounts));
  fact("Replicates", std::to_string(s.replicates));
  fact("Start", EscapeHtml(s.start));
  fact("Model", EscapeHtml(s.model) + ": a row of Q is " + FindModel(s.model)->memberships);
  fact("Iterations at most", std::to_string(s.maxIterations));
  fact("Tolerance", ShortReal(s.tolerance));
  fact("Acceleration", EscapeHtml(s.acceleration));
  fact("Stopping rule", EscapeHtml(s.stop));
  if (s.cvFolds > 0) fact("Choice of K", std::to_string(s.cvFolds) + "-fold cross-validation");
  if (!s.supervisedFile.empty()) {
    std::string names;
    for (size_t c = 0; c < s.referencePopulations.size(); ++c) {
      names += (c > 0 ? ", " : "") + Swatch(static_cast<int32_t>(c)) +
               EscapeHtml(ClusterName(study, static_cast<int32_t>(c)));
    }
    fact("Supervised", "from <code>" + EscapeHtml(s.supervisedFile) +
                           "</code>: the clusters are the reference populations " + names);
  }
  if (s.bootstrap > 0) fact("Bootstrap", std::to_string(s.bootstrap) + " replicates per K");
  if (!s.plotClusterCounts.empty()) {
    fact("K of the structure plot", DescribeClusterCounts(s.plotClusterCounts));
  }
  if (!s.populationOrderFile.empty()) {
    fact("Population order", "from <code>" + EscapeHtml(s.populationOrderFile) + "</code>");
  }
  fact("Plot files", EscapeHtml(s.plotFormat));
  html += "</table>\n<p>The command:</p>\n<pre><code class=\"command\">" +
          EscapeHtml(ReproducingCommand(s)) +
          "</code></pre>\n<p class=\"note\">The same command gives the same files byte for byte, "
          "whatever the number of threads, and so do its runs made in parts (<code>--runs</code>, "
          "<code>--shard</code>) and gathered by <code>emclade-sweep collect</code> (only the "
          "seconds differ).</p>\n";
  return html;
}

// Links to every file of the sweep, by folder (the memberships of every run one line per K).
std::string FilesSection(const StudyRecord& study, const std::string& plotExtension) {
  std::vector<std::string> names = StudyFileNames(study);
  for (const char* plot : {"structure", "model_choice", "convergence"}) {
    names.push_back(std::string("plots/") + plot + "." + plotExtension);
  }
  std::vector<std::string> keys;
  std::map<std::string, std::vector<std::string>> byKey;
  for (const std::string& name : names) {
    const size_t slash = name.find('/');
    std::string key = slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
    if (key == "Q/") key = name.substr(0, name.find(".r"));
    if (byKey.find(key) == byKey.end()) keys.push_back(key);
    byKey[key].push_back(name);
  }
  std::string html = "<h2 id=\"files\">Files</h2>\n<dl class=\"files\">\n";
  for (const std::string& key : keys) {
    std::string title = key.empty() ? std::string("Tables") : key;
    if (key.rfind("Q/K", 0) == 0) title = "Q/ at K = " + key.substr(3);
    html += "<dt>" + EscapeHtml(title) + "</dt><dd>";
    for (const std::string& name : byKey[key]) {
      html += Link(name, key.empty() ? name : name.substr(name.find('/') + 1)) + " ";
    }
    html += "</dd>\n";
  }
  html += "</dl>\n";
  return html;
}

}  // namespace

std::string EscapeHtml(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string BuildStudyReport(const StudyRecord& study, const StudyImages& images,
                             const std::string& plotExtension) {
  const std::string input = EscapeHtml(study.settings.inputPath);
  const SweepSettings& s = study.settings;
  std::string lead = std::to_string(study.N) + " individuals at " + std::to_string(study.L) +
                     " loci; " + std::to_string(study.runs.size()) + " runs (K " +
                     DescribeClusterCounts(s.clusterCounts) + ", " + std::to_string(s.replicates) +
                     " replicates each).";
  for (const KSummary& k : study.summaries) {
    if (!k.chosen) continue;
    const std::string criterion = ChoiceCriterion(study.settings);
    lead += " The " + criterion + " is at <strong>K = " + std::to_string(k.K) +
            "</strong>, where " + std::to_string(k.bestModeSize) + " of " +
            std::to_string(k.replicates) + " replicates agree with the best.";
  }
  if (!study.missingRuns.empty()) {
    std::string names;
    for (const RunId& id : study.missingRuns) {
      names += (names.empty() ? "" : ", ") + RunFolderName(id.K, id.replicate);
    }
    lead += " <strong>" + std::to_string(study.missingRuns.size()) + " of " +
            std::to_string(study.missingRuns.size() + study.runs.size()) +
            " runs are missing</strong> (" + names + "; listed in " +
            Link("missing_runs.tsv", "missing_runs.tsv") +
            "): every table, plot and criterion here holds only the runs collected.";
  }
  std::string html;
  html.reserve(images.structure.size() * 4 / 3 + images.modelChoice.size() * 4 / 3 +
               images.convergence.size() * 4 / 3 + 65536);
  html +=
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>"
      "emclade-sweep: " +
      input + "</title>\n<style>" + kStyle + "</style>\n</head>\n<body>\n";
  html += "<h1>Population structure of <code>" + input + "</code></h1>\n<p class=\"lead\">" + lead +
          "</p>\n";
  html += "<nav>" + Link("#input", "Input") + Link("#choice", "Choice of K") +
          Link("#memberships", "Memberships") + Link("#convergence", "Convergence") +
          Link("#modes", "Modes") + Link("#runs", "Runs") + Link("#repeat", "Repeat") +
          Link("#files", "Files") + "</nav>\n";
  html += InputSection(study);
  html += ChoiceSection(study, images);
  html += "<h2 id=\"memberships\">Memberships</h2>\n";
  html += Image(images.structure, "Memberships of every individual at every K");
  html +=
      "<p class=\"note\">One panel per K, the best replicate of each; a cluster keeps its "
      "colour and number from one K to the next. The numbers are those of the Q files and "
      "individuals.tsv.</p>\n";
  html += "<h2 id=\"convergence\">Convergence</h2>\n";
  html += Image(images.convergence, "Log-likelihood by iteration of every replicate");
  html += ModesSection(study);
  html += RunsSection(study);
  html += RepeatSection(study);
  html += FilesSection(study, plotExtension);
  html += "</body>\n</html>\n";
  return html;
}
