// The collect command: the runs of a sweep made in parts (--runs, --shard; one or many jobs,
// on any machines, in any order) gathered into the files of the whole sweep, byte for byte
// those that one process writes (the seconds aside, which the runs recorded where they ran).
#pragma once

#include <string>

#include "study/sweep.h"

struct CollectSettings {
  std::string dir;            // the sweep's folder: dir/runs/ holds the study file and the runs
  bool allowMissing = false;  // collect what is there; the files say which runs are missing
  bool quiet = false;
};

// Reads dir/runs/study.txt and every run folder under dir/runs/ (folders whose names begin
// with "." are jobs' unfinished work and are passed over): a run of another study, of no K or
// replicate of this sweep, or found twice ends the run with one line naming the folders; so do
// missing runs, unless allowMissing (then study.missingRuns names them). Only the best
// replicate's frequencies of every K are read.
StudyRecord CollectStudy(const CollectSettings& settings);

// The whole command: CollectStudy, the files of the sweep into settings.dir (then those of
// writeMore), and one closing line on standard output. Returns the exit code (0).
int RunCollectCommand(const CollectSettings& settings, StudyFileWriter writeMore = nullptr);
