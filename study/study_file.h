// The study file of a sweep made in parts (<out>/runs/study.txt): everything collect needs of
// the study besides its runs — the settings that decide the results and the input as read
// (shape, alleles, names, populations, missing shares, what the reader detected) — so that
// collect needs neither the input nor the command line of the jobs.
//
// Every job of a sweep writes the same bytes, so that jobs on several machines may share one
// folder: the text holds nothing of the job itself (no threads, no times, no host). One line
// per item, fields apart by tabs, strings escaped (EscapeField), reals exact (ExactReal):
//   emclade-sweep study <version>
//   input <path>        reader <header rows> <label columns> <population column> <ploidy>
//                       <one row per individual> <populations file>   (-1: left to the reader)
//   k <K>...            replicates, seed, start, max-iterations, tolerance, acceleration, stop,
//                       cv <V> (0: no cross-validation), bootstrap <B>
//   supervised-file <path>   supervision <population>...   (the reference populations by
//                       cluster; none: not supervised)   references <cluster or -1>... (N or none)
//   plot-k <K>...       plot-format, population-order-file, population-order <name>...
//   format, detected    shape <N> <A> <L>   table <checksum: GenotypeTableChecksum, 16 hex>
//   populations <0|1>
//   individual <name> <missing share> [<population>]     N lines, in input order
//   locus <name> <allele value>...                        L lines, values ascending
//   end
#pragma once

#include <cstdint>
#include <string>

#include "study/study.h"

// 2: the table checksum; 3: search, acceleration, stop; 4: cv, bootstrap, the supervision
constexpr int32_t kStudyFileVersion = 4;

// The text of study's settings and input (its runs are not part of it).
std::string StudyFileText(const StudyRecord& study);

// A stamp of the text (64-bit FNV-1a, 16 hexadecimal digits) that every run folder records,
// so that collect takes no run made for another study. The input and supervised-file lines
// are left out: the table's checksum and the references say whether two inputs and two
// supervision files are the same, whatever the paths that named them.
std::string StudyStamp(const std::string& text);

// Writes text to path unless path already holds it (the input line aside): a new file goes in whole
// or not at all (written beside it under a name of this job, then linked into place), so that jobs
// writing at once leave one complete file. A file with other bytes ends the run with one line
// naming the first line that differs (another study's runs are in that folder).
void WriteStudyFileOnce(const std::string& path, const std::string& text);

// Reads path into study: settings (outDir, threads and quiet are left as they are) and input.
// A damaged file or one of another version ends the run with one line naming the line.
void ReadStudyFile(const std::string& path, StudyRecord& study);

// A name under dir's parent for this job's temporary copy of dir (or of a file): the name,
// a dot, the host and the process, so that no two jobs on any machines use the same one.
std::string JobTemporaryName(const std::string& path);
