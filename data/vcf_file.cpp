#include "data/vcf_file.h"

#include <htslib/hfile.h>
#include <htslib/hts.h>
#include <htslib/hts_log.h>
#include <htslib/kseq.h>
#include <htslib/kstring.h>
#include <htslib/vcf.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "data/allele_names.h"
#include "data/input_messages.h"
#include "data/locus_table_builder.h"

namespace {

struct HtsFileCloser {
  void operator()(htsFile* fp) const { hts_close(fp); }
};
struct HeaderFreer {
  void operator()(bcf_hdr_t* hdr) const { bcf_hdr_destroy(hdr); }
};
struct RecordFreer {
  void operator()(bcf1_t* rec) const { bcf_destroy(rec); }
};
// The genotype buffer bcf_get_genotypes grows with realloc.
struct GenotypeBuffer {
  int32_t* values = nullptr;
  int capacity = 0;
  ~GenotypeBuffer() { std::free(values); }
};

// htslib reports its own problems on standard error; the reader reports them as its one
// line instead, so htslib stays quiet while the file is read.
class QuietHtslib {
 public:
  QuietHtslib() : saved_(hts_get_log_level()) { hts_set_log_level(HTS_LOG_OFF); }
  ~QuietHtslib() { hts_set_log_level(saved_); }

 private:
  htsLogLevel saved_;
};

std::string RecordProblems(int errcode) {
  static const std::pair<int, const char*> kProblems[] = {
      {BCF_ERR_CTG_UNDEF, "a contig not in the header"},
      {BCF_ERR_TAG_UNDEF, "a tag not in the header"},
      {BCF_ERR_NCOLS, "too few columns"},
      {BCF_ERR_LIMITS, "a value past htslib's limits"},
      {BCF_ERR_CHAR, "a character not allowed there"},
      {BCF_ERR_CTG_INVALID, "an invalid contig name"},
      {BCF_ERR_TAG_INVALID, "an invalid tag"},
  };
  std::string text;
  for (const auto& [bit, what] : kProblems) {
    if (errcode & bit) text += (text.empty() ? "" : ", ") + std::string(what);
  }
  return text.empty() ? "a record htslib could not read (the file may be cut short)" : text;
}

// "record 12 (chr1:1234)"
std::string RecordPlace(int64_t record, const bcf_hdr_t* hdr, const bcf1_t* rec) {
  std::string place = RecordAt(record);
  const char* contig = rec->rid >= 0 ? bcf_hdr_id2name(hdr, rec->rid) : nullptr;
  if (contig != nullptr)
    place += " (" + std::string(contig) + ":" + std::to_string(rec->pos + 1) + ")";
  return place;
}

std::string PloidyWord(int32_t A) {
  switch (A) {
    case 1:
      return "haploid";
    case 2:
      return "diploid";
    case 3:
      return "triploid";
    case 4:
      return "tetraploid";
    default:
      return "ploidy " + std::to_string(A);
  }
}

// htslib reading bytes already in memory (a pipe read whole); the file takes a copy of its
// own, which it frees when closed.
htsFile* OpenInMemory(const std::string& bytes, const std::string& path) {
  char* copy = static_cast<char*>(std::malloc(bytes.size() + 1));
  if (copy == nullptr) return nullptr;
  std::memcpy(copy, bytes.data(), bytes.size());
  hFILE* stream = hopen("mem:", "r:", copy, bytes.size());
  if (stream == nullptr) return nullptr;
  htsFile* fp = hts_hopen(stream, path.c_str(), "r");
  if (fp == nullptr) hclose_abruptly(stream);
  return fp;
}

// The fields of a text line apart by sep.
std::vector<std::string_view> Fields(std::string_view line, char sep) {
  std::vector<std::string_view> fields;
  size_t begin = 0;
  for (;;) {
    const size_t end = line.find(sep, begin);
    fields.push_back(line.substr(begin, end == std::string_view::npos ? end : end - begin));
    if (end == std::string_view::npos) return fields;
    begin = end + 1;
  }
}

// What htslib refused in a VCF header it could not read, when the #CHROM line shows it (a
// sample named twice), as "line N: what"; "" otherwise.
std::string HeaderProblem(const std::string& path, const std::string* bytes) {
  std::unique_ptr<htsFile, HtsFileCloser> fp(bytes ? OpenInMemory(*bytes, path)
                                                   : hts_open(path.c_str(), "r"));
  if (!fp || hts_get_format(fp.get())->format != vcf) return "";
  kstring_t text = KS_INITIALIZE;
  std::string problem;
  for (int64_t number = 1; problem.empty() && hts_getline(fp.get(), KS_SEP_LINE, &text) >= 0;
       ++number) {
    const std::string_view line(text.s, text.l);
    if (line.substr(0, 2) == "##") continue;
    if (line.substr(0, 6) != "#CHROM") break;
    const std::vector<std::string_view> fields = Fields(line, '\t');
    std::unordered_map<std::string_view, size_t> columns;
    for (size_t j = 9; j < fields.size() && problem.empty(); ++j) {
      const auto [at, added] = columns.emplace(fields[j], j);
      if (!added) {
        problem = LineAt(number) + ": expected every sample named once, found " +
                  QuoteToken(fields[j]) + " in columns " + std::to_string(at->second + 1) +
                  " and " + std::to_string(j + 1) + " (rename one, e.g. bcftools reheader)";
      }
    }
    break;
  }
  std::free(text.s);
  return problem;
}

// Whether a GT value is allele indices or "." apart by "/" or "|".
bool WellFormedGenotype(std::string_view gt) {
  bool expectAllele = true;
  for (size_t i = 0; i < gt.size(); ++i) {
    const char ch = gt[i];
    if (expectAllele) {
      if (ch == '.') {
        expectAllele = false;
      } else if (ch >= '0' && ch <= '9') {
        while (i + 1 < gt.size() && gt[i + 1] >= '0' && gt[i + 1] <= '9') ++i;
        expectAllele = false;
      } else {
        return false;
      }
    } else if (ch == '/' || ch == '|') {
      expectAllele = true;
    } else {
      return false;
    }
  }
  return !expectAllele;
}

// What is wrong in a VCF record's text that htslib refused without saying why: a GT that is
// not allele numbers. "" when the text shows nothing.
std::string RecordTextProblem(const kstring_t& text, const bcf_hdr_t* hdr, std::string& place) {
  if (text.s == nullptr) return "";
  // htslib cuts the line in place while it parses it: its fields end at a tab or a NUL.
  std::string line(text.s, text.l);
  std::replace(line.begin(), line.end(), '\0', '\t');
  const std::vector<std::string_view> fields = Fields(line, '\t');
  if (fields.size() < 10) return "";
  place += " (" + std::string(fields[0]) + ":" + std::string(fields[1]) + ")";
  const std::vector<std::string_view> keys = Fields(fields[8], ':');
  size_t gt = 0;
  while (gt < keys.size() && keys[gt] != "GT") ++gt;
  if (gt == keys.size()) return "";
  for (size_t j = 9; j < fields.size(); ++j) {
    const std::vector<std::string_view> values = Fields(fields[j], ':');
    if (gt >= values.size() || WellFormedGenotype(values[gt])) continue;
    const int32_t sample = static_cast<int32_t>(j - 9);
    return "sample " +
           (sample < bcf_hdr_nsamples(hdr) ? std::string(hdr->samples[sample])
                                           : std::to_string(sample + 1)) +
           ": expected a GT of allele numbers or \".\" apart by / or |, found " +
           QuoteToken(values[gt]);
  }
  return "";
}

}  // namespace

void ReadVcfFile(const std::string& path, const ReaderOptions& options, StudyData& data,
                 const std::string* bytes) {
  QuietHtslib quiet;
  std::unique_ptr<htsFile, HtsFileCloser> fp(bytes ? OpenInMemory(*bytes, path)
                                                   : hts_open(path.c_str(), "r"));
  if (!fp) {
    FailInput(path, "", std::string("cannot open the file (") + std::strerror(errno) + ")");
  }
  const htsFormat* format = hts_get_format(fp.get());
  if (format->category != variant_data) {
    if (format->compression != no_compression) {
      FailInput(path, ByteAt(0),
                "expected a compressed VCF or BCF, found compressed data that does not read as "
                "one (STRUCTURE and GENEPOP text is read uncompressed: gunzip it first)");
    }
    std::unique_ptr<char, decltype(&std::free)> what(hts_format_description(format), std::free);
    FailInput(path, ByteAt(0),
              "expected a VCF or BCF file, found " + std::string(what ? what.get() : "?"));
  }
  const bool isBcf = format->format == bcf;
  std::unique_ptr<bcf_hdr_t, HeaderFreer> hdr(bcf_hdr_read(fp.get()));
  if (!hdr) {
    const std::string problem = HeaderProblem(path, bytes);
    if (!problem.empty()) FailInput(path, "", problem);
    FailInput(path, "header",
              "expected a VCF header (## lines, then the #CHROM line), htslib could not read it");
  }
  const int32_t N = bcf_hdr_nsamples(hdr.get());
  if (N <= 0) FailInput(path, "header", "expected sample columns after FORMAT, found none");

  std::unique_ptr<bcf1_t, RecordFreer> rec(bcf_init());
  GenotypeBuffer gt;
  std::optional<LocusTableBuilder> builder;
  int32_t A = 0;           // copies per sample, from the first call that shows it
  int64_t firstShown = 0;  // the record that showed it
  int64_t waiting = 0;     // leading loci read before A was known (all calls ".")
  int64_t multiAllelic = 0, missingCopies = 0;
  bool anyPhased = false, anyUnphased = false;
  std::vector<uint8_t> observed;
  std::vector<int64_t> uses;
  std::vector<uint32_t> codeOfIndex;
  std::vector<std::string_view> alleles;
  std::vector<uint32_t> codes;
  SiteCoding coding;
  data.alleleNames.clear();
  data.locusNames.clear();

  for (int64_t record = 1;; ++record) {
    const int status = bcf_read(fp.get(), hdr.get(), rec.get());
    if (status == -1) break;
    // A contig or tag the header does not define is added by htslib, as bcftools does;
    // every other problem ends the read.
    if (status < -1 || (rec->errcode & ~(BCF_ERR_CTG_UNDEF | BCF_ERR_TAG_UNDEF)) != 0) {
      std::string place = RecordAt(record);
      const std::string problem = isBcf ? "" : RecordTextProblem(fp->line, hdr.get(), place);
      if (!problem.empty()) FailInput(path, place, problem);
      FailInput(path, RecordAt(record),
                "expected a VCF record, found " + RecordProblems(rec->errcode));
    }
    if (bcf_unpack(rec.get(), BCF_UN_STR) != 0) {
      FailInput(path, RecordPlace(record, hdr.get(), rec.get()),
                "htslib could not unpack the record's alleles");
    }
    const int got = bcf_get_genotypes(hdr.get(), rec.get(), &gt.values, &gt.capacity);
    const int32_t* gtRaw = gt.values;
    if (got < 0) {
      FailInput(path, RecordPlace(record, hdr.get(), rec.get()),
                got == -2 ? "expected a GT field (genotypes), htslib could not read it"
                          : "expected a GT field (genotypes), the record has none");
    }
    const int32_t width = got / N;  // entries per sample
    const int32_t nAllele = rec->n_allele;

    // Every sample's copies: either a lone "." (all copies missing, whatever the ploidy) or
    // exactly A alleles.
    for (int32_t s = 0; s < N && A == 0; ++s) {
      const int32_t* call = gtRaw + static_cast<size_t>(s) * width;
      int32_t k = 0;
      while (k < width && call[k] != bcf_int32_vector_end) ++k;
      if (k == 0 || (k == 1 && bcf_gt_is_missing(call[0]))) continue;
      A = k;
      firstShown = record;
    }
    if (A == 0) {  // no call shows the ploidy yet: a locus of missing copies only
      ++waiting;
    } else {
      if (!builder) {
        if (options.ploidy > 0 && options.ploidy != A) {
          FailInput(path, RecordPlace(record, hdr.get(), rec.get()),
                    "expected " + std::to_string(options.ploidy) +
                        " alleles per call (--ploidy), found " + std::to_string(A));
        }
        builder.emplace(N, A);
        codes.assign(static_cast<size_t>(N) * A, 0);
        for (int64_t i = 0; i < waiting; ++i) builder->AddLocus({}, -9, codes.data());
        data.alleleNames.resize(static_cast<size_t>(waiting));
      }
      // How often each allele index occurs (uses[0]: missing copies), from the genotype
      // values (allele + 1) * 2 + phased; a call shorter than the record's widest ends with
      // bcf_int32_vector_end.
      uses.assign(static_cast<size_t>(nAllele) + 1, 0);
      bool irregular = width != A;
      for (int32_t sample = 0; sample < N; ++sample) {
        const int32_t* call = gtRaw + static_cast<size_t>(sample) * width;
        for (int32_t a = 0; a < width; ++a) {
          const uint32_t index = static_cast<uint32_t>(call[a]) >> 1;
          if (call[a] == bcf_int32_vector_end || index > static_cast<uint32_t>(nAllele)) {
            irregular = true;
            continue;
          }
          ++uses[index];
          if (a > 0) (bcf_gt_is_phased(call[a]) ? anyPhased : anyUnphased) = true;
        }
      }
      if (irregular) {
        // Calls of other lengths: each a lone "." (all its copies missing) or exactly A
        // alleles of the record's.
        std::fill(uses.begin(), uses.end(), 0);
        for (int32_t sample = 0; sample < N; ++sample) {
          const int32_t* call = gtRaw + static_cast<size_t>(sample) * width;
          int32_t k = 0;
          while (k < width && call[k] != bcf_int32_vector_end) ++k;
          if (k == 1 && bcf_gt_is_missing(call[0])) {
            uses[0] += A;
            continue;
          }
          if (k != A) {
            FailInput(path, RecordPlace(record, hdr.get(), rec.get()),
                      "expected " + std::to_string(A) + " alleles per call like record " +
                          std::to_string(firstShown) + ", sample " + hdr->samples[sample] +
                          " has " + std::to_string(k) +
                          " (every sample and record needs the same ploidy)");
          }
          for (int32_t a = 0; a < A; ++a) {
            const uint32_t index = static_cast<uint32_t>(call[a]) >> 1;
            if (index > static_cast<uint32_t>(nAllele)) {
              FailInput(path, RecordPlace(record, hdr.get(), rec.get()),
                        "sample " + std::string(hdr->samples[sample]) +
                            ": expected an allele index below " + std::to_string(nAllele) +
                            ", found " + std::to_string(static_cast<int64_t>(index) - 1));
            }
            ++uses[index];
          }
        }
      }
      missingCopies += uses[0];
      observed.assign(static_cast<size_t>(nAllele), 0);
      for (int32_t i = 0; i < nAllele; ++i) observed[i] = uses[i + 1] > 0;
      alleles.assign(rec->d.allele, rec->d.allele + nAllele);
      CodeSiteAlleles(alleles, observed, coding);
      // The code of every genotype value's index: J for missing, else the allele's code.
      const uint32_t J = static_cast<uint32_t>(coding.values.size());
      codeOfIndex.assign(static_cast<size_t>(nAllele) + 1, J);
      for (int32_t i = 0; i < nAllele; ++i) {
        if (observed[i]) codeOfIndex[i + 1] = static_cast<uint32_t>(coding.codeOf[i]);
      }
      if (!irregular) {
        const size_t entries = static_cast<size_t>(N) * A;
        for (size_t e = 0; e < entries; ++e) {
          codes[e] = codeOfIndex[static_cast<uint32_t>(gtRaw[e]) >> 1];
        }
      } else {
        for (int32_t sample = 0; sample < N; ++sample) {
          const int32_t* call = gtRaw + static_cast<size_t>(sample) * width;
          const bool lone = width == 1 || call[1] == bcf_int32_vector_end;
          for (int32_t a = 0; a < A; ++a) {
            codes[static_cast<size_t>(sample) * A + a] =
                lone && a > 0 ? J : codeOfIndex[static_cast<uint32_t>(call[a]) >> 1];
          }
        }
      }
      builder->AddLocus(coding.values, -9, codes.data());
      data.alleleNames.push_back(coding.names);
      multiAllelic += nAllele > 2;
    }
    const char* id = rec->d.id;
    data.locusNames.push_back(id != nullptr && std::strcmp(id, ".") != 0
                                  ? std::string(id)
                                  : std::string(bcf_hdr_id2name(hdr.get(), rec->rid)) + ":" +
                                        std::to_string(rec->pos + 1));
  }
  const int64_t L = static_cast<int64_t>(data.locusNames.size());
  if (L == 0) FailInput(path, RecordAt(1), "expected at least one record, found none");
  if (!builder) {
    FailInput(path, RecordAt(L),
              "every call of every record is missing (\".\"): nothing to analyse");
  }
  builder->Finish(data.X);

  data.names.clear();
  for (int32_t s = 0; s < N; ++s) data.names.emplace_back(hdr->samples[s]);
  data.populations.clear();
  data.format = isBcf ? "BCF" : "VCF";
  const double copies = static_cast<double>(N) * A * L;
  char missingShare[32];
  std::snprintf(missingShare, sizeof(missingShare), "%.1f%%", 100.0 * missingCopies / copies);
  data.detected = data.format + ": " + Counted(N, "individual") + ", " +
                  Counted(L, "locus", "loci") + " (" + std::to_string(multiAllelic) +
                  " multi-allelic), " + PloidyWord(A) + ", " +
                  (anyPhased && anyUnphased ? "partly phased"
                   : anyPhased              ? "phased"
                                            : "unphased") +
                  ", " + missingShare + " of copies missing";
}
