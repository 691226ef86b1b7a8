// Every mode with each count option at -1, 0, 1 and 2 in turn (the others small and valid),
// and every -a and -m letter, through the real program. Whatever the settings, a run ends
// by itself, with exit code 0 and its results, or exit code 1 and one line saying why.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "run_program.h"

namespace {

// Per run; far above what any of these small runs takes, sanitizer build included.
constexpr double kTimeLimitSeconds = 30.0;

// The program's variants of a run: the three modes, and mode l twice, with a roomy file
// (every in-range N, A, L, r and c of the sweep finds its values) and with a file that
// holds exactly the base table (other sizes run out of data or out of step).
enum class Variant { kSimulate, kSimulateOnly, kLoadRoomy, kLoadExact };

struct Option {
  char letter;
  int base;            // small and valid in every mode
  int least;           // the smallest value a mode that reads the option can work with
  const char* readBy;  // the modes that read it
};

const Option kOptions[] = {
    {'N', 6, 1, "sol"}, {'A', 2, 1, "sol"}, {'L', 3, 1, "sol"}, {'K', 2, 1, "sol"},
    {'I', 20, 1, "sl"}, {'j', 3, 1, "so"},  {'r', 0, 0, "l"},   {'c', 0, 0, "l"},
};

const char* Name(Variant v) {
  switch (v) {
    case Variant::kSimulate:
      return "Simulate";
    case Variant::kSimulateOnly:
      return "SimulateOnly";
    case Variant::kLoadRoomy:
      return "LoadRoomyFile";
    default:
      return "LoadExactFile";
  }
}

void PrintTo(Variant v, std::ostream* os) {
  *os << Name(v);
}

char ModeLetter(Variant v) {
  switch (v) {
    case Variant::kSimulate:
      return 's';
    case Variant::kSimulateOnly:
      return 'o';
    default:
      return 'l';
  }
}

// 14 rows of 5 values: 70 tokens, enough for 6 x 2 records of 2 labels and 3 values after
// two dropped rows. Some values are the missing-data code -9.
std::string RoomyFile() {
  std::string text;
  for (int row = 0; row < 14; ++row) {
    for (int col = 0; col < 5; ++col) {
      const int value = (row * 5 + col) % 7 == 3 ? -9 : 100 + 2 * ((row + col) % 4);
      text += std::to_string(value) + (col < 4 ? "\t" : "\n");
    }
  }
  return text;
}

// The base table exactly: 6 individuals x 2 copies, 3 values each.
std::string ExactFile() {
  std::string text;
  for (int record = 0; record < 12; ++record) {
    text += std::to_string(100 + record % 3) + " " + std::to_string(200 + record % 2) + " " +
            (record == 5 ? "-9" : std::to_string(300 + record % 4)) + "\n";
  }
  return text;
}

// "-" + letter + value (built step by step: g++ 12 warns falsely on the one-line form).
std::string Arg(char letter, int value) {
  std::string argument = "-";
  argument += letter;
  argument += std::to_string(value);
  return argument;
}

const std::string kUsageFirstLine = "Typical Usage: emclade -DD -FF -NN -AA -LL -KK -II\n";

bool IsChartWarning(const std::string& line) {
  auto endsWith = [&](const std::string& end) {
    return line.size() >= end.size() &&
           line.compare(line.size() - end.size(), end.size(), end) == 0;
  };
  return endsWith(" - PlotAP") || endsWith(" - PlotLH");
}

class SettingsSweep : public testing::TestWithParam<Variant> {
 protected:
  void SetUp() override {
    inputDir_ = MakeTempDir();
    if (GetParam() == Variant::kLoadRoomy) WriteFile(inputDir_ + "/data.str", RoomyFile());
    if (GetParam() == Variant::kLoadExact) WriteFile(inputDir_ + "/data.str", ExactFile());
  }
  void TearDown() override { std::filesystem::remove_all(inputDir_); }

  // The base arguments with the given ones after them (the last occurrence wins).
  std::vector<std::string> Arguments(const std::vector<std::string>& extra) const {
    std::vector<std::string> args = {std::string("-D") + ModeLetter(GetParam()), "-Fdata.str",
                                     "-i" + inputDir_};
    for (const Option& o : kOptions) args.push_back(Arg(o.letter, o.base));
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  }

  // Runs in a fresh folder; "" when the run kept every rule, else what it broke.
  // silent: the run must end with exit code 1 and no output at all (a bad -a or -m letter).
  // refusedBy: the argument the command line must refuse with its one line, if any.
  std::string RunAndCheck(const std::vector<std::string>& args, bool silent,
                          const std::string& refusedBy) const {
    const std::string work = MakeTempDir();
    const ProgramResult r = RunProgram(args, work, kTimeLimitSeconds);
    const bool wroteData = FileExists(work + "/data.str");
    const bool wroteTruth = FileExists(work + "/data.strGroundTruth.txt");
    const bool wroteResults =
        FileExists(work + "/data.strTR.txt") && FileExists(work + "/data.strAL.txt");
    const bool drewAP = FileExists(work + "/data.strAP.png");
    const bool drewLH = FileExists(work + "/data.strLH.png");
    std::filesystem::remove_all(work);

    if (r.timedOut) return "did not end within the time limit";
    if (r.signal != 0) return "ended by signal " + std::to_string(r.signal);
    if (r.exitCode != 0 && r.exitCode != 1) return "exit code " + std::to_string(r.exitCode);
    const std::vector<std::string> errLines = SplitLines(r.err);
    if (silent) {
      if (r.exitCode != 1 || !r.out.empty() || !r.err.empty()) return "expected a silent exit 1";
      return "";
    }
    if (!refusedBy.empty()) {
      if (r.exitCode != 1 || errLines.size() != 1 ||
          r.err.rfind("Invalid Option Value " + refusedBy + ":", 0) != 0 ||
          r.err.find(" - ParseCommandLine\n") == std::string::npos) {
        return "expected the command line to refuse " + refusedBy + ", got: " + r.err;
      }
      return "";
    }
    if (r.exitCode == 1) {
      if (errLines.size() != 1 || r.err.back() != '\n')
        return "exit 1 needs exactly one error line, got: " + r.err;
      if (errLines[0].find(" - ") == std::string::npos)
        return "error line names no routine: " + r.err;
      if (r.out.rfind(kUsageFirstLine, 0) == 0) return "usage text for a complete command line";
      return "";
    }
    // Exit code 0: results, and on standard error at most the documented chart warnings.
    for (const std::string& line : errLines) {
      if (!IsChartWarning(line)) return "exit 0 with an error line: " + line;
    }
    if (GetParam() == Variant::kSimulateOnly) {
      if (!r.out.empty()) return "mode o writes nothing to standard output";
      if (!wroteData || !wroteTruth) return "exit 0 without the data file and the ground truth";
      return "";
    }
    const std::vector<std::string> outLines = SplitLines(r.out);
    if (outLines.empty() || outLines.back().rfind("This run takes ", 0) != 0) {
      return "exit 0 without the closing time line";
    }
    if (!wroteResults) return "exit 0 without TR.txt and AL.txt";
    // A chart may be missing only when its warning says so.
    if (!drewAP && r.err.find(" - PlotAP") == std::string::npos) return "AP.png missing silently";
    if (!drewLH && r.err.find(" - PlotLH") == std::string::npos) return "LH.png missing silently";
    return "";
  }

  std::string inputDir_;
};

std::string Shown(const std::vector<std::string>& args) {
  std::string text;
  for (const std::string& a : args) text += a.rfind("-i", 0) == 0 ? "-i<dir> " : a + " ";
  return text;
}

}  // namespace

TEST_P(SettingsSweep, CountOptionsFromMinusOneToTwo) {
  const char mode = ModeLetter(GetParam());
  for (const Option& o : kOptions) {
    for (const int value : {-1, 0, 1, 2}) {
      const std::string argument = Arg(o.letter, value);
      const bool read = std::string(o.readBy).find(mode) != std::string::npos;
      const std::string refusedBy = read && value < o.least ? argument : "";
      const std::vector<std::string> args = Arguments({argument});
      EXPECT_EQ(RunAndCheck(args, false, refusedBy), "") << Shown(args);
    }
  }
}

TEST_P(SettingsSweep, VariantAndInitialisationLetters) {
  struct Letter {
    std::string argument;
    bool valid;
  };
  const std::vector<Letter> letters = {
      {"-ac", true}, {"-aa", true}, {"-as", true}, {"-asx", true}, {"-ax", false}, {"-a", false},
      {"-mr", true}, {"-mc", true}, {"-md", true}, {"-mdx", true}, {"-mq", false}, {"-m", false},
  };
  for (const Letter& l : letters) {
    const std::vector<std::string> args = Arguments({l.argument});
    EXPECT_EQ(RunAndCheck(args, !l.valid, ""), "") << Shown(args);
  }
  // K = 1 with every initialisation: there is no other cluster to move an individual to.
  for (const char* m : {"-mr", "-mc", "-md"}) {
    const std::vector<std::string> args = Arguments({"-K1", m});
    EXPECT_EQ(RunAndCheck(args, false, ""), "") << Shown(args);
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, SettingsSweep,
                         testing::Values(Variant::kSimulate, Variant::kSimulateOnly,
                                         Variant::kLoadRoomy, Variant::kLoadExact),
                         [](const testing::TestParamInfo<Variant>& param) {
                           return std::string(Name(param.param));
                         });
