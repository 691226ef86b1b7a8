#include "data/plink_bed_file.h"

#include <sys/mman.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "data/allele_names.h"
#include "data/bed_tile.h"
#include "data/input_messages.h"
#include "data/text_lines.h"

namespace {

bool IsFile(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

struct Individuals {
  std::vector<std::string> families, names;
};

// Calls row(tokens, line number) for every line of path that holds a token.
template <typename Row>
void ForEachTokenLine(const std::string& path, Row row) {
  const std::string text = ReadWholeFile(path);
  TextLines lines(text);
  std::string_view line;
  std::vector<std::string_view> tokens;
  while (lines.Next(line)) {
    SplitTokens(line, tokens);
    if (!tokens.empty()) row(tokens, lines.number());
  }
}

// prefix.fam: one line per individual, family ID, individual ID, father, mother, sex,
// phenotype (the phenotype may be left out).
Individuals ReadFam(const std::string& path) {
  Individuals fam;
  ForEachTokenLine(path, [&](const std::vector<std::string_view>& tokens, int64_t number) {
    if (tokens.size() != 5 && tokens.size() != 6) {
      FailInput(path, LineAt(number),
                "expected 6 columns (family, individual, father, mother, sex, phenotype), found " +
                    std::to_string(tokens.size()));
    }
    fam.families.emplace_back(tokens[0]);
    fam.names.emplace_back(tokens[1]);
  });
  if (fam.names.empty()) FailInput(path, LineAt(1), "expected a line per individual, found none");
  return fam;
}

struct Variants {
  std::vector<std::string> names;
  std::vector<std::string> allele1, allele2;
};

// prefix.bim: one line per variant: chromosome, name, position in cM, position in bases,
// allele 1, allele 2.
Variants ReadBim(const std::string& path) {
  Variants bim;
  ForEachTokenLine(path, [&](const std::vector<std::string_view>& tokens, int64_t number) {
    if (tokens.size() != 6) {
      FailInput(path, LineAt(number),
                "expected 6 columns (chromosome, variant, cM, position, allele 1, allele 2), "
                "found " +
                    std::to_string(tokens.size()));
    }
    int32_t position = 0;
    if (ParseIntToken(tokens[3], position) != IntToken::kOk) {
      FailInput(path, LineAt(number),
                "column 4: expected the position in bases (a whole number), found " +
                    QuoteToken(tokens[3]));
    }
    bim.names.emplace_back(tokens[1] != "."
                               ? std::string(tokens[1])
                               : std::string(tokens[0]) + ":" + std::string(tokens[3]));
    bim.allele1.emplace_back(tokens[4]);
    bim.allele2.emplace_back(tokens[5]);
  });
  if (bim.names.empty()) FailInput(path, LineAt(1), "expected a line per variant, found none");
  return bim;
}

struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};

// The .bed file mapped into memory (read through the page cache, no copy).
struct Mapping {
  void* at = MAP_FAILED;
  size_t size = 0;
  ~Mapping() {
    if (at != MAP_FAILED) munmap(at, size);
  }
};

// Which genotypes occur among those of one variant.
struct GenotypeCounts {
  bool homozygous1 = false, heterozygous = false, homozygous2 = false;
};

// Which genotypes occur among the N of one variant (4 a byte at snp, ceil(N / 4) bytes).
// Stops as soon as all three have been seen, which for most variants is within the first
// few words.
GenotypeCounts CountGenotypes(const uint8_t* snp, int32_t N) {
  constexpr uint64_t kLow = 0x5555555555555555ull;
  const int32_t bytes = (N + 3) / 4;
  uint64_t any0 = 0, any2 = 0, any3 = 0;
  for (int32_t n = 0; n < N && !(any0 && any2 && any3); n += 32) {
    uint64_t word = 0;
    std::memcpy(&word, snp + n / 4, std::min(8, bytes - n / 4));
    const int32_t lanes = std::min(32, N - n);
    const uint64_t valid = lanes == 32 ? kLow : kLow & ((uint64_t{1} << (2 * lanes)) - 1);
    const uint64_t lo = word & kLow, hi = (word >> 1) & kLow;
    any0 |= ~lo & ~hi & valid;
    any2 |= ~lo & hi & valid;
    any3 |= lo & hi & valid;
  }
  return {any0 != 0, any2 != 0, any3 != 0};
}

// The kind of a locus from its .bim alleles and which of them occur, with its allele values
// and names (the values of allele_names.h).
BedLocusKind CodeBedLocus(const std::string& allele1, const std::string& allele2, bool observed1,
                          bool observed2, std::vector<int32_t>& values,
                          std::vector<std::string>& names, SiteCoding& coding) {
  const int32_t v1 = BaseValue(allele1), v2 = BaseValue(allele2);
  if (v1 > 0 && v2 > 0 && v1 != v2) {  // two single bases: the common case
    if (observed1 && observed2) {
      values = {std::min(v1, v2), std::max(v1, v2)};
      names = v1 < v2 ? std::vector<std::string>{allele1, allele2}
                      : std::vector<std::string>{allele2, allele1};
      return v1 < v2 ? BedLocusKind::kTwo : BedLocusKind::kSwapped;
    }
    if (observed1 || observed2) {
      values = {observed1 ? v1 : v2};
      names = {observed1 ? allele1 : allele2};
      return BedLocusKind::kSingle;
    }
    values.clear();
    names.clear();
    return BedLocusKind::kNone;
  }
  const std::vector<std::string_view> alleles = {allele1, allele2};
  const std::vector<uint8_t> observed = {observed1, observed2};
  CodeSiteAlleles(alleles, observed, coding);
  values = coding.values;
  names = coding.names;
  if (values.size() == 2)
    return coding.codeOf[0] == 0 ? BedLocusKind::kTwo : BedLocusKind::kSwapped;
  return values.size() == 1 ? BedLocusKind::kSingle : BedLocusKind::kNone;
}

// Reserves the table's words and has the kernel map them before the table is laid out:
// huge pages where it grants them (a gigabyte then takes a few hundred page faults, not a
// quarter million), and the pages made ready by every thread at once rather than by the
// one that first writes them. Both are hints; the table is the same without them.
void ReserveWords(std::vector<uint64_t>& words, size_t count) {
  words.reserve(count);
  constexpr uintptr_t kPage = 4096;
  const uintptr_t begin = (reinterpret_cast<uintptr_t>(words.data()) + kPage - 1) & ~(kPage - 1);
  const uintptr_t end = reinterpret_cast<uintptr_t>(words.data() + count) & ~(kPage - 1);
  if (end <= begin) return;
  madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#ifdef MADV_POPULATE_WRITE
  constexpr uintptr_t kPart = uintptr_t{64} << 20;
  const int64_t parts = static_cast<int64_t>((end - begin + kPart - 1) / kPart);
#pragma omp parallel for schedule(static)
  for (int64_t p = 0; p < parts; ++p) {
    const uintptr_t from = begin + static_cast<uintptr_t>(p) * kPart;
    madvise(reinterpret_cast<void*>(from), std::min(kPart, end - from), MADV_POPULATE_WRITE);
  }
#endif
}

}  // namespace

std::string PlinkFilesetPrefix(const std::string& path) {
  for (const char* end : {".bed", ".bim", ".fam"}) {
    if (EndsWith(path, end)) {
      const std::string prefix = path.substr(0, path.size() - 4);
      return IsFile(prefix + ".bed") ? prefix : "";
    }
  }
  return IsFile(path + ".bed") ? path : "";
}

void ReadPlinkFileset(const std::string& prefix, const ReaderOptions& options, StudyData& data) {
  const std::string famPath = prefix + ".fam", bimPath = prefix + ".bim", bedPath = prefix + ".bed";
  const Individuals fam = ReadFam(famPath);
  const Variants bim = ReadBim(bimPath);
  const int32_t N = static_cast<int32_t>(fam.names.size());
  const int32_t L = static_cast<int32_t>(bim.names.size());
  if (options.ploidy > 0 && options.ploidy != 2) {
    FailInput(bedPath, "",
              "expected --ploidy 2 (PLINK genotypes are diploid), found --ploidy " +
                  std::to_string(options.ploidy));
  }

  std::unique_ptr<FILE, FileCloser> bed(std::fopen(bedPath.c_str(), "rb"));
  if (!bed) {
    FailInput(bedPath, "", std::string("cannot open the file (") + std::strerror(errno) + ")");
  }
  struct stat info;
  if (fstat(fileno(bed.get()), &info) != 0 || !S_ISREG(info.st_mode)) {
    FailInput(bedPath, "", "expected a .bed file, found a folder or a device");
  }
  const int64_t size = info.st_size;
  unsigned char magic[3] = {0, 0, 0};
  const size_t got = std::fread(magic, 1, 3, bed.get());
  char shown[40];
  std::snprintf(shown, sizeof(shown), "%02x %02x %02x", magic[0], magic[1], magic[2]);
  if (got < 3 || magic[0] != 0x6c || magic[1] != 0x1b) {
    FailInput(
        bedPath, ByteAt(0),
        "expected the PLINK .bed magic bytes 6c 1b 01, found " +
            (got < 3 ? std::string("a file of ") + Counted(size, "byte") : std::string(shown)));
  }
  if (magic[2] != 0x01) {
    FailInput(
        bedPath, ByteAt(2),
        "expected 01 (variant-major, as plink 1.9 and 2 write), found " + std::string(shown + 6) +
            (magic[2] == 0 ? " (individual-major: write it again with plink --make-bed)" : ""));
  }
  // Every variant takes ceil(N / 4) bytes.
  const int64_t B = (static_cast<int64_t>(N) + 3) / 4;
  const int64_t expected = 3 + static_cast<int64_t>(L) * B;
  if (size != expected) {
    const std::string promise = std::to_string(L) + " variants in " + bimPath + " x " +
                                std::to_string(B) + " bytes for the " + std::to_string(N) +
                                " individuals in " + famPath;
    if (size > 3 && (size - 3) % L == 0) {
      const int64_t per = (size - 3) / L;
      FailInput(bedPath, ByteAt(size),
                "expected " + std::to_string(B) + " bytes per variant for the " +
                    Counted(N, "individual") + " of " + famPath + ", found " + std::to_string(per) +
                    " (" + std::to_string(4 * per - 3) + " to " + std::to_string(4 * per) +
                    " individuals): the .fam and the .bed disagree");
    }
    FailInput(bedPath, ByteAt(size),
              "expected " + std::to_string(expected) + " bytes (3 + " + promise + "), the file " +
                  (size < expected ? "ends after " : "holds ") + Counted(size, "byte"));
  }
  RequireTableMemory(bedPath, N, 2, L);

  // Every locus takes 2 bits (at most two alleles and the missing code), so the layout is
  // known before any genotype is read: 512 loci a block.
  const int32_t blockLoci = 32 * kBlockRowWords;
  const int64_t blocks = (static_cast<int64_t>(L) + blockLoci - 1) / blockLoci;
  ReserveWords(data.X.words, static_cast<size_t>(2 * N) * blocks * kBlockRowWords);
  LayOutGenotypeTable(data.X, N, 2, L, Vector2D<int32_t>(L), std::vector<int32_t>(L, -9));
  GenotypeTable& X = data.X;
  data.alleleNames.assign(L, {});

  Mapping mapping;
  mapping.size = static_cast<size_t>(size);
  mapping.at =
      mmap(nullptr, mapping.size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fileno(bed.get()), 0);
  if (mapping.at == MAP_FAILED) {
    FailInput(bedPath, "",
              std::string("cannot map the file into memory (") + std::strerror(errno) + ")");
  }
  madvise(mapping.at, mapping.size, MADV_SEQUENTIAL);
  const uint8_t* genotypes = static_cast<const uint8_t*>(mapping.at) + 3;

  // Two passes in one parallel region: the alleles each variant shows (its kind, values and
  // names), then the codes, in units of 128 individuals x one block. Each unit writes whole
  // rows of its own individuals, so the table is the same for any number of threads; units
  // are handed out as threads come free, so a thread the system holds back delays no other.
  const BedTileCode code = FastestBedTileCode();
  const int32_t tileCount = (L + 31) / 32;
  const int32_t groups = (N + 127) / 128;
  const int64_t units = static_cast<int64_t>(X.blocks.size()) * groups;
  std::vector<BedTileMasks> masks(tileCount);
#pragma omp parallel
  {
    SiteCoding coding;
#pragma omp for schedule(dynamic, 16)
    for (int32_t tile = 0; tile < tileCount; ++tile) {
      BedTileMasks m;
      for (int32_t l = 32 * tile; l < std::min(L, 32 * tile + 32); ++l) {
        const GenotypeCounts c = CountGenotypes(genotypes + static_cast<size_t>(l) * B, N);
        SetBedLocusKind(
            m, l % 32,
            CodeBedLocus(bim.allele1[l], bim.allele2[l], c.homozygous1 || c.heterozygous,
                         c.homozygous2 || c.heterozygous, X.alleleValues[l], data.alleleNames[l],
                         coding));
      }
      masks[tile] = m;
    }
    // The last individuals' 32-byte runs may pass the end of a variant's bytes (and of the
    // file): those are copied into a padded buffer first.
    std::vector<uint8_t> padded(32 * 32, 0);
#pragma omp for schedule(dynamic, 4)
    for (int64_t unit = 0; unit < units; ++unit) {
      const int32_t b = static_cast<int32_t>(unit / groups);
      const int32_t g = static_cast<int32_t>(unit % groups);
      const LocusBlock& block = X.blocks[b];
      uint64_t* rows = BlockRow(X, b, 128 * g, 0);
      const int32_t lanes = std::min(128, N - 128 * g);
      const int64_t offset = 32 * static_cast<int64_t>(g);
      for (int32_t t = 0; t < block.rowWords; ++t) {
        const int32_t first = block.firstLocus + 32 * t;
        const int32_t loci = std::min(32, L - first);
        const uint8_t* runs = genotypes + static_cast<size_t>(first) * B + offset;
        size_t stride = static_cast<size_t>(B);
        if (offset + 32 > B) {
          std::fill(padded.begin(), padded.end(), 0);
          for (int32_t i = 0; i < loci; ++i) {
            std::memcpy(padded.data() + 32 * i, runs + static_cast<size_t>(i) * B,
                        static_cast<size_t>(B - offset));
          }
          runs = padded.data();
          stride = 32;
        }
        CodeBedTiles(runs, stride, loci, masks[first / 32], lanes, rows + t,
                     static_cast<size_t>(block.rowWords), code);
      }
    }
  }

  data.names = fam.names;
  // The family ID is the population, unless every family is the individual itself (as
  // many converters write a .fam).
  bool familyIsName = true;
  for (int32_t n = 0; n < N; ++n) familyIsName = familyIsName && fam.families[n] == fam.names[n];
  data.populations = familyIsName ? std::vector<std::string>() : fam.families;
  data.locusNames = bim.names;
  data.format = "PLINK";
  std::vector<std::string> distinct = data.populations;
  std::sort(distinct.begin(), distinct.end());
  distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
  data.detected =
      "PLINK: " + Counted(N, "individual") + ", " + Counted(L, "locus", "loci") + ", diploid, " +
      (familyIsName
           ? std::string("no populations (family IDs repeat the names)")
           : Counted(static_cast<int64_t>(distinct.size()), "population") + " (family IDs)");
}
