#include "data/input_messages.h"

#include <cstdio>

#include "data/genotype_table.h"
#include "data/memory_check.h"
#include "data/messages.h"

void FailInput(const std::string& file, const std::string& position, const std::string& what) {
  FailRun("emclade-sweep: " + file + ": " + (position.empty() ? "" : position + ": ") + what);
}

std::string LineAt(int64_t line) {
  return "line " + std::to_string(line);
}

std::string RecordAt(int64_t record) {
  return "record " + std::to_string(record);
}

std::string ByteAt(int64_t byte) {
  return "byte " + std::to_string(byte);
}

std::string QuoteToken(std::string_view token) {
  constexpr size_t kShown = 40;
  static const char kHex[] = "0123456789ABCDEF";
  std::string quoted(1, '"');
  for (const char ch : token.substr(0, kShown)) {
    const unsigned char u = static_cast<unsigned char>(ch);
    if (u >= 0x20 && u < 0x7F) {
      quoted.push_back(ch);
    } else {
      quoted.append("\\x");
      quoted.push_back(kHex[u >> 4]);
      quoted.push_back(kHex[u & 15]);
    }
  }
  if (token.size() > kShown) quoted.append("...");
  quoted.push_back('"');
  return quoted;
}

std::string Counted(int64_t count, const std::string& noun) {
  return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

std::string Counted(int64_t count, const std::string& one, const std::string& many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

void RequireTableMemory(const std::string& file, double N, double A, double L) {
  const double bytes = 2 * GenotypeTableBytes(N, A, L, 2);
  const double available = PhysicalMemoryBytes();
  if (available <= 0.0 || bytes <= available) return;
  char amounts[96];
  std::snprintf(amounts, sizeof(amounts), "%.1f GiB needed, %.1f GiB on this computer",
                bytes / 1073741824.0, available / 1073741824.0);
  FailInput(file, "",
            "not enough memory for a table of " + std::to_string(int64_t(N)) + " x " +
                std::to_string(int64_t(A)) + " x " + std::to_string(int64_t(L)) + " copies (" +
                amounts + ")");
}
