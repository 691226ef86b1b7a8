// A one-process sweep that survives a kill: its runs go, as each finishes, into the work
// folder .OUT.work/runs/K<K>.r<r>/ (study/study_folder.h), as the runs of a part of a sweep
// (study/run_folder.h); when every run is there, the study is gathered from them as collect
// gathers it (so the files are those of collect, byte for byte), written into the work folder
// beside its runs/, synced, and put in place as OUT with one rename. --resume keeps the
// finished runs of the work folder of an interrupted sweep (of this very study) and makes the
// rest; --force replaces an OUT that holds files, and starts again over an interrupted sweep.
#pragma once

#include "data/study_input.h"
#include "study/study.h"
#include "study/sweep.h"

// Runs the whole sweep of settings (settings.force, settings.resume) on data into
// settings.outDir, writing the study's files (then those of writeMore) into it whole. Sets
// alreadyWhole, and makes nothing, when resume finds OUT whole with this study. Refusals
// (OUT a file or holding files without --force; an input in the way; an interrupted sweep
// without --resume or --force; one of another study) end the run with one line.
StudyRecord RunWholeSweep(const SweepSettings& settings, const StudyData& data, bool terminal,
                          StudyFileWriter writeMore, bool& alreadyWhole);

// The checks of the output that need not wait for the input to be read: an --out that is an
// input or holds one, or (for a whole sweep without --resume) holds files without --force.
void RefuseOutputOverInput(const SweepSettings& settings, bool part);

// The checks of a part of a sweep (--runs, --shard) before its runs: its folder is not a
// file, holds no input, and holds nothing or the runs of a study (runs/study.txt; collect
// and the study file tell which); made here when absent, and removed again when the part
// fails before its first run is in place.
void PrepareFolderOfPart(const SweepSettings& settings);
