// The study command's work: every run of the sweep on the data read once, the alignment, the
// model choice, and the files.
#pragma once

#include <string>
#include <vector>

#include "data/study_input.h"
#include "study/run_schedule.h"
#include "study/study.h"

// Runs the sweep of settings on data (read once; every run shares its table): the Ward tree
// once when the start needs it, every run on settings.threads threads (or as plan says when
// plan is given; the record is the same either way), then AlignStudy and ChooseK. Progress
// goes to standard error (a self-updating line when terminal). A K above the number of
// individuals ends the run with one line.
StudyRecord RunStudy(const SweepSettings& settings, const StudyData& data,
                     const ThreadPlan* plan = nullptr, bool terminal = false);

// The part of the sweep that settings ask for (study/run_selection.h), on data as RunStudy
// makes the whole: writes the study file (study/study_file.h) into settings.outDir/runs/,
// then every selected run's folder (study/run_folder.h) as the run finishes. Returns the
// runs made, their estimates released.
std::vector<RunRecord> RunStudyPart(const SweepSettings& settings, const StudyData& data,
                                    const ThreadPlan* plan = nullptr, bool terminal = false);

// The record of a study before its runs: settings and the input as read (shape, alleles,
// names, populations, missing shares). A K above the number of individuals, or a start of
// no known name, ends the run with one line.
StudyRecord DescribeStudy(const SweepSettings& settings, const StudyData& data);

// Completes a study whose runs are made on X: one summary for every K of the sweep with at
// least one run, AlignStudy, the cross-validation when asked for (CrossValidateStudy; its
// progress on a terminal when terminal), ChooseK.
void SummariseStudy(StudyRecord& study, const GenotypeTable& X, bool terminal = false);

// Writes further files of a finished study into its folder (the plots and the report).
using StudyFileWriter = void (*)(const StudyRecord& study, const std::string& dir);

// The whole command: reads settings.inputPath (and settings.populationOrderFile), makes the
// output folder, runs the study, writes its files (then those of writeMore, when given) and
// one closing line on standard output; for a part of the sweep (--runs, --shard) only its
// runs' folders instead (RunStudyPart). Returns the exit code (0); failures end the run with
// one line and exit code 1.
int RunSweepCommand(const SweepSettings& settings, StudyFileWriter writeMore = nullptr);

// The K of a sweep for messages: "1-16" when contiguous, else "2,4,6".
std::string DescribeClusterCounts(const std::vector<int32_t>& clusterCounts);
