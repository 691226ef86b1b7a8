// The clustering report and the average log-likelihood file: exact text of small cases,
// number formats, the averaging window, replacement of old files, failures, and a whole
// analysis run through the executable.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "app/result_files.h"
#include "run_program.h"

namespace {

class ResultFiles : public testing::Test {
 protected:
  void SetUp() override { dir_ = MakeTempDir(); }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  std::string dir_;
};

// The three numbered lines of a report header for clusters 1..K.
std::string Header(int K) {
  std::string line = "Sample\t";
  for (int k = 1; k <= K; ++k) {
    line += std::string("***Cluster  ") + (k < 10 ? "0" : "") + std::to_string(k) + "***\t";
  }
  return line;
}

}  // namespace

TEST_F(ResultFiles, ClusteringReportOfOneCluster) {
  // Expected text written by hand from the layout: one cluster, two samples, one locus
  // whose alleles are -1 (padding before the sign) and 7.
  const Vector2D<double> Q = {{1.0}, {1.0}};
  const Vector3D<double> P = {{{0.25, 0.75}}};
  const Vector2D<int32_t> V = {{-1, 7}};
  WriteClusteringReport(Path("TR.txt"), Q, P, V, {2}, {1.0});
  EXPECT_EQ(ReadFile(Path("TR.txt")),
            "Estimated Clustering Probabilities for Samples\n"
            "Sample\t***Cluster  01***\t\n"
            "000001\t1.000000000000000\t\n"
            "000002\t1.000000000000000\t\n"
            "\n\n\n"
            "Estimated Allele Frequencies\n"
            "Cluster 01\n"
            "Locus 001\n"
            "Allele 0-1\t0.250000000000000\n"
            "Allele 007\t0.750000000000000\n"
            "\n"
            "\n"
            "\n"
            "Estimated Mixing Proportions\n"
            "1.000000000000000\n"
            "\n\n\n");
}

TEST_F(ResultFiles, ClusteringReportOfTwoClustersAndTwoLoci) {
  // By hand: 1/3 and 2/3 round to ...333 and ...667; 0 and 1 keep their 15 decimals;
  // allele values 5 and 102 (listed ascending), -12 (longer than the width), 1234.
  const Vector2D<double> Q = {{1.0 / 3.0, 2.0 / 3.0}, {0.0, 1.0}, {0.5, 0.5}};
  const Vector3D<double> P = {{{0.1, 0.9}, {0.2, 0.3, 0.5}}, {{1.0, 0.0}, {0.0, 0.0, 1.0}}};
  const Vector2D<int32_t> V = {{5, 102}, {-12, 0, 1234}};
  WriteClusteringReport(Path("TR.txt"), Q, P, V, {2, 3}, {0.6, 0.4});
  EXPECT_EQ(ReadFile(Path("TR.txt")),
            "Estimated Clustering Probabilities for Samples\n"
            "Sample\t***Cluster  01***\t***Cluster  02***\t\n"
            "000001\t0.333333333333333\t0.666666666666667\t\n"
            "000002\t0.000000000000000\t1.000000000000000\t\n"
            "000003\t0.500000000000000\t0.500000000000000\t\n"
            "\n\n\n"
            "Estimated Allele Frequencies\n"
            "Cluster 01\n"
            "Locus 001\n"
            "Allele 005\t0.100000000000000\n"
            "Allele 102\t0.900000000000000\n"
            "\n"
            "Locus 002\n"
            "Allele -12\t0.200000000000000\n"
            "Allele 000\t0.300000000000000\n"
            "Allele 1234\t0.500000000000000\n"
            "\n"
            "\n"
            "Cluster 02\n"
            "Locus 001\n"
            "Allele 005\t1.000000000000000\n"
            "Allele 102\t0.000000000000000\n"
            "\n"
            "Locus 002\n"
            "Allele -12\t0.000000000000000\n"
            "Allele 000\t0.000000000000000\n"
            "Allele 1234\t1.000000000000000\n"
            "\n"
            "\n"
            "\n"
            "Estimated Mixing Proportions\n"
            "0.600000000000000\n"
            "0.400000000000000\n"
            "\n\n\n");
}

TEST_F(ResultFiles, ClusterLocusAndSampleNumbersWiderThanTheirWidth) {
  for (const int K : {12, 100}) {
    const Vector2D<double> Q(1, std::vector<double>(K, 1.0 / K));
    const Vector3D<double> P(K, Vector2D<double>(1000, std::vector<double>{1.0}));
    const Vector2D<int32_t> V(1000, std::vector<int32_t>{3});
    WriteClusteringReport(Path("TR.txt"), Q, P, V, std::vector<int32_t>(1000, 1),
                          std::vector<double>(K, 1.0 / K));
    const std::vector<std::string> lines = SplitLines(ReadFile(Path("TR.txt")));
    ASSERT_GT(lines.size(), 3u);
    EXPECT_EQ(lines[1], Header(K));
    auto has = [&](const std::string& line) {
      return std::find(lines.begin(), lines.end(), line) != lines.end();
    };
    EXPECT_TRUE(has("Cluster 09") && has("Cluster 12"));
    EXPECT_TRUE(has("Locus 099") && has("Locus 100") && has("Locus 1000"));
    EXPECT_EQ(has("Cluster 100"), K == 100);
  }

  // Sample 1234567 takes its seven digits, no padding. (No cluster columns, to keep the
  // table of 1.2 million rows cheap: only the sample column is looked at here.)
  const Vector2D<double> Q(1234567);
  WriteClusteringReport(Path("TR.txt"), Q, {}, {}, {}, {});
  const std::string text = ReadFile(Path("TR.txt"));
  EXPECT_NE(text.find("\n999999\t\n1000000\t\n"), std::string::npos);
  EXPECT_NE(text.find("\n1234567\t\n\n\n\nEstimated Allele Frequencies\n"), std::string::npos);
}

TEST_F(ResultFiles, AverageLogLikelihoodWindow) {
  struct Case {
    std::vector<double> H;
    int32_t settlingCount;
    const char* text;
  };
  std::vector<double> thousand(1000);
  for (int t = 0; t < 1000; ++t) thousand[t] = -2000.0 + t;
  const double inf = std::numeric_limits<double>::infinity();
  const Case cases[] = {
      // Mean of entries 900..999: -1100 .. -1001, mean -1050.5 (by hand).
      {thousand, 100, "-1050.5\n"},
      // settlingCount 0: the last entry alone, six significant digits.
      {{-1.0, -2.0, -3.0, -4.0, -5.0, -6.0, -7.0, -8.0, -5678.9123}, 0, "-5678.91\n"},
      {{-3.0, -2.0, -1.0, -7.0, -1234567.0}, 0, "-1.23457e+06\n"},
      {{-10.0, -inf}, 0, "-inf\n"},
      // Window of two: (-1 + -2) / 2.
      {{-50.0, -1.0, -2.0}, 2, "-1.5\n"},
  };
  for (const Case& c : cases) {
    const int32_t I = static_cast<int32_t>(c.H.size());
    WriteAverageLogLikelihood(Path("AL.txt"), c.H, c.settlingCount, I);
    EXPECT_EQ(ReadFile(Path("AL.txt")), c.text) << "I = " << I;
  }
}

TEST_F(ResultFiles, ExistingFilesAreReplaced) {
  const std::string old(5000, '#');
  WriteFile(Path("TR.txt"), old);
  WriteFile(Path("AL.txt"), old);
  WriteClusteringReport(Path("TR.txt"), {{1.0}}, {{{1.0}}}, {{3}}, {1}, {1.0});
  WriteAverageLogLikelihood(Path("AL.txt"), {-2.5}, 0, 1);
  EXPECT_EQ(ReadFile(Path("TR.txt")).find('#'), std::string::npos);
  EXPECT_EQ(ReadFile(Path("TR.txt")).rfind("Estimated Clustering", 0), 0u);
  EXPECT_EQ(ReadFile(Path("AL.txt")), "-2.5\n");
}

TEST_F(ResultFiles, FilesThatCannotBeWrittenEndTheRun) {
  const std::string missing = Path("no/such/folder");
  EXPECT_EXIT(WriteClusteringReport(missing + "TR.txt", {{1.0}}, {{{1.0}}}, {{3}}, {1}, {1.0}),
              testing::ExitedWithCode(1),
              "^Cannot open file " + missing + "TR.txt - WriteClusteringReport\n$");
  EXPECT_EXIT(WriteAverageLogLikelihood(missing + "AL.txt", {-1.0}, 0, 1),
              testing::ExitedWithCode(1),
              "^Cannot open file " + missing + "AL.txt - WriteAverageLogLikelihood\n$");
  // A full device opens but takes nothing.
  EXPECT_EXIT(WriteAverageLogLikelihood("/dev/full", {-1.0}, 0, 1), testing::ExitedWithCode(1),
              "^Cannot write file /dev/full - WriteAverageLogLikelihood\n$");
}

TEST_F(ResultFiles, AnalysisOfTheExampleFileWritesBothFiles) {
  // The shipped example: 12 individuals, diploid, 5 loci, a header row and a label column.
  const ProgramResult r =
      RunProgram({"-Dl", "-Fexample.str", "-i" + std::string(EMCLADE_SOURCE_DIR) + "/examples",
                  "-o" + dir_, "-N12", "-A2", "-L5", "-K2", "-I200", "-r1", "-c1"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const std::vector<std::string> out = SplitLines(r.out);
  ASSERT_EQ(out.size(), 3u) << r.out;
  EXPECT_EQ(out[0], "100 Iterations Completed");
  EXPECT_EQ(out[1], "200 Iterations Completed");
  EXPECT_EQ(out[2].rfind("This run takes ", 0), 0u);

  const std::vector<std::string> tr = SplitLines(ReadFile(Path("example.strTR.txt")));
  // 2 + 12 sample lines + 3 + 1, per cluster 1 + 5 loci of (1 + alleles + 1) + 1, then
  // 1 + 1 + 2 + 3; the example has 4 alleles at every locus.
  ASSERT_EQ(tr.size(), 2u + 12 + 3 + 1 + 2 * (1 + 5 * 6 + 1) + 1 + 1 + 2 + 3);
  EXPECT_EQ(tr[1], Header(2));
  for (int n = 0; n < 12; ++n) {
    const std::string& line = tr[2 + n];
    ASSERT_EQ(line.size(), 6u + 2 * 18 + 1) << line;
    EXPECT_EQ(line.substr(0, 7), (n < 9 ? "00000" : "0000") + std::to_string(n + 1) + "\t");
    const double q0 = std::stod(line.substr(7, 17)), q1 = std::stod(line.substr(25, 17));
    EXPECT_NEAR(q0 + q1, 1.0, 1e-12);
  }
  EXPECT_EQ(tr[17], "Estimated Allele Frequencies");
  EXPECT_EQ(tr[18], "Cluster 01");
  EXPECT_EQ(tr[19], "Locus 001");
  EXPECT_EQ(tr[20].substr(0, 11), "Allele 102\t");
  EXPECT_EQ(tr[23].substr(0, 11), "Allele 112\t");
  EXPECT_EQ(tr[tr.size() - 6], "Estimated Mixing Proportions");

  const std::string al = ReadFile(Path("example.strAL.txt"));
  ASSERT_FALSE(al.empty());
  EXPECT_EQ(al.back(), '\n');
  const double average = std::stod(al);
  EXPECT_TRUE(std::isfinite(average) && average < 0.0) << al;
}

TEST_F(ResultFiles, AnalysisIntoMissingFolderFails) {
  const std::string folder = dir_ + "/missing";
  const ProgramResult r =
      RunProgram({"-Dl", "-Fexample.str", "-i" + std::string(EMCLADE_SOURCE_DIR) + "/examples",
                  "-o" + folder, "-N12", "-A2", "-L5", "-K2", "-I20", "-r1", "-c1"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "Cannot write to output folder " + folder + " - RunEstimation\n");
  EXPECT_EQ(r.out, "");
}
