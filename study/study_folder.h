// A study folder is whole or absent: the files of a sweep (and of collect) are written into a
// fresh hidden sibling of the --out folder, synced to disk, and put in place with one rename,
// so that a kill, a full disk or any failure leaves the previous folder as it was, or none.
//
// The hidden siblings of OUT (never taken for a study: their names begin with a dot):
//   .OUT.work                   the runs of an unfinished one-process sweep (runs/K<K>.r<r>/),
//                               kept for --resume; removed by --force, or when it holds no run
//   .OUT.tmp-<host>-<process>   a folder being put in place or an old one being removed; the
//                               next sweep or collect into OUT removes those of its host whose
//                               process is gone
#pragma once

#include <string>
#include <vector>

// The absolute, normalised path of out without a trailing slash; a path that names no folder
// that could be replaced (".", "/") ends the run with one line.
std::string StudyFolderPath(const std::string& out);

// The hidden siblings of the study folder out (a StudyFolderPath).
std::string WorkFolderOf(const std::string& out);
std::string TemporaryFolderOf(const std::string& out);

// Whether path is a folder that holds at least one entry.
bool FolderHoldsFiles(const std::string& path);

// Refuses, with one line, an out that is not a folder, or a folder that holds files while
// !force ("--force replaces it whole").
void CheckStudyFolder(const std::string& out, bool force);

// Refuses, with one line, an out that is one of the files of inputs (the same device and
// inode, by whatever name) or, when out is a folder that will be replaced, one holding one of
// them. Inputs that do not exist are passed over; a PLINK input counts with its .bed, .bim
// and .fam.
void RefuseWritingOverInputs(const std::vector<std::string>& inputs, const std::string& out,
                             const char* option);

// Removes the temporary siblings of out left by processes of this host that are gone.
void RemoveLeftoverFolders(const std::string& out);

// fsyncs every file and folder under dir, and dir; a failure ends the run with one line.
// (EMCLADE_SWEEP_NO_SYNC in the environment, a seam for tests, skips it.)
void SyncFolder(const std::string& dir);

// Puts the finished folder ready (a sibling of out) in place as out with one rename: out must
// be absent, empty, or (checked before by CheckStudyFolder) replaceable; an old out is removed
// only after the new one is in place. Returns the old folder's temporary name when it is kept
// for the caller (keepOld), else "".
std::string PutFolderInPlace(const std::string& ready, const std::string& out,
                             bool keepOld = false);

// Makes to as a copy of the tree from, its files hard links where the file system allows
// (copies elsewhere).
void LinkTree(const std::string& from, const std::string& to);

// Removes folder path at exit when the run fails before it holds a finished run (no entry of
// path/runs/ but study.txt and hidden ones), or at any failure when evenWithRuns (a folder
// whose runs are links to those of another); Disarm forgets it.
void ArmFolderCleanup(const std::string& path, bool evenWithRuns = false);
void DisarmFolderCleanup();

// A seam for tests: with EMCLADE_SWEEP_KILL_AT_FILE=n in the environment the process kills
// itself (SIGKILL) after writing the n-th file. Called by every writer of study files.
void CountWrittenFile();
