#include "fuzz/genotype_file_check.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <sstream>

#include "data/genotype_file.h"
#include "fuzz/in_process_run.h"

namespace {

struct ReadSettings {
  int32_t N, A, L, r, c;
};

// Mostly a small count; the top byte values give counts far beyond any small file.
int32_t SmallOrExtreme(uint8_t byte, int32_t smallCount) {
  static const int32_t kExtremes[] = {1000,    65536,   1 << 20,
                                      1 << 24, 1 << 30, std::numeric_limits<int32_t>::max()};
  if (byte >= 250) return kExtremes[byte - 250];
  return byte % smallCount;
}

ReadSettings Decode(const uint8_t* data) {
  return {1 + data[0] % 8, 1 + data[1] % 4, 1 + data[2] % 8, SmallOrExtreme(data[3], 4),
          SmallOrExtreme(data[4], 4)};
}

bool IsBlank(char ch) {
  return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\r' || ch == '\v' || ch == '\f';
}

struct Outcome {
  bool ok = false;
  GenotypeValues X;
  std::string message;  // the error line, without its line end
};

// The token as the error line shows it: 40 bytes at most, other than printable ASCII as \xNN.
std::string Shown(const std::string& token) {
  std::string shown = "\"";
  for (size_t i = 0; i < token.size() && i < 40; ++i) {
    const unsigned char u = static_cast<unsigned char>(token[i]);
    if (u >= 32 && u <= 126) {
      shown += token[i];
    } else {
      char hex[8];
      std::snprintf(hex, sizeof(hex), "\\x%02X", u);
      shown += hex;
    }
  }
  return shown + (token.size() > 40 ? "...\"" : "\"");
}

// 0 = an integer in range, 1 = not an integer, 2 = outside the 32-bit range.
int ParseLiterally(std::string token, int32_t& value) {
  bool negative = false;
  if (token[0] == '+' || token[0] == '-') {
    negative = token[0] == '-';
    token.erase(0, 1);
  }
  if (token.empty() || token.find_first_not_of("0123456789") != std::string::npos) return 1;
  token.erase(0, token.find_first_not_of('0'));  // all zeros leave nothing: the value 0
  if (token.size() > 10) return 2;
  const long long magnitude = token.empty() ? 0 : std::stoll(token);
  const long long signedValue = negative ? -magnitude : magnitude;
  if (signedValue < std::numeric_limits<int32_t>::min() ||
      signedValue > std::numeric_limits<int32_t>::max()) {
    return 2;
  }
  value = static_cast<int32_t>(signedValue);
  return 0;
}

// The layout read straight from the text: byte-order mark, r rows to their line end, then
// c labels and L values per record; lines counted as 1 + line ends consumed so far.
Outcome ReadLiterally(const std::string& text, const std::string& path, const ReadSettings& s) {
  Outcome o;
  InitVctr3D(o.X, s.N, s.A, s.L, 0);
  size_t pos = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  const auto fail = [&](const std::string& problem) {
    const long line = 1 + std::count(text.begin(), text.begin() + pos, '\n');
    o.message = problem + " in file " + path + " at line " + std::to_string(line) +
                " - LoadGenotypeDataFromStructureFile";
    return o;
  };
  for (int32_t row = 0; row < s.r; ++row) {
    if (pos == text.size())
      return fail("Unexpected end of data at header row " + std::to_string(row + 1));
    const size_t lineEnd = text.find('\n', pos);
    pos = lineEnd == std::string::npos ? text.size() : lineEnd + 1;
  }
  std::string token;
  const auto next = [&] {
    while (pos < text.size() && IsBlank(text[pos])) ++pos;
    if (pos == text.size()) return false;
    const size_t start = pos;
    while (pos < text.size() && !IsBlank(text[pos])) ++pos;
    token = text.substr(start, pos - start);
    return true;
  };
  for (int32_t n = 0; n < s.N; ++n) {
    for (int32_t a = 0; a < s.A; ++a) {
      const std::string who =
          "individual " + std::to_string(n + 1) + ", copy " + std::to_string(a + 1) + ", ";
      for (int32_t col = 0; col < s.c; ++col) {
        if (!next()) {
          return fail("Unexpected end of data at " + who + "label column " +
                      std::to_string(col + 1));
        }
      }
      for (int32_t l = 0; l < s.L; ++l) {
        const std::string where = who + "locus " + std::to_string(l + 1);
        if (!next()) return fail("Unexpected end of data at " + where);
        switch (ParseLiterally(token, o.X[n][a][l])) {
          case 1:
            return fail("Allele value " + Shown(token) + " is not an integer at " + where);
          case 2:
            return fail("Allele value " + Shown(token) + " is outside the 32-bit range at " +
                        where);
          default:
            break;
        }
      }
    }
  }
  o.ok = true;
  return o;
}

std::string Settings(const ReadSettings& s) {
  std::ostringstream text;
  text << "N=" << s.N << " A=" << s.A << " L=" << s.L << " r=" << s.r << " c=" << s.c;
  return text.str();
}

}  // namespace

std::string CheckGenotypeFileInput(const uint8_t* data, size_t size) {
  if (size < 5) return "";
  const ReadSettings s = Decode(data);
  const std::string text(reinterpret_cast<const char*>(data) + 5, size - 5);
  const std::string path = ScratchDir() + "/input.str";
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return "cannot write " + path;
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  if (std::fclose(file) != 0 || !written) return "cannot write " + path;

  GenotypeTable X;
  const InProcessResult run = RunInProcess([&] {
    InitGenotypeTable(X, s.N, s.A, s.L);
    LoadGenotypeDataFromStructureFile(path, X, s.N, s.A, s.L, s.r, s.c);
  });
  const Outcome expected = ReadLiterally(text, path, s);

  const std::string context = " (" + Settings(s) + ")";
  if (!run.out.empty()) return "the reader wrote to standard output" + context;
  if (expected.ok) {
    if (run.ended) return "the reader failed on a readable file: " + run.err + context;
    if (!run.err.empty()) return "the reader wrote to standard error: " + run.err + context;
    if (DecodeGenotypeTable(X) != expected.X)
      return "the reader's table differs from the literal reading" + context;
    return "";
  }
  if (!run.ended) return "the reader accepted a bad file; expected: " + expected.message + context;
  if (run.exitCode != 1) return "exit code " + std::to_string(run.exitCode) + context;
  if (run.err != expected.message + "\n") {
    return "error line differs:\n  got:      " + run.err + "  expected: " + expected.message +
           context;
  }
  return "";
}
