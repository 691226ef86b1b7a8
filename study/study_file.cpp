#include "study/study_file.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "cluster/accelerated_em.h"
#include "data/input_messages.h"
#include "data/messages.h"
#include "data/text_lines.h"
#include "study/model.h"
#include "study/record_text.h"
#include "study/study_files.h"

namespace {

void AddLine(std::string& text, const char* key, const std::vector<std::string>& fields) {
  text += key;
  for (const std::string& field : fields) text += '\t' + field;
  text += '\n';
}

std::vector<std::string> Numbers(const std::vector<int32_t>& values) {
  std::vector<std::string> fields;
  for (int32_t v : values) fields.push_back(std::to_string(v));
  return fields;
}

std::vector<int32_t> ReadNumbers(const RecordLines& in, const std::vector<std::string_view>& fields,
                                 int64_t least, int64_t most, const char* what) {
  std::vector<int32_t> values;
  for (std::string_view field : fields) {
    values.push_back(static_cast<int32_t>(in.Whole(field, least, most, what)));
  }
  return values;
}

}  // namespace

std::string StudyFileText(const StudyRecord& study) {
  const SweepSettings& s = study.settings;
  const ReaderOptions& r = s.reader;
  std::string text;
  AddLine(text, "emclade-sweep study", {std::to_string(kStudyFileVersion)});
  AddLine(text, "input", {EscapeField(s.inputPath)});
  AddLine(text, "reader",
          {std::to_string(r.headerRows), std::to_string(r.labelColumns),
           std::to_string(r.populationColumn), std::to_string(r.ploidy),
           std::to_string(r.oneRowPerIndividual), EscapeField(r.populationsFile)});
  AddLine(text, "k", Numbers(s.clusterCounts));
  AddLine(text, "replicates", {std::to_string(s.replicates)});
  AddLine(text, "seed", {std::to_string(s.seed)});
  AddLine(text, "start", {EscapeField(s.start)});
  AddLine(text, "model", {EscapeField(s.model)});
  AddLine(text, "max-iterations", {std::to_string(s.maxIterations)});
  AddLine(text, "tolerance", {ExactReal(s.tolerance)});
  AddLine(text, "search", {EscapeField(s.search)});
  AddLine(text, "acceleration", {EscapeField(s.acceleration)});
  AddLine(text, "stop", {EscapeField(s.stop)});
  AddLine(text, "cv", {std::to_string(s.cvFolds)});
  AddLine(text, "bootstrap", {std::to_string(s.bootstrap)});
  AddLine(text, "supervised-file", {EscapeField(s.supervisedFile)});
  std::vector<std::string> references;
  for (const std::string& name : s.referencePopulations) references.push_back(EscapeField(name));
  AddLine(text, "supervision", references);
  AddLine(text, "references", Numbers(s.referenceCluster));
  AddLine(text, "plot-k", Numbers(s.plotClusterCounts));
  AddLine(text, "plot-format", {EscapeField(s.plotFormat)});
  AddLine(text, "population-order-file", {EscapeField(s.populationOrderFile)});
  std::vector<std::string> order;
  for (const std::string& name : s.populationOrder) order.push_back(EscapeField(name));
  AddLine(text, "population-order", order);
  AddLine(text, "format", {EscapeField(study.format)});
  AddLine(text, "detected", {EscapeField(study.detected)});
  AddLine(text, "shape",
          {std::to_string(study.N), std::to_string(study.A), std::to_string(study.L)});
  char checksum[17];
  std::snprintf(checksum, sizeof(checksum), "%016llx",
                static_cast<unsigned long long>(study.tableChecksum));
  AddLine(text, "table", {checksum});
  const bool populations = !study.populations.empty();
  AddLine(text, "populations", {populations ? "1" : "0"});
  for (int32_t n = 0; n < study.N; ++n) {
    std::vector<std::string> fields = {EscapeField(study.names[n]),
                                       ExactReal(study.missingShare[n])};
    if (populations) fields.push_back(EscapeField(study.populations[n]));
    AddLine(text, "individual", fields);
  }
  for (int32_t l = 0; l < study.L; ++l) {
    std::vector<std::string> fields = {EscapeField(study.locusNames[l])};
    for (int32_t value : study.alleleValues[l]) fields.push_back(std::to_string(value));
    AddLine(text, "locus", fields);
  }
  AddLine(text, "end", {});
  return text;
}

// The text without its lines that name files (input, supervised-file).
std::string WithoutInputLine(std::string text) {
  for (const char* key : {"\ninput\t", "\nsupervised-file\t"}) {
    const size_t at = text.find(key);
    if (at == std::string::npos) continue;
    const size_t end = text.find('\n', at + 1);
    text = text.substr(0, at) + (end == std::string::npos ? std::string() : text.substr(end));
  }
  return text;
}

std::string StudyStamp(const std::string& text) {
  uint64_t h = 0xcbf29ce484222325ULL;
  for (unsigned char c : WithoutInputLine(text)) h = (h ^ c) * 0x100000001b3ULL;
  char stamp[17];
  std::snprintf(stamp, sizeof(stamp), "%016llx", static_cast<unsigned long long>(h));
  return stamp;
}

std::string JobTemporaryName(const std::string& path) {
  char host[256] = "host";
  gethostname(host, sizeof(host) - 1);
  host[sizeof(host) - 1] = '\0';
  const std::filesystem::path p(path);
  std::string name = ".";
  name += p.filename().string();
  name += '.';
  name += host;
  name += '.';
  name += std::to_string(static_cast<long long>(getpid()));
  name += ".part";
  return (p.parent_path() / name).string();
}

void WriteStudyFileOnce(const std::string& path, const std::string& text) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (std::filesystem::exists(path)) {
      const std::string there = ReadWholeFile(path);
      // The same input by another name (in/x, ./in/x, /abs/in/x) is the same study: the
      // checksum of its table decides.
      if (WithoutInputLine(there) == WithoutInputLine(text)) return;
      // Name the first line that differs.
      TextLines ours(text), theirs(there);
      std::string_view a, b;
      bool moreOurs = true, moreTheirs = true;
      while ((moreOurs = ours.Next(a)) & (moreTheirs = theirs.Next(b))) {
        if (a != b) break;
      }
      const std::string key(moreOurs ? a.substr(0, a.find('\t')) : std::string_view("end"));
      FailInput(path, LineAt(theirs.number()),
                "the folder holds runs of another study (this job's " + QuoteToken(key) +
                    " differs): give this study another --out, or remove that folder's runs/");
    }
    const std::string temporary = JobTemporaryName(path);
    WriteWholeFile(temporary, text);
    // link() puts the file in place only when none is there yet, also over NFS; where the
    // file system has no links, rename() replaces whatever another job put there (the same
    // bytes, since its study is this one: the runs' stamps tell collect otherwise).
    const int linked = link(temporary.c_str(), path.c_str());
    const int error = errno;
    if (linked == 0 || error == EEXIST) {
      std::remove(temporary.c_str());
      if (linked == 0) return;
      continue;  // another job was first: compare with its file
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
      const int renameError = errno;
      std::remove(temporary.c_str());
      FailInput(path, "",
                std::string("cannot create the file (") + std::strerror(renameError) + ")");
    }
    return;
  }
}

void ReadStudyFile(const std::string& path, StudyRecord& study) {
  RecordLines in(path);
  std::string_view first;
  if (!in.Next(first) || first.substr(0, first.find('\t')) != "emclade-sweep study") {
    in.Fail("expected the study file of a sweep made in parts (\"emclade-sweep study\"), found " +
            QuoteToken(first.substr(0, first.find('\t'))));
  }
  const std::vector<std::string_view> version = SplitFields(first);
  if (version.size() != 2 || version[1] != std::to_string(kStudyFileVersion)) {
    in.Fail("a study file of version " + QuoteToken(version.size() > 1 ? version[1] : "") +
            ", this program reads version " + std::to_string(kStudyFileVersion) +
            ": make the runs again with this program");
  }
  SweepSettings& s = study.settings;
  s.inputPath = in.Text(in.Expect("input", 1)[0]);
  const auto reader = in.Expect("reader", 6);
  const int64_t most = int64_t{1} << 30;
  s.reader.headerRows = static_cast<int32_t>(in.Whole(reader[0], -1, most, "the header rows"));
  s.reader.labelColumns = static_cast<int32_t>(in.Whole(reader[1], -1, most, "the label columns"));
  s.reader.populationColumn =
      static_cast<int32_t>(in.Whole(reader[2], -1, most, "the population column"));
  s.reader.ploidy = static_cast<int32_t>(in.Whole(reader[3], -1, 64, "the ploidy"));
  s.reader.oneRowPerIndividual =
      static_cast<int32_t>(in.Whole(reader[4], -1, 1, "one row per individual"));
  s.reader.populationsFile = in.Text(reader[5]);
  s.clusterCounts = ReadNumbers(in, in.Expect("k", -1), 1, 100000, "a K");
  s.clusterCountsGiven = true;
  if (s.clusterCounts.empty()) in.Fail("expected the K of the sweep, found none");
  s.replicates =
      static_cast<int32_t>(in.Whole(in.Expect("replicates", 1)[0], 1, 100000, "replicates"));
  s.seed = in.Unsigned(in.Expect("seed", 1)[0], "a seed");
  s.start = in.Text(in.Expect("start", 1)[0]);
  s.model = in.Text(in.Expect("model", 1)[0]);
  if (FindModel(s.model) == nullptr) {
    in.Fail("expected a model (" + ModelNames() + "), found " + QuoteToken(s.model));
  }
  s.maxIterations =
      static_cast<int32_t>(in.Whole(in.Expect("max-iterations", 1)[0], 1, 100000000, "iterations"));
  s.tolerance = in.Real(in.Expect("tolerance", 1)[0], "a tolerance");
  s.search = in.Text(in.Expect("search", 1)[0]);
  if (s.search != "none" && s.search != "reassign" && s.search != "split-merge") {
    in.Fail("expected the search none, reassign or split-merge, found " + QuoteToken(s.search));
  }
  s.acceleration = in.Text(in.Expect("acceleration", 1)[0]);
  Acceleration acceleration;
  if (!ParseAcceleration(s.acceleration, acceleration)) {
    in.Fail("expected an acceleration (squarem or none), found " + QuoteToken(s.acceleration));
  }
  s.stop = in.Text(in.Expect("stop", 1)[0]);
  StoppingRule rule;
  if (!ParseStoppingRule(s.stop, rule)) {
    in.Fail("expected a stopping rule (absolute or per-copy), found " + QuoteToken(s.stop));
  }
  s.cvFolds = static_cast<int32_t>(in.Whole(in.Expect("cv", 1)[0], 0, kMaxCvFolds, "folds"));
  if (s.cvFolds == 1) in.Fail("expected 0 (no cross-validation) or 2 or more folds, found 1");
  s.bootstrap = static_cast<int32_t>(
      in.Whole(in.Expect("bootstrap", 1)[0], 0, 100000, "bootstrap replicates"));
  s.supervisedFile = in.Text(in.Expect("supervised-file", 1)[0]);
  s.referencePopulations.clear();
  for (std::string_view name : in.Expect("supervision", -1)) {
    if (!name.empty()) s.referencePopulations.push_back(in.Text(name));
  }
  const int64_t clusters = static_cast<int64_t>(s.referencePopulations.size());
  s.referenceCluster = ReadNumbers(in, in.Expect("references", -1), -1, clusters - 1, "a cluster");
  s.plotClusterCounts = ReadNumbers(in, in.Expect("plot-k", -1), 1, 100000, "a K");
  s.plotFormat = in.Text(in.Expect("plot-format", 1)[0]);
  s.populationOrderFile = in.Text(in.Expect("population-order-file", 1)[0]);
  s.populationOrder.clear();
  for (std::string_view name : in.Expect("population-order", -1)) {
    if (!name.empty()) s.populationOrder.push_back(in.Text(name));
  }
  study.format = in.Text(in.Expect("format", 1)[0]);
  study.detected = in.Text(in.Expect("detected", 1)[0]);
  const auto shape = in.Expect("shape", 3);
  study.N = static_cast<int32_t>(in.Whole(shape[0], 1, INT32_MAX, "N"));
  study.A = static_cast<int32_t>(in.Whole(shape[1], 1, 64, "A"));
  study.L = static_cast<int32_t>(in.Whole(shape[2], 0, INT32_MAX, "L"));
  const std::string_view checksum = in.Expect("table", 1)[0];
  char* end = nullptr;
  const std::string digits(checksum);
  study.tableChecksum = std::strtoull(digits.c_str(), &end, 16);
  if (digits.size() != 16 || *end != '\0') {
    in.Fail("expected the checksum of the table (16 hexadecimal digits), found " +
            QuoteToken(checksum));
  }
  const bool populations = in.Whole(in.Expect("populations", 1)[0], 0, 1, "0 or 1") == 1;
  study.names.clear();
  study.populations.clear();
  study.missingShare.clear();
  for (int32_t n = 0; n < study.N; ++n) {
    const auto fields = in.Expect("individual", populations ? 3 : 2);
    study.names.push_back(in.Text(fields[0]));
    study.missingShare.push_back(in.Real(fields[1], "a missing share"));
    if (populations) study.populations.push_back(in.Text(fields[2]));
  }
  study.locusNames.clear();
  study.alleleValues.assign(study.L, {});
  study.J.assign(study.L, 0);
  for (int32_t l = 0; l < study.L; ++l) {
    const auto fields = in.Expect("locus", -1);
    study.locusNames.push_back(in.Text(fields[0]));
    std::vector<int32_t>& values = study.alleleValues[l];
    for (size_t j = 1; j < fields.size(); ++j) {
      values.push_back(
          static_cast<int32_t>(in.Whole(fields[j], INT32_MIN, INT32_MAX, "an allele value")));
      if (j > 1 && values[j - 2] >= values[j - 1]) in.Fail("allele values out of order");
    }
    study.J[l] = static_cast<int32_t>(values.size());
  }
  const bool supervised = !s.referencePopulations.empty();
  if (s.referenceCluster.size() != (supervised ? static_cast<size_t>(study.N) : 0)) {
    in.Fail("expected the reference cluster of every individual (" + std::to_string(study.N) +
            "), found " + std::to_string(s.referenceCluster.size()));
  }
  in.Expect("end", 0);
  std::string_view more;
  if (in.Next(more)) in.Fail("unexpected lines after \"end\"");
}
