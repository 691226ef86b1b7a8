#include "data/study_input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "data/genepop_file.h"
#include "data/input_messages.h"
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

// The first bytes of path (fewer when the file is shorter).
std::string FirstBytes(const std::string& path, size_t count) {
  std::string bytes(count, '\0');
  const int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0)
    FailInput(path, "", std::string("cannot open the file (") + std::strerror(errno) + ")");
  ssize_t got = 0;
  do {
    got = read(fd, bytes.data(), count);
  } while (got < 0 && errno == EINTR);
  close(fd);
  bytes.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return bytes;
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
  } else if (EndsWith(path, ".bed") || EndsWith(path, ".bim") || EndsWith(path, ".fam")) {
    plinkPrefix = PlinkFilesetPrefix(path);
    if (plinkPrefix.empty()) {
      FailInput(path, "",
                "expected the .bed of a PLINK fileset beside it (" +
                    path.substr(0, path.size() - 4) + ".bed), found none");
    }
  }

  if (!plinkPrefix.empty()) {
    RefuseStructureOptions(path, options, "PLINK");
    ReadPlinkFileset(plinkPrefix, options, data);
  } else {
    const std::string head = FirstBytes(path, 16);
    const bool plinkMagic = head.size() >= 2 && head[0] == '\x6c' && head[1] == '\x1b';
    const bool compressed = head.size() >= 2 && head[0] == '\x1f' && head[1] == '\x8b';
    const bool variants = compressed || head.compare(0, 4, "BCF\x02") == 0 ||
                          head.compare(0, 16, "##fileformat=VCF") == 0;
    if (IsPreparedStudy(head)) {
      RefuseStructureOptions(path, options, "prepared study");
      if (options.ploidy > 0)
        FailInput(path, "", "--ploidy applies to text files, found a prepared study file");
      ReadPreparedStudy(path, data);
    } else if (plinkMagic) {
      FailInput(path, ByteAt(0),
                "a PLINK .bed by its first bytes: name it <prefix>.bed beside <prefix>.bim and "
                "<prefix>.fam");
    } else if (variants) {
      RefuseStructureOptions(path, options, "VCF/BCF");
      ReadVcfFile(path, options, data);
    } else {
      const std::string text = ReadWholeFile(path);
      if (EndsWith(path, ".gen") || EndsWith(path, ".genepop") || LooksLikeGenepop(text)) {
        RefuseStructureOptions(path, options, "GENEPOP");
        ReadGenepopText(path, text, options, data);
      } else {
        ReadStructureText(path, text, options, data);
      }
    }
  }

  if (!options.populationsFile.empty()) {
    ApplyPopulationsText(options.populationsFile, ReadWholeFile(options.populationsFile), data);
  }
  return data;
}
