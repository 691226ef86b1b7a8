#include "fuzz/command_line_check.h"

#include <cstdlib>
#include <map>

#include "app/command_line.h"
#include "fuzz/in_process_run.h"

namespace {

enum class Ending { kSettings, kUsageOnly, kUnknownOption, kSilent, kBadValue };

struct Expected {
  Ending ending = Ending::kSettings;
  std::string argument;  // the argument quoted by the error line
  RunSettings settings;
};

// The rules read one by one: at least seven arguments; each argument's letter is its
// second character; the first bad argument decides; the seven required letters; then the
// values the mode cannot use, in the order N, A, L, K, I, j (or r, c in mode l).
Expected ParseLiterally(const std::vector<std::string>& args) {
  Expected e;
  if (args.size() < 7) {
    e.ending = Ending::kUsageOnly;
    return e;
  }
  RunSettings& s = e.settings;
  std::map<char, std::string> last;
  for (const std::string& arg : args) {
    const char letter = arg.size() < 2 ? '\0' : arg[1];
    const std::string value = arg.size() < 2 ? "" : arg.substr(2);
    const char first = value.empty() ? '\0' : value[0];
    const int number = std::atoi(value.c_str());
    switch (letter) {
      case 'A':
        s.ploidy = number;
        break;
      case 'I':
        s.iterationCount = number;
        break;
      case 'K':
        s.clusterCount = number;
        break;
      case 'L':
        s.locusCount = number;
        break;
      case 'N':
        s.individualCount = number;
        break;
      case 'c':
        s.extraColumns = number;
        break;
      case 'j':
        s.simulatedAlleleCount = number;
        break;
      case 'r':
        s.extraRows = number;
        break;
      case 'F':
        s.dataFileName = value;
        break;
      case 'i':
        s.inputFolder = value;
        break;
      case 'o':
        s.outputFolder = value;
        break;
      case 'D':
        s.mode = first;
        if (first != 's' && first != 'o' && first != 'l') {
          e.ending = Ending::kUnknownOption;
          e.argument = arg;
          return e;
        }
        break;
      case 'a':
        s.emVariant = first;
        if (first != 'c' && first != 'a' && first != 's') e.ending = Ending::kSilent;
        break;
      case 'm':
        s.initMethod = first;
        if (first != 'r' && first != 'c' && first != 'd') e.ending = Ending::kSilent;
        break;
      default:
        e.ending = Ending::kUnknownOption;
        e.argument = arg;
        return e;
    }
    if (e.ending == Ending::kSilent) return e;
    last[letter] = arg;
  }
  for (const char letter : std::string("DFNALKI")) {
    if (last.count(letter) == 0) {
      e.ending = Ending::kUsageOnly;
      return e;
    }
  }
  const auto bad = [&](char letter) {
    e.ending = Ending::kBadValue;
    e.argument = last.count(letter) ? last[letter] : "(default)";
    return e;
  };
  if (s.individualCount < 1) return bad('N');
  if (s.ploidy < 1) return bad('A');
  if (s.locusCount < 1) return bad('L');
  if (s.clusterCount < 1) return bad('K');
  if (s.mode != 'o' && s.iterationCount < 1) return bad('I');
  if (s.mode != 'l' && s.simulatedAlleleCount < 1) return bad('j');
  if (s.mode == 'l' && s.extraRows < 0) return bad('r');
  if (s.mode == 'l' && s.extraColumns < 0) return bad('c');
  return e;
}

bool SameSettings(const RunSettings& a, const RunSettings& b) {
  return a.mode == b.mode && a.dataFileName == b.dataFileName &&
         a.individualCount == b.individualCount && a.ploidy == b.ploidy &&
         a.locusCount == b.locusCount && a.clusterCount == b.clusterCount &&
         a.iterationCount == b.iterationCount && a.emVariant == b.emVariant &&
         a.initMethod == b.initMethod && a.extraRows == b.extraRows &&
         a.extraColumns == b.extraColumns && a.inputFolder == b.inputFolder &&
         a.outputFolder == b.outputFolder && a.simulatedAlleleCount == b.simulatedAlleleCount;
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

const std::string& UsageText() {
  static const std::string usage = RunInProcess(PrintUsage).out;
  return usage;
}

}  // namespace

std::string CheckCommandLineArguments(const std::vector<std::string>& args) {
  std::vector<const char*> argv = {"emclade"};
  for (const std::string& a : args) argv.push_back(a.c_str());
  RunSettings parsed;
  const InProcessResult run =
      RunInProcess([&] { parsed = ParseCommandLine(static_cast<int>(argv.size()), argv.data()); });
  const Expected e = ParseLiterally(args);

  if (e.ending == Ending::kSettings) {
    if (run.ended) return "the parser refused valid arguments: " + run.err;
    if (!run.out.empty() || !run.err.empty()) return "the parser wrote output on success";
    if (!SameSettings(parsed, e.settings)) return "the parsed settings differ";
    const RunSettings& s = e.settings;
    const std::string input =
        s.inputFolder.empty() ? s.dataFileName : s.inputFolder + "/" + s.dataFileName;
    const std::string output =
        s.outputFolder.empty() ? s.dataFileName : s.outputFolder + "/" + s.dataFileName;
    if (InputPath(parsed) != input || OutputBase(parsed) != output)
      return "the derived paths differ";
    return "";
  }
  if (!run.ended) return "the parser returned settings for arguments it must refuse";
  if (run.exitCode != 1) return "exit code " + std::to_string(run.exitCode);
  switch (e.ending) {
    case Ending::kUsageOnly:
      if (!run.err.empty() || run.out != UsageText()) return "expected the usage text alone";
      break;
    case Ending::kUnknownOption:
      if (run.err != "Unknown Option - " + e.argument + "\n" || run.out != UsageText()) {
        return "expected Unknown Option - " + e.argument + " and the usage text, got " + run.err;
      }
      break;
    case Ending::kSilent:
      if (!run.err.empty() || !run.out.empty()) return "expected a silent exit, got " + run.err;
      break;
    case Ending::kBadValue:
      if (!run.out.empty() || run.err.rfind("Invalid Option Value " + e.argument + ": ", 0) != 0 ||
          !EndsWith(run.err, " - ParseCommandLine\n")) {
        return "expected the value line for " + e.argument + ", got " + run.err;
      }
      break;
    case Ending::kSettings:
      break;
  }
  return "";
}

std::string CheckCommandLineInput(const uint8_t* data, size_t size) {
  constexpr size_t kMostArguments = 40;
  std::vector<std::string> args(1);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] != 0) {
      args.back().push_back(static_cast<char>(data[i]));
    } else if (args.size() < kMostArguments) {
      args.emplace_back();
    } else {
      break;
    }
  }
  if (size == 0) args.clear();
  return CheckCommandLineArguments(args);
}
