#include "study/sweep.h"

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <iostream>

#include "cluster/mixture_em_map.h"
#include "data/messages.h"
#include "data/population_order_file.h"
#include "data/text_lines.h"
#include "study/alignment.h"
#include "study/cross_validation.h"
#include "study/model_choice.h"
#include "study/progress.h"
#include "study/run_folder.h"
#include "study/run_selection.h"
#include "study/study_file.h"
#include "study/study_files.h"
#include "study/supervised_run.h"
#include "study/whole_sweep.h"

namespace {

double SecondsSince(std::chrono::steady_clock::time_point began) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
}

// The share of missing copies of every individual (codes at or beyond J[l]).
std::vector<double> MissingShares(const GenotypeTable& X) {
  std::vector<double> shares(X.N, 0.0);
  const double copies = static_cast<double>(X.A) * X.L;
  for (int32_t n = 0; n < X.N; ++n) {
    int64_t missing = 0;
    for (int32_t a = 0; a < X.A; ++a) {
      for (int32_t l = 0; l < X.L; ++l) {
        missing += GenotypeCode(X, n, a, l) >= X.alleleValues[l].size() ? 1 : 0;
      }
    }
    shares[n] = copies > 0 ? static_cast<double>(missing) / copies : 0.0;
  }
  return shares;
}

}  // namespace

std::string DescribeClusterCounts(const std::vector<int32_t>& clusterCounts) {
  bool contiguous = clusterCounts.size() > 1;
  for (size_t i = 1; i < clusterCounts.size(); ++i) {
    contiguous = contiguous && clusterCounts[i] == clusterCounts[i - 1] + 1;
  }
  if (contiguous) {
    return std::to_string(clusterCounts.front()) + "-" + std::to_string(clusterCounts.back());
  }
  std::string text;
  for (int32_t K : clusterCounts) {
    if (!text.empty()) text += ',';
    text += std::to_string(K);
  }
  return text;
}

StudyRecord DescribeStudy(const SweepSettings& settings, const StudyData& data) {
  const GenotypeTable& X = data.X;
  if (FindStart(settings.start) == nullptr) {
    FailRun("emclade-sweep: --start: expected one of " + StartNames() + ", got " + settings.start);
  }
  for (int32_t K : settings.clusterCounts) {
    if (K > X.N) {
      FailRun("emclade-sweep: " + settings.inputPath + ": --k asks for K = " + std::to_string(K) +
              " but the file holds " + std::to_string(X.N) + " individuals");
    }
  }
  StudyRecord study;
  study.settings = settings;
  study.N = X.N;
  study.A = X.A;
  study.L = X.L;
  study.alleleValues = X.alleleValues;
  for (const std::vector<int32_t>& values : X.alleleValues) {
    study.J.push_back(static_cast<int32_t>(values.size()));
  }
  study.names = data.names;
  study.populations = data.populations;
  study.locusNames = data.locusNames;
  study.format = data.format;
  study.detected = data.detected;
  study.missingShare = MissingShares(X);
  study.tableChecksum = GenotypeTableChecksum(X);
  return study;
}

void SummariseStudy(StudyRecord& study, const GenotypeTable& X, bool terminal) {
  study.summaries.clear();
  for (int32_t K : study.settings.clusterCounts) {
    if (RunsOfK(study, K).empty()) continue;
    KSummary summary;
    summary.K = K;
    study.summaries.push_back(summary);
  }
  AlignStudy(study);
  CrossValidateStudy(study, X, terminal);
  ChooseK(study);
}

namespace {

// Makes the runs of study.runs (planned: K, replicate, seed and start set) on data, the Ward
// tree first when the start needs it; finished as MakeRuns takes it.
void MakeStudyRuns(StudyRecord& study, const StudyData& data, const ThreadPlan* plan, bool terminal,
                   const std::function<void(RunRecord& run)>& finished) {
  const SweepSettings& settings = study.settings;
  const GenotypeTable& X = data.X;
  const StartMethod& start = *FindStart(settings.start);
  StartContext context;
  context.X = &X;
  context.N = X.N;
  context.L = X.L;
  context.observedCopies = ObservedCopies(study.missingShare, X.A, X.L);
  if (start.needsWardTree) {
    const auto treeBegan = std::chrono::steady_clock::now();
    PrepareWardTree(context, start, settings.clusterCounts, settings.seed, settings.wardMemoryBytes,
                    settings.threads, settings.inputPath);
    study.treeSeconds = SecondsSince(treeBegan);
  }
  const bool needsCounts = start.needsAlleleCounts || settings.search != "none";
  if (needsCounts && context.counts.X == nullptr) {
    PrepareAlleleCountSpace(X, settings.threads, context.counts);
  }
  const int64_t copies = static_cast<int64_t>(X.N) * X.A * X.L;
  const ThreadPlan threads =
      plan != nullptr
          ? *plan
          : PlanThreads(copies, static_cast<int32_t>(study.runs.size()), settings.threads);
  MakeRuns(context, start, settings, X.A, study.J, threads, terminal, study.runs, finished);
}

}  // namespace

StudyRecord RunStudy(const SweepSettings& settings, const StudyData& data, const ThreadPlan* plan,
                     bool terminal) {
  const auto began = std::chrono::steady_clock::now();
  StudyRecord study = DescribeStudy(settings, data);
  study.runs = PlanRuns(settings);
  MakeStudyRuns(study, data, plan, terminal, nullptr);
  SummariseStudy(study, data.X, terminal);
  study.totalSeconds = SecondsSince(began);
  return study;
}

std::vector<RunRecord> RunStudyPart(const SweepSettings& settings, const StudyData& data,
                                    const ThreadPlan* plan, bool terminal) {
  StudyRecord study = DescribeStudy(settings, data);
  study.runs = SelectRuns(settings, PlanRuns(settings));
  // The study file before any run, so that a folder of another study costs no runs.
  const std::string runsDir = settings.outDir + "/runs";
  MakeFolder(runsDir);
  const std::string text = StudyFileText(study);
  WriteStudyFileOnce(runsDir + "/study.txt", text);
  const std::string stamp = StudyStamp(text);
  MakeStudyRuns(study, data, plan, terminal, [&](RunRecord& run) {
    WriteRunFolder(runsDir, run, stamp);
    Vector2D<double>().swap(run.Q);
    Vector3D<double>().swap(run.P);
    std::vector<double>().swap(run.history);
  });
  return study.runs;
}

int RunSweepCommand(const SweepSettings& settings, StudyFileWriter writeMore) {
  const auto began = std::chrono::steady_clock::now();
  RefuseOutputOverInput(settings, MakesPartOfSweep(settings));
  const StudyData data = ReadStudyInput(settings.inputPath, settings.reader);
  if (!settings.quiet) {
    std::cerr << "emclade-sweep: " << settings.inputPath << ": " << data.detected << std::endl;
  }
  SweepSettings asked = settings;
  if (!asked.populationOrderFile.empty()) {
    asked.populationOrder = ReadPopulationOrder(
        asked.populationOrderFile, ReadWholeFile(asked.populationOrderFile), data.populations);
  }
  if (!asked.clusterCountsGiven) {
    // The default range stops at the number of individuals.
    while (asked.clusterCounts.size() > 1 && asked.clusterCounts.back() > data.X.N) {
      asked.clusterCounts.pop_back();
    }
  }
  if (!asked.supervisedFile.empty()) ApplySupervision(data.names, asked);
  const bool terminal = isatty(STDERR_FILENO) == 1;
  if (MakesPartOfSweep(asked)) {
    // The folder before the work, so that a folder that cannot be made costs no runs.
    PrepareFolderOfPart(asked);
    const std::vector<RunRecord> made = RunStudyPart(asked, data, nullptr, terminal);
    const int64_t all = static_cast<int64_t>(asked.clusterCounts.size()) * asked.replicates;
    std::cout << "emclade-sweep: " << made.size() << " of " << all << " runs (K "
              << DescribeClusterCounts(asked.clusterCounts) << ", " << asked.replicates
              << " replicates";
    if (asked.shards > 0) std::cout << "; shard " << asked.shard << "/" << asked.shards;
    std::cout << ") in " << FormatDuration(SecondsSince(began)) << "; results in " << asked.outDir
              << "/runs/; gather every run with: emclade-sweep collect " << asked.outDir
              << std::endl;
    return 0;
  }
  bool alreadyWhole = false;
  const StudyRecord study = RunWholeSweep(asked, data, terminal, writeMore, alreadyWhole);
  if (alreadyWhole) {
    std::cout << "emclade-sweep: " << settings.outDir
              << "/ holds this sweep, whole: nothing to resume" << std::endl;
    return 0;
  }
  std::cout << "emclade-sweep: " << study.runs.size() << " runs (K "
            << DescribeClusterCounts(asked.clusterCounts) << ", " << settings.replicates
            << " replicates) in " << FormatDuration(SecondsSince(began)) << "; "
            << ChoiceCriterion(study.settings) << " at K = " << study.chosenK << "; results in "
            << settings.outDir << "/" << std::endl;
  return 0;
}
