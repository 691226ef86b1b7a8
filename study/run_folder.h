// The folder of one run of a sweep made in parts (--runs, --shard): <out>/runs/K<K>.r<r>/,
// everything of its RunRecord that the run itself decides, exactly, so that collect rebuilds
// the record bit for bit:
//   run.tsv      a header and one row: K replicate seed start iterations converged loglik
//                seconds (the columns of runs.tsv but mode, which the alignment decides), study
//                (the stamp of the study file, StudyStamp) and proportions (K, apart by spaces)
//   history.txt  the log-likelihood of every iteration, one a line
//   Q.txt        N rows of the K memberships, in the run's own cluster order, apart by spaces
//   P.txt        K L rows, cluster outer and locus inner: the J[l] allele frequencies
// Reals are written exactly (ExactReal). run.tsv is written last, and the folder is made
// under a name of its job and renamed into place whole, so that a folder named K<K>.r<r> is
// always a finished run.
#pragma once

#include <cstdint>
#include <string>

#include "study/study.h"

// "K3.r1".
std::string RunFolderName(int32_t K, int32_t replicate);

// Writes run's folder into runsDir (replacing an earlier folder of the same run). A file that
// cannot be written ends the run with one line naming it.
void WriteRunFolder(const std::string& runsDir, const RunRecord& run, const std::string& stamp);

// Reads folder/run.tsv into run (K, replicate, seed, start, iterations, converged, loglik,
// seconds, proportions) and the study stamp. A damaged row ends the run with one line.
void ReadRunRow(const std::string& folder, RunRecord& run, std::string& stamp);

// Reads the history and the memberships of folder into run (read by ReadRunRow), and the
// allele frequencies when withFrequencies, checked against the shape of study. A count that
// differs, a damaged number or a missing file ends the run with one line naming file and line.
void ReadRunEstimates(const std::string& folder, const StudyRecord& study, bool withFrequencies,
                      RunRecord& run);
