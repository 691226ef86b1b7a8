// The collect command: the runs of a sweep made in parts (--runs, --shard; one or many jobs,
// on any machines, in any order) gathered into the files of the whole sweep, byte for byte
// those that one process writes (the seconds aside, which the runs recorded where they ran).
#pragma once

#include <string>

#include "study/sweep.h"

struct CollectSettings {
  std::string dir;             // the sweep's folder: dir/runs/ holds the study file and the runs
  bool allowMissing = false;   // collect what is there; the files say which runs are missing
  bool quiet = false;          // no progress lines (the collecting line, the cross-validation's)
  bool collectingLine = true;  // the line that names the runs collected
  bool terminal = false;       // the cross-validation's progress as one line rewritten in place
  int32_t threads =
      1;  // threads of the --cv and --bootstrap fits; the results do not depend on them
  // The table the runs were made on, when the caller holds it; else collect reads the input
  // that the study file names (as the jobs named it: collect runs where they ran).
  const StudyData* data = nullptr;
};

// Reads dir/runs/study.txt and every run folder under dir/runs/ (folders whose names begin
// with "." are jobs' unfinished work and are passed over): a run of another study, of no K or
// replicate of this sweep, or found twice ends the run with one line naming the folders; so do
// missing runs, unless allowMissing (then study.missingRuns names them), an input whose table
// is not the one the runs were made on, and a run whose recorded log-likelihood is not that of
// its estimates on it (MixtureLogLikelihood). Only the best replicate's frequencies of every K
// are kept. With --bootstrap in the study file, then BootstrapStudy (study/bootstrap.h).
StudyRecord CollectStudy(const CollectSettings& settings);

// The whole command: CollectStudy, the files of the sweep into settings.dir (then those of
// writeMore), and one closing line on standard output. Returns the exit code (0).
int RunCollectCommand(const CollectSettings& settings, StudyFileWriter writeMore = nullptr);
