// The files of a sweep, written from its StudyRecord into one folder:
//   summary.tsv          one row per K (model choice, modes, the chosen K)
//   runs.tsv             one row per run
//   Q/K<K>.r<r>.Q        the aligned memberships of every run, as the admixture tools write them
//   best/K<K>.Q, .P      the best run of every K: memberships and allele frequencies
//   individuals.tsv      every individual's cluster at the chosen K
//   pong/filemap.txt     pong's run map (and pong/ind2pop.txt when populations are known)
//   clumpp/K<K>.indfile  CLUMPP's individual file of every K, with clumpp/K<K>.paramfile
//   missing_runs.tsv     the runs not collected, when some are (collect --allow-missing)
// Tables are tab-separated with one header row; numbers are written in the C locale.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "study/study.h"

// Appends the K memberships q[order[0]], q[order[1]], ... with 6 decimals, separated by one
// space. Each value is q * 10^6 rounded down or up to a whole number of millionths, the
// roundings up going to the largest remainders (the lowest position among equals), so that
// the written values sum to exactly 1 when q does (within K millionths).
void AppendMembershipRow(const double* q, const std::vector<int32_t>& order, std::string& out);

// The cluster (0-based, in aligned order) of the largest membership of q, the first among
// equals, and that membership.
int32_t AssignedCluster(const double* q, const std::vector<int32_t>& order, double& membership);

// A real with `decimals` decimals; NaN as "NA", infinities as "inf" and "-inf".
std::string FormatReal(double value, int32_t decimals);

// Creates dir and its subfolders and writes every file above. A folder or file that cannot be
// made ends the run with one line naming it.
void WriteStudyFiles(const StudyRecord& study, const std::string& dir);

// The files WriteStudyFiles writes for study, relative to its folder, in the order written.
std::vector<std::string> StudyFileNames(const StudyRecord& study);

// Writes text as the whole content of path; a file that cannot be made or written ends the
// run with one line naming it.
void WriteWholeFile(const std::string& path, const std::string& text);

// Creates the folder path and those above it; one that cannot be made ends the run with one
// line naming it.
void MakeFolder(const std::string& path);
