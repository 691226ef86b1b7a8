// The study command's files and its command line: every file's layout against a study worked
// by hand, and the program as a user runs it (options, errors, the files of a real sweep).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "fuzz/in_process_run.h"
#include "run_program.h"
#include "study/progress.h"
#include "study/study_files.h"
#include "sweep_data.h"

namespace {

RunRecord MakeRun(int32_t K, int32_t r, uint32_t seed, double loglik, Vector2D<double> Q,
                  Vector3D<double> P, std::vector<int32_t> order, int32_t mode) {
  RunRecord run;
  run.K = K;
  run.replicate = r;
  run.seed = seed;
  run.start = "ward";
  run.iterations = 3 + r;
  run.converged = r == 1;
  run.loglik = loglik;
  run.seconds = 0.25 * r;
  run.Q = std::move(Q);
  run.P = std::move(P);
  run.order = std::move(order);
  run.mode = mode;
  return run;
}

// Three individuals, two loci (alleles 10, 12 and 1, 5, 7), K = 1 once and K = 2 twice.
StudyRecord HandStudy() {
  StudyRecord s;
  s.N = 3;
  s.A = 2;
  s.L = 2;
  s.J = {2, 3};
  s.alleleValues = {{10, 12}, {1, 5, 7}};
  s.names = {"a", "b", "c"};
  s.populations = {"North 1", "South", "North 1"};
  s.locusNames = {"L1", "L2"};
  s.missingShare = {0.0, 0.25, 0.5};
  const Vector2D<double> one(3, std::vector<double>(1, 1.0));
  s.runs.push_back(MakeRun(1, 1, 11, -10.5, one, {{{0.5, 0.5}, {0.2, 0.3, 0.5}}}, {0}, 1));
  s.runs.push_back(MakeRun(2, 1, 22, -8.0, {{0.9, 0.1}, {0.2, 0.8}, {0.5, 0.5}},
                           {{{1.0, 0.0}, {0.0, 0.0, 1.0}}, {{0.25, 0.75}, {0.1, 0.2, 0.7}}}, {1, 0},
                           1));
  s.runs.push_back(MakeRun(2, 2, 33, -9.0, {{1.0, 0.0}, {0.0, 1.0}, {0.3, 0.7}},
                           {{{0.5, 0.5}, {0.2, 0.3, 0.5}}, {{0.5, 0.5}, {0.2, 0.3, 0.5}}}, {0, 1},
                           2));
  KSummary k1{1, 1, 1, 0, -10.5, -10.5, NAN, 3, 27.0, 30.0, 31.0, NAN, 1, 1, false, {}, NAN};
  KSummary k2{2, 2, 1, 1, -8.0, -8.5, 0.707107, 7, 30.0, 40.0, 42.5, INFINITY, 2, 1, true, {}, NAN};
  k2.Qse = {{0.0123456, 0.5}, {0.0, 1e-7}, {0.25, NAN}};  // a bootstrap's, aligned order
  k2.qSeMean = 0.125;
  s.summaries = {k1, k2};
  s.chosenK = 2;
  return s;
}

std::vector<std::string> Fields(const std::string& line, char separator) {
  std::vector<std::string> fields;
  std::stringstream in(line);
  for (std::string field; std::getline(in, field, separator);) fields.push_back(field);
  return fields;
}

const std::string kSweep = EMCLADE_SWEEP_EXE;

}  // namespace

TEST(StudyFiles, EveryLayoutOfAStudyWorkedByHand) {
  const std::string dir = ScratchDir() + "/hand";
  WriteStudyFiles(HandStudy(), dir);
  struct Expected {
    const char* file;
    const char* text;
  };
  // Written out from the layouts: aligned column c of a run is its cluster order[c].
  const Expected expected[] = {
      {"summary.tsv",
       "K\treplicates\tconverged\tloglik_best\tloglik_mean\tloglik_sd\tparameters\tAIC\tBIC\tICL\t"
       "deltaK\tmodes\tbest_mode_size\tchosen\tmodel\tcv_error\tcv_se\tq_se_mean\n"
       "1\t1\t1\t-10.500000\t-10.500000\tNA\t3\t27.000000\t30.000000\t31.000000\tNA\t1\t1\tno\t"
       "mixture\tNA\tNA\tNA\n"
       "2\t2\t1\t-8.000000\t-8.500000\t0.707107\t7\t30.000000\t40.000000\t42.500000\tinf\t2\t1\t"
       "yes\tmixture\tNA\tNA\t0.125000\n"},
      {"best/K2.Q_se", "0.012346 0.500000\n0.000000 0.000000\n0.250000 NA\n"},
      {"runs.tsv",
       "K\treplicate\tseed\tstart\titerations\tconverged\tloglik\tseconds\tmode\tacceleration\tmode"
       "l\n"
       "1\t1\t11\tward\t4\tyes\t-10.500000\t0.250\t1\tsquarem\tmixture\n"
       "2\t1\t22\tward\t4\tyes\t-8.000000\t0.250\t1\tsquarem\tmixture\n"
       "2\t2\t33\tward\t5\tno\t-9.000000\t0.500\t2\tsquarem\tmixture\n"},
      {"Q/K1.r1.Q", "1.000000\n1.000000\n1.000000\n"},
      {"Q/K2.r1.Q", "0.100000 0.900000\n0.800000 0.200000\n0.500000 0.500000\n"},
      {"Q/K2.r2.Q", "1.000000 0.000000\n0.000000 1.000000\n0.300000 0.700000\n"},
      {"best/K2.Q", "0.100000 0.900000\n0.800000 0.200000\n0.500000 0.500000\n"},
      {"best/K2.P",
       "L1 10 0.250000 1.000000\nL1 12 0.750000 0.000000\nL2 1 0.100000 0.000000\n"
       "L2 5 0.200000 0.000000\nL2 7 0.700000 1.000000\n"},
      {"best/K1.P",
       "L1 10 0.500000\nL1 12 0.500000\nL2 1 0.200000\nL2 5 0.300000\nL2 7 0.500000\n"},
      // Entropies -sum q ln q worked in Python; c's tie goes to the first cluster.
      {"individuals.tsv",
       "name\tpopulation\tcluster\tprobability\tentropy\n"
       "a\tNorth 1\t2\t0.900000\t0.325083\nb\tSouth\t1\t0.800000\t0.500402\n"
       "c\tNorth 1\t1\t0.500000\t0.693147\n"},
      // pong: run ID (a letter first), K, the Q file relative to the filemap's folder.
      {"pong/filemap.txt", "K1r1\t1\t../Q/K1.r1.Q\nK2r1\t2\t../Q/K2.r1.Q\nK2r2\t2\t../Q/K2.r2.Q\n"},
      {"pong/ind2pop.txt", "North_1\nSouth\nNorth_1\n"},
      // CLUMPP: "number label (missing %) population : q..." per individual, runs apart by one
      // empty line.
      {"clumpp/K2.indfile",
       "1 1 (0) 1 : 0.100000 0.900000\n2 2 (25) 2 : 0.800000 0.200000\n"
       "3 3 (50) 1 : 0.500000 0.500000\n\n1 1 (0) 1 : 1.000000 0.000000\n"
       "2 2 (25) 2 : 0.000000 1.000000\n3 3 (50) 1 : 0.300000 0.700000\n"},
  };
  for (const Expected& e : expected) EXPECT_EQ(ReadFile(dir + "/" + e.file), e.text) << e.file;
  const std::string parameters = ReadFile(dir + "/clumpp/K2.paramfile");
  for (const char* line : {"DATATYPE 0\n", "INDFILE K2.indfile\n", "K 2\n", "C 3\n", "R 2\n"}) {
    EXPECT_NE(parameters.find(line), std::string::npos) << line;
  }

  // Biallelic data: one row per locus, the first allele's frequency in every cluster; without
  // populations no ind2pop file and no population column.
  StudyRecord biallelic = HandStudy();
  biallelic.J = {2, 1};
  biallelic.alleleValues = {{10, 12}, {5}};
  biallelic.populations.clear();
  for (RunRecord& run : biallelic.runs) {
    for (auto& cluster : run.P) cluster[1] = {1.0};
  }
  const std::string two = ScratchDir() + "/biallelic";
  WriteStudyFiles(biallelic, two);
  EXPECT_EQ(ReadFile(two + "/best/K2.P"), "0.250000 1.000000\n1.000000 1.000000\n");
  EXPECT_FALSE(FileExists(two + "/pong/ind2pop.txt"));
  EXPECT_EQ(SplitLines(ReadFile(two + "/individuals.tsv"))[0],
            "name\tcluster\tprobability\tentropy");
}

TEST(SweepProgram, HelpVersionAndErrors) {
  const ProgramResult help = RunProgram({"--help"}, "", 30.0, kSweep);
  EXPECT_EQ(help.exitCode, 0);
  for (const char* option : {"--k", "--replicates", "--seed", "--threads", "--start",
                             "--max-iterations", "--tolerance", "--acceleration", "--stop", "--out",
                             "--header-rows", "--label-columns", "--population-column", "--ploidy",
                             "--one-row-per-individual", "--populations", "--version"}) {
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
  }
  const ProgramResult version = RunProgram({"--version"}, "", 30.0, kSweep);
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out.rfind("emclade-sweep ", 0), 0u) << version.out;

  const std::string dir = MakeTempDir();
  WriteFile(dir + "/x.txt", "1 2 1\n2 2 1\n1 1 3\n1 1 1\n2 1 2\n1 2 1\n");  // 3 individuals
  WriteFile(dir + "/file", "");
  struct Case {
    std::vector<std::string> args;
    const char* says;
  };
  const Case cases[] = {
      {{}, "INPUT is required"},
      {{dir + "/x.txt", "--k", "5-2"}, "--k: the range \"5-2\" runs backwards"},
      {{dir + "/x.txt", "--k", "two"}, "--k: expected a K"},
      {{dir + "/x.txt", "--start", "median"},
       "--start: expected one of ward-anneal|kmeans|ward|random|dirichlet"},
      {{dir + "/x.txt", "--replicates", "0"}, "--replicates"},
      {{dir + "/x.txt", "--threads", "0"}, "--threads"},
      {{dir + "/x.txt", "--tolerance", "-1"}, "--tolerance"},
      {{dir + "/x.txt", "--acceleration", "daarem"},
       "--acceleration: expected squarem or none, got \"daarem\""},
      {{dir + "/x.txt", "--stop", "relative"},
       "--stop: expected absolute or per-copy, got \"relative\""},
      {{dir + "/x.txt", "--bogus"}, "--bogus"},
      {{dir + "/missing.txt"}, "missing.txt"},
      {{dir + "/x.txt", "--k", "2-4", "--out", dir + "/o"},
       "--k asks for K = 4 but the file holds 3"},
      {{dir + "/x.txt", "--k", "2", "--out", dir + "/file"}, "--out names a file, not a folder"},
  };
  for (const Case& c : cases) {
    const ProgramResult r = RunProgram(c.args, dir, 30.0, kSweep);
    std::string all;
    for (const std::string& a : c.args) all += a + " ";
    EXPECT_EQ(r.exitCode, 1) << all;
    const std::vector<std::string> lines = SplitLines(r.err);
    ASSERT_FALSE(lines.empty()) << all;
    const std::string& last = lines.back();
    EXPECT_EQ(last.rfind("emclade-sweep: ", 0), 0u) << last;
    EXPECT_NE(last.find(c.says), std::string::npos) << all << "\n" << last;
  }
}

TEST(SweepProgram, FilesOfARealSweep) {
  // Default folder: INPUT's stem + ".sweep" in the current folder.
  std::vector<int32_t> truth;
  const StudyData data = SimulatedStudy(4, 50, 2, 6, 5, 2, truth);
  const std::string dir = MakeTempDir();
  WritePlainStudy(data, dir + "/study.txt");
  const ProgramResult r = RunProgram(
      {"study.txt", "--k", "1-3", "--replicates", "3", "--threads", "2"}, dir, 60.0, kSweep);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("results in study.sweep/"), std::string::npos) << r.out;
  const std::string out = dir + "/study.sweep";

  const std::vector<std::string> summary = SplitLines(ReadFile(out + "/summary.tsv"));
  ASSERT_EQ(summary.size(), 4u);
  EXPECT_EQ(Fields(summary[0], '\t').size(), 18u);
  int chosen = 0;
  for (size_t i = 1; i < summary.size(); ++i) {
    const auto f = Fields(summary[i], '\t');
    ASSERT_EQ(f.size(), 18u);
    EXPECT_EQ(f[0], std::to_string(i));
    chosen += f[13] == "yes";
    EXPECT_EQ(f[15], "NA");  // q_se_mean: no --bootstrap
  }
  EXPECT_EQ(chosen, 1);

  const std::vector<std::string> runs = SplitLines(ReadFile(out + "/runs.tsv"));
  ASSERT_EQ(runs.size(), 10u);
  for (size_t i = 1; i < runs.size(); ++i) {
    const auto f = Fields(runs[i], '\t');
    ASSERT_EQ(f.size(), 11u);
    EXPECT_EQ(f[9], "squarem");
    const int64_t seed = std::stoll(f[2]);
    EXPECT_GE(seed, 1);
    EXPECT_LE(seed, 2147483647);
    EXPECT_TRUE(f[5] == "yes" || f[5] == "no");
    const int32_t K = std::stoi(f[0]);
    const std::string q = out + "/Q/K" + f[0] + ".r" + f[1] + ".Q";
    const std::vector<std::string> rows = SplitLines(ReadFile(q));
    ASSERT_EQ(rows.size(), 50u) << q;
    for (const std::string& row : rows) {
      const auto values = Fields(row, ' ');
      ASSERT_EQ(values.size(), static_cast<size_t>(K)) << row;
      double sum = 0.0;
      for (const std::string& v : values) sum += std::stod(v);
      EXPECT_NEAR(sum, 1.0, 1e-6) << row;
    }
  }
  for (int32_t K = 1; K <= 3; ++K) {
    const std::string best = out + "/best/K" + std::to_string(K);
    EXPECT_EQ(SplitLines(ReadFile(best + ".Q")).size(), 50u);
    // Five alleles a locus: one row per locus and allele, name and value in front.
    const std::vector<std::string> P = SplitLines(ReadFile(best + ".P"));
    EXPECT_GE(P.size(), 6u);
    for (const std::string& row : P) EXPECT_EQ(Fields(row, ' ').size(), static_cast<size_t>(K + 2));
    // CLUMPP: three runs of 50 lines, an empty line between.
    const std::vector<std::string> ind =
        SplitLines(ReadFile(out + "/clumpp/K" + std::to_string(K) + ".indfile"));
    ASSERT_EQ(ind.size(), 3u * 50 + 2);
    EXPECT_EQ(ind[50], "");
    EXPECT_EQ(ind[0].rfind("1 1 (0) 1 : ", 0), 0u) << ind[0];
  }
  // pong's map names every run once, with paths that resolve from its folder.
  const std::vector<std::string> map = SplitLines(ReadFile(out + "/pong/filemap.txt"));
  ASSERT_EQ(map.size(), 9u);
  for (const std::string& line : map) {
    const auto f = Fields(line, '\t');
    ASSERT_EQ(f.size(), 3u);
    EXPECT_TRUE(std::isalpha(static_cast<unsigned char>(f[0][0])));
    EXPECT_TRUE(FileExists(out + "/pong/" + f[2])) << f[2];
  }
  EXPECT_EQ(SplitLines(ReadFile(out + "/individuals.tsv")).size(), 51u);
}

TEST(SweepProgress, OneLineRewrittenOnATerminalOneLinePerKOtherwise) {
  std::vector<RunRecord> runs;
  for (int32_t K : {2, 3}) {
    for (int32_t r = 1; r <= 2; ++r) {
      RunRecord run;
      run.K = K;
      run.replicate = r;
      run.converged = r == 1;
      run.loglik = -100.0 * K - r;
      runs.push_back(run);
    }
  }
  // Off a terminal: a K is reported when its last run is done.
  const InProcessResult plain = RunInProcess([&]() {
    SweepProgress progress;
    BeginProgress(progress, runs, false);
    for (int i : {2, 0, 3, 1}) CountFinishedRun(progress, runs[i]);
    EndProgress(progress);
  });
  const std::vector<std::string> lines = SplitLines(plain.err);
  ASSERT_EQ(lines.size(), 2u) << plain.err;
  EXPECT_EQ(lines[0].rfind("emclade-sweep: K 3 done (1 converged), best log-likelihood -301.000; "
                           "3/4 runs, ",
                           0),
            0u)
      << lines[0];
  EXPECT_EQ(lines[1].rfind("emclade-sweep: K 2 done (1 converged), best log-likelihood -201.000; "
                           "4/4 runs, ",
                           0),
            0u)
      << lines[1];
  // On a terminal: one line, rewritten after a carriage return, with the time left while runs
  // remain, and ended by one line end.
  const InProcessResult terminal = RunInProcess([&]() {
    SweepProgress progress;
    BeginProgress(progress, runs, true);
    CountFinishedRun(progress, runs[0]);
    CountFinishedRun(progress, runs[1]);
    EndProgress(progress);
  });
  EXPECT_EQ(terminal.err.rfind("\remclade-sweep: 1/4 runs, ", 0), 0u) << terminal.err;
  EXPECT_NE(terminal.err.find(" left\x1b[K\remclade-sweep: 2/4 runs, "), std::string::npos);
  EXPECT_EQ(std::count(terminal.err.begin(), terminal.err.end(), '\n'), 1);
  EXPECT_EQ(FormatDuration(75.4), "1 min 15 s");
  EXPECT_EQ(FormatDuration(7380.0), "2 h 03 min");
}
