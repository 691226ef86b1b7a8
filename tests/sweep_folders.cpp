#include "sweep_folders.h"

#include <filesystem>
#include <regex>
#include <sstream>

#include "run_program.h"

namespace {

std::string MaskSecondsColumn(const std::string& table) {
  std::vector<std::string> lines = SplitLines(table);
  size_t column = std::string::npos;
  std::string masked;
  for (const std::string& line : lines) {
    std::vector<std::string> fields;
    std::stringstream in(line);
    for (std::string field; std::getline(in, field, '\t');) fields.push_back(field);
    if (column == std::string::npos) {
      for (size_t i = 0; i < fields.size(); ++i) {
        if (fields[i] == "seconds") column = i;
      }
    } else if (column < fields.size()) {
      fields[column].assign(1, '#');
    }
    for (size_t i = 0; i < fields.size(); ++i) {
      if (i > 0) masked += '\t';
      masked += fields[i];
    }
    masked += '\n';
  }
  return masked;
}

}  // namespace

std::map<std::string, std::string> SweepFolderFiles(const std::string& dir) {
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
    const std::string name = std::filesystem::relative(entry.path(), dir).string();
    if (!entry.is_regular_file() || name.rfind("runs/", 0) == 0) continue;
    std::string bytes = ReadFile(entry.path().string());
    if (name == "runs.tsv") bytes = MaskSecondsColumn(bytes);
    if (name == "report.html") {
      static const std::regex seconds("<span class=\"seconds\">[^<]*</span>");
      bytes = std::regex_replace(bytes, seconds, "#");
    }
    files[name] = std::move(bytes);
  }
  return files;
}

std::string SweepFolderDifference(const std::string& dir, const std::string& other) {
  const std::map<std::string, std::string> a = SweepFolderFiles(dir), b = SweepFolderFiles(other);
  std::string differ;
  for (const auto& [name, bytes] : a) {
    const auto there = b.find(name);
    if (there == b.end()) {
      differ += name + " (only in " + dir + ") ";
    } else if (there->second != bytes) {
      differ += name + " ";
    }
  }
  for (const auto& [name, bytes] : b) {
    if (a.find(name) == a.end()) differ += name + " (only in " + other + ") ";
  }
  return differ;
}

std::string ExampleFolder() {
  const std::string dir = MakeTempDir();
  std::filesystem::copy_file(std::string(EMCLADE_SOURCE_DIR) + "/examples/example.str",
                             dir + "/in.str");
  return dir;
}

std::string StructureText(const GenotypeTable& X) {
  std::string text;
  std::vector<int32_t> row(X.L);
  for (int32_t n = 0; n < X.N; ++n) {
    for (int32_t a = 0; a < X.A; ++a) {
      DecodeGenotypeRow(X, n, a, row.data());
      text.append("i").append(std::to_string(n));
      for (int32_t v : row) text.append(" ").append(std::to_string(v));
      text += '\n';
    }
  }
  return text;
}
