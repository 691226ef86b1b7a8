#include "study/collect.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <map>

#include "data/messages.h"
#include "data/text_lines.h"
#include "study/alignment.h"
#include "study/bootstrap.h"
#include "study/model.h"
#include "study/model_choice.h"
#include "study/progress.h"
#include "study/record_text.h"
#include "study/run_check.h"
#include "study/run_folder.h"
#include "study/run_schedule.h"
#include "study/run_selection.h"
#include "study/study_file.h"
#include "study/study_files.h"
#include "study/study_folder.h"

namespace {

std::string Names(const std::vector<RunId>& runs) {
  std::string text;
  for (const RunId& id : runs)
    text += (text.empty() ? "" : ", ") + RunFolderName(id.K, id.replicate);
  return text;
}

}  // namespace

StudyRecord CollectStudy(const CollectSettings& settings) {
  const std::string runsDir = settings.dir + "/runs";
  const std::string studyPath = runsDir + "/study.txt";
  if (!std::filesystem::is_regular_file(studyPath)) {
    FailRun("emclade-sweep: " + studyPath +
            ": no such file: expected the runs of a sweep made with --runs or --shard --out " +
            settings.dir);
  }
  StudyRecord study;
  ReadStudyFile(studyPath, study);
  study.settings.outDir = settings.dir;
  study.settings.quiet = settings.quiet;
  study.settings.threads = settings.threads;
  const std::string stamp = StudyStamp(ReadWholeFile(studyPath));

  // Every run folder, by the run its row names (in the order of the folders' names, so that
  // messages do not depend on the order the file system lists them).
  std::vector<std::string> folders;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(runsDir, error)) {
    const std::string name = entry.path().filename().string();
    if (name.empty() || name[0] == '.' || !entry.is_directory()) continue;
    folders.push_back(name);
  }
  if (error)
    FailRun("emclade-sweep: " + runsDir + ": cannot read the folder (" + error.message() + ")");
  std::sort(folders.begin(), folders.end());

  const std::vector<RunRecord> planned = PlanRuns(study.settings);
  std::map<RunId, size_t> plannedIndex;
  for (size_t i = 0; i < planned.size(); ++i) {
    plannedIndex[{planned[i].K, planned[i].replicate}] = i;
  }
  std::map<RunId, std::string> foundIn;
  std::vector<RunRecord> runs;
  for (const std::string& name : folders) {
    const std::string folder = runsDir + "/" + name;
    RunRecord run;
    std::string runStamp;
    ReadRunRow(folder, run, runStamp);
    const RunId id{run.K, run.replicate};
    if (runStamp != stamp) {
      FailRun("emclade-sweep: " + folder +
              ": a run made for another study (its settings, supervision or "
              "input differ from " +
              studyPath + "); remove it, or make it again");
    }
    const auto planIt = plannedIndex.find(id);
    if (planIt == plannedIndex.end()) {
      FailRun("emclade-sweep: " + folder + ": run " + RunFolderName(id.K, id.replicate) +
              " is not one of the sweep (K " + DescribeClusterCounts(study.settings.clusterCounts) +
              ", replicates 1-" + std::to_string(study.settings.replicates) + ")");
    }
    const RunRecord& expected = planned[planIt->second];
    // The start column is the start's name, perhaps with the size of a Ward subsample.
    const bool startFits =
        run.start.compare(0, expected.start.size(), expected.start) == 0 &&
        (run.start.size() == expected.start.size() || run.start[expected.start.size()] == '(');
    if (run.seed != expected.seed || !startFits) {
      FailRun("emclade-sweep: " + folder + "/run.tsv: line 2: run " +
              RunFolderName(id.K, id.replicate) + " of this sweep has seed " +
              std::to_string(expected.seed) + " and start " + expected.start + ", found " +
              std::to_string(run.seed) + " and " + run.start + " (damaged)");
    }
    const auto [twice, fresh] = foundIn.emplace(id, name);
    if (!fresh) {
      FailRun("emclade-sweep: " + runsDir + ": run " + RunFolderName(id.K, id.replicate) +
              " is there twice, in " + twice->second + "/ and " + name + "/; remove one");
    }
    // A Ward tree made on a subsample whose size depends on the memory of the job's machine
    // is another start: the runs of one sweep must share it.
    if (!runs.empty() && run.start != runs.front().start) {
      FailRun("emclade-sweep: " + folder + "/run.tsv: line 2: run " +
              RunFolderName(id.K, id.replicate) + " has start " + run.start + ", but run " +
              RunFolderName(runs.front().K, runs.front().replicate) + " has " + runs.front().start +
              " (jobs on machines of different memory): make the runs again with alike jobs");
    }
    runs.push_back(std::move(run));
  }
  for (const RunRecord& run : planned) {
    if (foundIn.find({run.K, run.replicate}) == foundIn.end()) {
      study.missingRuns.push_back({run.K, run.replicate});
    }
  }
  if (!study.missingRuns.empty() && (!settings.allowMissing || runs.empty())) {
    FailRun("emclade-sweep: " + runsDir + ": " + std::to_string(study.missingRuns.size()) + " of " +
            std::to_string(planned.size()) + " runs missing: " + Names(study.missingRuns) +
            " (make them with --runs " + DescribeRuns(study.missingRuns) +
            (runs.empty() ? std::string(")")
                          : std::string(", or collect what is there with --allow-missing)")));
  }

  if (!settings.quiet && settings.collectingLine) {
    std::cerr << "emclade-sweep: collecting " << runs.size() << " runs from " << runsDir << "/"
              << std::endl;
  }
  // The record as one process leaves it: runs by K, then replicate; the frequencies of the
  // best replicate of every K only.
  std::sort(runs.begin(), runs.end(), [](const RunRecord& a, const RunRecord& b) {
    return RunId{a.K, a.replicate} < RunId{b.K, b.replicate};
  });
  std::map<int32_t, size_t> bestOfK;
  for (size_t i = 0; i < runs.size(); ++i) {
    const auto best = bestOfK.find(runs[i].K);
    if (best == bestOfK.end() || Outranks(runs[i], runs[best->second])) bestOfK[runs[i].K] = i;
  }
  // The table the runs were made on, to recompute every run's log-likelihood.
  StudyData read;
  if (settings.data == nullptr) {
    std::error_code missing;
    if (!std::filesystem::exists(study.settings.inputPath, missing)) {
      FailRun("emclade-sweep: " + study.settings.inputPath +
              ": no such file: collect reads the input the runs were made on (named in " +
              studyPath + ") to check them: run it in the folder the jobs ran in");
    }
    read = ReadStudyInput(study.settings.inputPath, study.settings.reader);
  }
  const GenotypeTable& X = settings.data != nullptr ? settings.data->X : read.X;
  if (GenotypeTableChecksum(X) != study.tableChecksum) {
    FailRun("emclade-sweep: " + study.settings.inputPath +
            ": not the table the runs were made on (its checksum differs from " + studyPath +
            "'s): the input changed since");
  }
  // The study file names a model this program has (ReadStudyFile checks it).
  const StudyModel* model = FindModel(study.settings.model);
  for (size_t i = 0; i < runs.size(); ++i) {
    const std::string folder = runsDir + "/" + foundIn[{runs[i].K, runs[i].replicate}];
    ReadRunEstimates(folder, study, true, runs[i]);
    const double computed = model->logLikelihood(X, runs[i]);
    if (!SameLogLikelihood(runs[i].loglik, computed)) {
      FailRun("emclade-sweep: " + folder + "/run.tsv: line 2: the log-likelihood " +
              ExactReal(runs[i].loglik) + " is not that of the run's estimates on the input, " +
              ExactReal(computed) + " (damaged)");
    }
    if (bestOfK[runs[i].K] != i) Vector3D<double>().swap(runs[i].P);  // the best's are kept
  }
  study.runs = std::move(runs);
  SummariseStudy(study, X, settings.terminal);
  BootstrapStudy(study, X, settings.threads, settings.quiet);
  return study;
}

int RunCollectCommand(const CollectSettings& settings, StudyFileWriter writeMore) {
  const auto began = std::chrono::steady_clock::now();
  // A DIR that is a symbolic link: the folder it names is replaced, the link kept.
  std::error_code linked;
  const std::filesystem::path real = std::filesystem::canonical(settings.dir, linked);
  const std::string out = StudyFolderPath(linked ? settings.dir : real.string());
  RemoveLeftoverFolders(out);
  const StudyRecord study = CollectStudy(settings);
  // The study's files into a new folder beside DIR, its runs linked in; then in place whole.
  const std::string ready = TemporaryFolderOf(out);
  std::error_code error;
  std::filesystem::remove_all(ready, error);
  ArmFolderCleanup(ready, true);
  LinkTree(out + "/runs", ready + "/runs");
  WriteStudyFiles(study, ready);
  if (writeMore != nullptr) writeMore(study, ready);
  SyncFolder(ready);
  DisarmFolderCleanup();
  const std::string old = PutFolderInPlace(ready, out, true);
  if (!old.empty()) {
    // Runs that jobs put into the old folder while collect ran are kept.
    for (const auto& entry : std::filesystem::directory_iterator(old + "/runs", error)) {
      const std::filesystem::path into = out + "/runs/" + entry.path().filename().string();
      if (!std::filesystem::exists(into, error)) std::filesystem::rename(entry.path(), into, error);
    }
    std::filesystem::remove_all(old, error);
  }
  const SweepSettings& s = study.settings;
  std::cout << "emclade-sweep: " << study.runs.size() << " runs (K "
            << DescribeClusterCounts(s.clusterCounts) << ", " << s.replicates
            << " replicates) collected";
  if (!study.missingRuns.empty()) {
    std::cout << ", " << study.missingRuns.size() << " missing (" << Names(study.missingRuns)
              << ")";
  }
  std::cout << " in "
            << FormatDuration(
                   std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count())
            << "; " << ChoiceCriterion(study.settings) << " at K = " << study.chosenK
            << "; results in " << settings.dir << "/" << std::endl;
  return 0;
}
