#include "data/study_input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <unordered_map>

#include "data/genepop_file.h"
#include "data/input_messages.h"
#include "data/messages.h"
#include "data/plink_bed_file.h"
#include "data/populations_file.h"
#include "data/prepared_study.h"
#include "data/structure_file.h"
#include "data/text_lines.h"
#include "data/vcf_file.h"

namespace {

bool EndsWith(const std::string& text, std::string_view end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The STRUCTURE options are refused for the formats that have no use for them.
void RefuseStructureOptions(const std::string& path, const ReaderOptions& options,
                            const std::string& format) {
  const std::pair<bool, const char*> given[] = {
      {options.headerRows >= 0, "--header-rows"},
      {options.labelColumns >= 0, "--label-columns"},
      {options.populationColumn >= 0, "--population-column"},
      {options.oneRowPerIndividual >= 0, "--one-row-per-individual"},
  };
  for (const auto& [set, name] : given) {
    if (set) {
      FailInput(path, "",
                std::string(name) + " applies to STRUCTURE text, found a " + format + " file");
    }
  }
}

// The first bytes of fd, open on a regular file, left where it stands.
std::string FirstBytes(const std::string& path, int fd, size_t count) {
  std::string bytes(count, '\0');
  ssize_t got = 0;
  do {
    got = pread(fd, bytes.data(), count, 0);
  } while (got < 0 && errno == EINTR);
  if (got < 0)
    FailInput(path, ByteAt(0), std::string("cannot read the file (") + std::strerror(errno) + ")");
  bytes.resize(static_cast<size_t>(got));
  return bytes;
}

// A file of one of the formats told by their first bytes, opened once. A regular file is
// sniffed in place and read by its reader (which may seek or map it); anything else (a pipe,
// /dev/stdin, a named pipe, a device) can be read only once, so it is read whole into memory
// here and every reader takes it from there.
// Returns whether it was a prepared study file.
bool ReadOneFile(const std::string& path, const ReaderOptions& options, StudyData& data) {
  const int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0)
    FailInput(path, "", std::string("cannot open the file (") + std::strerror(errno) + ")");
  struct stat info;
  if (fstat(fd, &info) != 0) {
    FailInput(path, "", std::string("cannot read the file (") + std::strerror(errno) + ")");
  }
  const bool stream = !S_ISREG(info.st_mode);
  std::string bytes;  // the whole input when it is a stream
  if (stream) bytes = ReadWholeDescriptor(path, fd);
  const std::string head = stream ? bytes.substr(0, 16) : FirstBytes(path, fd, 16);
  const bool plinkMagic = head.size() >= 2 && head[0] == '\x6c' && head[1] == '\x1b';
  const bool compressed = head.size() >= 2 && head[0] == '\x1f' && head[1] == '\x8b';
  const bool variants = compressed || head.compare(0, 4, "BCF\x02") == 0 ||
                        head.compare(0, 16, "##fileformat=VCF") == 0;
  if (head.compare(0, 16, "\xEF\xBB\xBF##fileformat=") == 0) {
    FailInput(path, ByteAt(0),
              "expected ##fileformat=VCF at the start, found a UTF-8 byte-order mark (EF BB BF) "
              "before it: save the file without the mark");
  }
  if (IsPreparedStudy(head)) {
    close(fd);
    RefuseStructureOptions(path, options, "prepared study");
    if (options.ploidy > 0)
      FailInput(path, "", "--ploidy applies to text files, found a prepared study file");
    ReadPreparedStudy(path, data, stream ? &bytes : nullptr);
    return true;
  } else if (plinkMagic) {
    FailInput(path, ByteAt(0),
              stream ? "a PLINK .bed by its first bytes, read from a pipe: a .bed is read from a "
                       "file, <prefix>.bed beside <prefix>.bim and <prefix>.fam"
                     : "a PLINK .bed by its first bytes: name it <prefix>.bed beside <prefix>.bim "
                       "and <prefix>.fam");
  } else if (variants) {
    close(fd);
    RefuseStructureOptions(path, options, "VCF/BCF");
    ReadVcfFile(path, options, data, stream ? &bytes : nullptr);
  } else {
    if (!stream) bytes = ReadWholeDescriptor(path, fd);
    close(fd);
    if (EndsWith(path, ".gen") || EndsWith(path, ".genepop") || LooksLikeGenepop(bytes)) {
      RefuseStructureOptions(path, options, "GENEPOP");
      ReadGenepopText(path, bytes, options, data);
    } else {
      ReadStructureText(path, bytes, options, data);
    }
  }
  return false;
}

// A data set with no genotype observed is refused; individuals sharing a name and
// individuals with nothing observed are each reported in a warning line (the first
// kShownWarnings of each, then their number).
void CheckIndividuals(const std::string& path, const std::string& plinkPrefix,
                      const StudyData& data) {
  constexpr int64_t kShownWarnings = 10;
  const GenotypeTable& X = data.X;
  const std::string file = plinkPrefix.empty() ? path : plinkPrefix + ".fam";
  const bool anyAllele = std::any_of(X.alleleValues.begin(), X.alleleValues.end(),
                                     [](const std::vector<int32_t>& v) { return !v.empty(); });
  if (!anyAllele) {
    FailInput(path, "",
              "every genotype of the " + Counted(X.N, "individual") + " at the " +
                  Counted(X.L, "locus", "loci") + " is missing: nothing to analyse");
  }
  auto warn = [&](int64_t& count, const std::string& position, const std::string& what) {
    if (++count <= kShownWarnings)
      ReportLine("emclade-sweep: " + file + ": " + position + ": " + what);
  };
  std::unordered_map<std::string_view, int32_t> first;
  int64_t shared = 0, empty = 0;
  for (int32_t n = 0; n < X.N; ++n) {
    const auto [at, added] = first.emplace(data.names[n], n);
    if (!added) {
      warn(shared, "individual " + std::to_string(n + 1),
           "warning: named " + QuoteToken(data.names[n]) + " like individual " +
               std::to_string(at->second + 1) + " (the results tell them apart only by order)");
    }
    bool observed = false;
    for (int32_t l = 0; l < X.L && !observed; ++l) {
      const uint32_t J = static_cast<uint32_t>(X.alleleValues[l].size());
      for (int32_t a = 0; a < X.A && !observed && J > 0; ++a)
        observed = GenotypeCode(X, n, a, l) != J;
    }
    if (!observed) {
      warn(empty, "individual " + std::to_string(n + 1),
           "warning: " + QuoteToken(data.names[n]) +
               " has every genotype missing (its memberships say nothing)");
    }
  }
  if (shared > kShownWarnings)
    ReportLine("emclade-sweep: " + file + ": warning: " + std::to_string(shared) +
               " individuals are named like an earlier one");
  if (empty > kShownWarnings)
    ReportLine("emclade-sweep: " + file + ": warning: " + std::to_string(empty) +
               " individuals have every genotype missing");
}

}  // namespace

StudyData ReadStudyInput(const std::string& path, const ReaderOptions& options) {
  StudyData data;
  struct stat info;
  std::string plinkPrefix;
  if (stat(path.c_str(), &info) != 0) {
    // Not a file: perhaps the common prefix of a PLINK fileset.
    plinkPrefix = PlinkFilesetPrefix(path);
    if (plinkPrefix.empty()) {
      FailInput(path, "", std::string("cannot open the file (") + std::strerror(errno) + ")");
    }
  } else if (S_ISDIR(info.st_mode)) {
    // A folder named like the prefix of a fileset beside it names the fileset.
    plinkPrefix = PlinkFilesetPrefix(path);
    if (plinkPrefix.empty()) {
      FailInput(path, "",
                "a folder, expected a genotype file (STRUCTURE, GENEPOP, VCF, BCF or PLINK .bed)");
    }
  } else if (EndsWith(path, ".bed") && !S_ISREG(info.st_mode)) {
    FailInput(path, "",
              "a PLINK .bed is read from a file (it is mapped into memory), found a pipe or "
              "device: save it to a file first");
  } else if (EndsWith(path, ".bed") || EndsWith(path, ".bim") || EndsWith(path, ".fam")) {
    plinkPrefix = PlinkFilesetPrefix(path);
    if (plinkPrefix.empty()) {
      FailInput(path, "",
                "expected the .bed of a PLINK fileset beside it (" +
                    path.substr(0, path.size() - 4) + ".bed), found none");
    }
  }

  bool prepared = false;
  if (!plinkPrefix.empty()) {
    RefuseStructureOptions(path, options, "PLINK");
    ReadPlinkFileset(plinkPrefix, options, data);
  } else {
    prepared = ReadOneFile(path, options, data);
  }

  if (!prepared) CheckIndividuals(path, plinkPrefix, data);
  if (!options.populationsFile.empty()) {
    ApplyPopulationsText(options.populationsFile, ReadWholeFile(options.populationsFile), data);
  }
  return data;
}
