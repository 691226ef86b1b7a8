// The files of a sweep's folder as the tests compare them: every file one process writes,
// with what may differ between two makings of the same sweep masked.
#pragma once

#include <map>
#include <string>

#include "data/genotype_table.h"

// Every file under dir but those of runs/ (the parts' own records), by path relative to dir,
// with the seconds column of runs.tsv and the timings of report.html (its seconds spans)
// replaced by "#".
std::map<std::string, std::string> SweepFolderFiles(const std::string& dir);

// "" when both folders hold the same files with the same bytes (masked as above), else the
// names of the files that differ or are in only one of them.
std::string SweepFolderDifference(const std::string& dir, const std::string& other);

// A new temporary folder holding the shipped example as in.str.
std::string ExampleFolder();

// X as STRUCTURE text, one row per copy, individuals named i0, i1, ...
std::string StructureText(const GenotypeTable& X);
