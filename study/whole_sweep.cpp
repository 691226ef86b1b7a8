#include "study/whole_sweep.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <set>

#include "data/messages.h"
#include "data/text_lines.h"
#include "study/collect.h"
#include "study/run_folder.h"
#include "study/run_schedule.h"
#include "study/study_file.h"
#include "study/study_files.h"
#include "study/study_folder.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> InputsOf(const SweepSettings& settings) {
  return {settings.inputPath, settings.reader.populationsFile, settings.populationOrderFile};
}

// The finished runs in runsDir: folders named K<K>.r<r> (a run's folder is put in place whole).
std::set<RunId> FinishedRuns(const std::string& runsDir) {
  std::set<RunId> runs;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(runsDir, error)) {
    int K = 0, r = 0;
    char tail = 0;
    const std::string name = entry.path().filename().string();
    if (entry.is_directory() && std::sscanf(name.c_str(), "K%d.r%d%c", &K, &r, &tail) == 2 &&
        name == RunFolderName(K, r)) {
      runs.insert({K, r});
    }
  }
  return runs;
}

// Whether the study file at path holds text (the input's path aside).
bool HoldsStudy(const std::string& path, const std::string& text) {
  std::error_code error;
  return fs::is_regular_file(path, error) && StudyStamp(ReadWholeFile(path)) == StudyStamp(text);
}

}  // namespace

StudyRecord RunWholeSweep(const SweepSettings& settings, const StudyData& data, bool terminal,
                          StudyFileWriter writeMore, bool& alreadyWhole) {
  const auto began = std::chrono::steady_clock::now();
  alreadyWhole = false;
  const std::string out = StudyFolderPath(settings.outDir);
  RefuseWritingOverInputs(InputsOf(settings), settings.outDir, "--out");
  const std::string work = WorkFolderOf(out);
  RemoveLeftoverFolders(out);

  StudyRecord described = DescribeStudy(settings, data);
  const std::string text = StudyFileText(described);
  std::set<RunId> finished = FinishedRuns(work + "/runs");
  if (settings.resume && finished.empty() && FolderHoldsFiles(out) && !settings.force) {
    if (HoldsStudy(out + "/runs/study.txt", text)) {
      alreadyWhole = true;
      return described;
    }
    FailRun("emclade-sweep: " + settings.outDir +
            ": --resume: the folder holds another study, and no interrupted sweep is there: "
            "give another --out, or --force to replace it whole");
  }
  CheckStudyFolder(settings.outDir, settings.force);
  if (!finished.empty() && settings.resume && !HoldsStudy(work + "/runs/study.txt", text)) {
    FailRun("emclade-sweep: " + work +
            ": --resume: the interrupted sweep there is of another study (its settings or input "
            "differ): resume it with its own command, or start again with --force");
  }
  if (!finished.empty() && !settings.resume && !settings.force) {
    FailRun("emclade-sweep: " + settings.outDir + ": the runs of an interrupted sweep are in " +
            work + ": continue it with --resume (the same command), or start again with --force");
  }
  std::error_code error;
  if (!settings.resume || finished.empty()) {
    fs::remove_all(work, error);
    finished.clear();
  } else {
    // The earlier attempt's study files and unfinished run folders go; its runs stay.
    for (const auto& entry : fs::directory_iterator(work, error)) {
      if (entry.path().filename() != "runs") fs::remove_all(entry.path(), error);
    }
    for (const auto& entry : fs::directory_iterator(work + "/runs", error)) {
      if (entry.path().filename().string()[0] == '.') fs::remove_all(entry.path(), error);
    }
    if (!settings.quiet) {
      std::cerr << "emclade-sweep: resuming: " << finished.size() << " finished runs kept in "
                << work << "/runs/" << std::endl;
    }
  }
  const std::string parent = fs::path(out).parent_path().string();
  fs::create_directories(parent, error);
  ArmFolderCleanup(work);

  SweepSettings part = settings;
  part.outDir = work;
  part.shards = part.shard = 0;
  part.onlyRuns.clear();
  for (const RunRecord& run : PlanRuns(settings)) {
    if (finished.count({run.K, run.replicate}) == 0)
      part.onlyRuns.push_back({run.K, run.replicate});
  }
  if (!part.onlyRuns.empty()) RunStudyPart(part, data, nullptr, terminal);

  CollectSettings gather;
  gather.dir = work;
  gather.quiet = true;
  gather.threads = settings.threads;
  gather.quietBootstrap = settings.quiet;
  gather.data = &data;
  StudyRecord study = CollectStudy(gather);
  study.settings = settings;
  WriteStudyFiles(study, work);
  if (writeMore != nullptr) writeMore(study, work);
  SyncFolder(work);
  // Out of the work folder's name first, so that a kill from here on leaves no work folder
  // that holds a finished study (or, after the exchange, the old one).
  const std::string ready = TemporaryFolderOf(out);
  if (std::rename(work.c_str(), ready.c_str()) != 0) {
    FailRun("emclade-sweep: " + work + ": cannot rename the folder (" + std::strerror(errno) + ")");
  }
  DisarmFolderCleanup();
  PutFolderInPlace(ready, out);
  study.totalSeconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  return study;
}

void RefuseOutputOverInput(const SweepSettings& settings, bool part) {
  StudyFolderPath(settings.outDir);
  RefuseWritingOverInputs(InputsOf(settings), settings.outDir, "--out");
  if (!part && !settings.resume) CheckStudyFolder(settings.outDir, settings.force);
}

void PrepareFolderOfPart(const SweepSettings& settings) {
  if (settings.force || settings.resume) {
    FailRun("emclade-sweep: " + std::string(settings.force ? "--force" : "--resume") +
            " is for a whole sweep: a part of a sweep (--runs, --shard) adds its runs to the "
            "folder of its study, and collect puts the study in place whole");
  }
  const std::string out = StudyFolderPath(settings.outDir);
  RefuseWritingOverInputs(InputsOf(settings), settings.outDir, "--out");
  std::error_code error;
  if (!fs::is_directory(out, error))
    CheckStudyFolder(settings.outDir, true);  // a link to one is fine
  bool others = false;  // entries besides runs/ (which a workflow may make before the job)
  for (const auto& entry : fs::directory_iterator(out, error)) {
    others = others || entry.path().filename() != "runs";
  }
  if (others && !fs::is_regular_file(out + "/runs/study.txt", error)) {
    FailRun("emclade-sweep: " + settings.outDir +
            ": the folder holds files but no runs of a study (runs/study.txt): give a part of a "
            "sweep a folder of its own");
  }
  const bool made = !fs::exists(out, error);
  fs::create_directories(out, error);
  if (error || !fs::is_directory(out) || access(out.c_str(), W_OK | X_OK) != 0) {
    FailRun("emclade-sweep: " + settings.outDir + ": cannot write to this folder" +
            (error ? " (" + error.message() + ")" : std::string()));
  }
  if (made) ArmFolderCleanup(out);
}
