// The pictures of a study: the structure plot read back pixel by pixel (a panel per K, two
// populations wholly in different clusters as two solid groups with a separator, the same
// colour for a cluster at every K, whatever N), the order of the individuals, the files of
// every format made the same twice, the report's links and escapes, and the options through
// the real executable.
#include <cairo.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "charts/base64.h"
#include "charts/cluster_colours.h"
#include "charts/convergence_plot.h"
#include "charts/model_choice_plot.h"
#include "charts/structure_order.h"
#include "charts/structure_plot.h"
#include "charts/study_pictures.h"
#include "run_program.h"
#include "study/study_files.h"

namespace {

struct Image {
  int32_t width = 0, height = 0;
  std::vector<uint32_t> pixels;  // 0xRRGGBB, row by row
  uint32_t At(int32_t x, int32_t y) const { return pixels[size_t(y) * width + x]; }
};

cairo_status_t ReadBytes(void* closure, unsigned char* data, unsigned int length) {
  std::string& rest = *static_cast<std::string*>(closure);
  if (rest.size() < length) return CAIRO_STATUS_READ_ERROR;
  std::copy(rest.begin(), rest.begin() + length, data);
  rest.erase(0, length);
  return CAIRO_STATUS_SUCCESS;
}

Image DecodePng(std::string bytes) {
  Image image;
  cairo_surface_t* s = cairo_image_surface_create_from_png_stream(ReadBytes, &bytes);
  if (cairo_surface_status(s) == CAIRO_STATUS_SUCCESS) {
    image.width = cairo_image_surface_get_width(s);
    image.height = cairo_image_surface_get_height(s);
    const unsigned char* data = cairo_image_surface_get_data(s);
    for (int32_t y = 0; y < image.height; ++y) {
      const auto* row =
          reinterpret_cast<const uint32_t*>(data + size_t(y) * cairo_image_surface_get_stride(s));
      for (int32_t x = 0; x < image.width; ++x) image.pixels.push_back(row[x] & 0xffffff);
    }
  }
  cairo_surface_destroy(s);
  return image;
}

// N individuals in two populations taken in turns ("West" first); at every K the best (and
// only) replicate has every West member wholly in aligned cluster 1 and every East member in
// aligned cluster 2, with the run's own clusters in reverse order, so only the alignment
// brings the colours together.
StudyRecord TwoPopulationStudy(int32_t N, const std::vector<int32_t>& Ks) {
  StudyRecord study;
  study.N = N;
  study.A = 2;
  study.L = 1;
  study.J = {2};
  study.alleleValues = {{1, 2}};
  study.locusNames = {"L1"};
  study.settings.clusterCounts = Ks;
  for (int32_t n = 0; n < N; ++n) {
    study.names.push_back("i" + std::to_string(n + 1));
    study.populations.push_back(n % 2 == 0 ? "West" : "East");
    study.missingShare.push_back(0.0);
  }
  for (int32_t K : Ks) {
    RunRecord run;
    run.K = K;
    run.replicate = 1;
    run.start = "ward";
    run.mode = 1;
    run.similarityToBest = 1.0;
    run.history = {-300.0, -200.0, -150.0 - K};
    run.loglik = run.history.back();
    for (int32_t c = 0; c < K; ++c) run.order.push_back(K - 1 - c);
    run.Q.assign(N, std::vector<double>(K, 0.0));
    for (int32_t n = 0; n < N; ++n) run.Q[n][run.order[n % 2]] = 1.0;
    run.P.assign(K, {{0.5, 0.5}});
    KSummary summary;
    summary.K = K;
    summary.replicates = summary.modes = summary.bestModeSize = 1;
    summary.best = static_cast<int32_t>(study.runs.size());
    summary.chosen = K == 2;
    study.runs.push_back(run);
    study.summaries.push_back(summary);
  }
  study.chosenK = 2;
  return study;
}

// A row as runs of one colour, white left out.
std::vector<std::pair<uint32_t, int32_t>> RowRuns(const Image& image, int32_t y) {
  std::vector<std::pair<uint32_t, int32_t>> runs;
  for (int32_t x = 0; x < image.width; ++x) {
    const uint32_t c = image.At(x, y);
    if (!runs.empty() && runs.back().first == c && image.At(x - 1, y) == c) {
      ++runs.back().second;
    } else if (c != 0xffffff) {
      runs.push_back({c, 1});
    }
  }
  return runs;
}

// The rows through the bars: those with a run of cluster 1's colour of 50 pixels or more,
// grouped into panels of consecutive rows; the middle row of each.
std::vector<int32_t> PanelMiddles(const Image& image) {
  std::vector<int32_t> middles;
  int32_t first = -1;
  for (int32_t y = 0; y <= image.height; ++y) {
    bool bars = false;
    if (y < image.height) {
      for (const auto& run : RowRuns(image, y)) {
        bars = bars || (run.first == ClusterColour(0) && run.second >= 50);
      }
    }
    if (bars && first < 0) first = y;
    if (!bars && first >= 0) {
      middles.push_back((first + y - 1) / 2);
      first = -1;
    }
  }
  return middles;
}

}  // namespace

TEST(StructurePlot, OnePanelPerKTwoSolidGroupsAndOneColourPerCluster) {
  struct Case {
    int32_t N;
    std::vector<int32_t> Ks, plotted;
    int32_t groupPixels;  // by hand from the width rule: 50 px each of 12, 1 of 1000, 5000
  };                      // merged into 1200 columns
  const Case cases[] = {{12, {2, 3, 4}, {}, 300},
                        {1000, {2, 3, 4, 5}, {3, 5}, 500},
                        {5000, {2, 3, 4, 5, 6, 7, 8}, {}, 600}};
  for (const Case& c : cases) {
    SCOPED_TRACE("N = " + std::to_string(c.N));
    StudyRecord study = TwoPopulationStudy(c.N, c.Ks);
    study.settings.plotClusterCounts = c.plotted;
    std::string png;
    ASSERT_TRUE(DrawStructurePlot(study, PlotFormat::kPng, png));
    const Image image = DecodePng(png);
    const std::vector<int32_t> middles = PanelMiddles(image);
    EXPECT_EQ(middles.size(), c.plotted.empty() ? c.Ks.size() : c.plotted.size());
    // Across every panel: the frame, West solid in cluster 1's colour, the separator, East
    // solid in cluster 2's, the frame.
    const std::vector<std::pair<uint32_t, int32_t>> expected = {{0x000000, 1},
                                                                {ClusterColour(0), c.groupPixels},
                                                                {0x000000, 1},
                                                                {ClusterColour(1), c.groupPixels},
                                                                {0x000000, 1}};
    for (int32_t y : middles) {
      const auto runs = RowRuns(image, y);
      // The label "K = ..." stands left of the frame: compare from the frame on.
      ASSERT_GE(runs.size(), expected.size()) << "row " << y;
      EXPECT_EQ(std::vector(runs.end() - expected.size(), runs.end()), expected) << "row " << y;
    }
  }
}

TEST(StructurePlot, EveryPopulationKeepsWholeColumns) {
  // Worked by hand: up to 1,200 individuals ceil(600 / N) pixels each (at most 1200 / N);
  // beyond, 1,200 columns shared in proportion, and never none for a population.
  struct Case {
    std::vector<int32_t> counts;
    int32_t N;
    std::vector<int32_t> pixels;
  };
  const Case cases[] = {{{6, 6}, 12, {300, 300}},
                        {{1, 1, 1}, 3, {200, 200, 200}},
                        {{1000}, 1000, {1000}},
                        {{4999, 1}, 5000, {1200, 1}}};
  for (const Case& c : cases) EXPECT_EQ(GroupPixels(c.counts, c.N), c.pixels) << c.N;
}

TEST(StructurePlot, ColoursStayDistinctBeyondThePalette) {
  std::set<uint32_t> colours;
  for (int32_t c = 0; c < 60; ++c) colours.insert(ClusterColour(c));
  EXPECT_EQ(colours.size(), 60u);
  EXPECT_EQ(colours.count(0xffffff) + colours.count(0x000000) + colours.count(0xeeeeee), 0u);
}

TEST(ConvergencePlot, EveryReplicateInTheColourOfItsMode) {
  // Three replicates at the chosen K = 2, two in mode 1 and one in mode 2; the modes' colours
  // (the palette's 5th and 2nd) show, a third mode's (its 4th) does not.
  StudyRecord study = TwoPopulationStudy(10, {2});
  for (int32_t r = 2; r <= 3; ++r) {
    RunRecord run = study.runs[0];
    run.replicate = r;
    run.mode = r == 3 ? 2 : 1;
    run.history = {-400.0, -250.0 - 20 * r, -220.0 - 20 * r, -210.0 - 20 * r};
    study.runs.push_back(run);
  }
  std::string png;
  ASSERT_TRUE(DrawConvergencePlot(study, PlotFormat::kPng, png));
  const Image image = DecodePng(png);
  auto count = [&image](uint32_t colour) {
    return std::count(image.pixels.begin(), image.pixels.end(), colour);
  };
  EXPECT_GT(count(ClusterColour(4)), 200);
  EXPECT_GT(count(ClusterColour(1)), 100);
  EXPECT_EQ(count(ClusterColour(3)), 0);
}

TEST(StructureOrder, PopulationsInOrderThenMainClusterThenMembership) {
  // Aligned cluster 1's membership of each individual at K = 2 (the run's columns reversed);
  // the main cluster and its membership worked by hand: 0 -> (2, 0.6), 1 -> (1, 0.9),
  // 2 -> (1, 0.7), 3 -> (1, 0.5; a tie goes to the first), 4 -> (2, 0.8), 5 -> (1, 0.8).
  StudyRecord study = TwoPopulationStudy(6, {2});
  const double first[] = {0.4, 0.9, 0.7, 0.5, 0.2, 0.8};
  for (int32_t n = 0; n < 6; ++n) study.runs[0].Q[n] = {1.0 - first[n], first[n]};
  struct Case {
    std::vector<std::string> populations, order;
    std::vector<int32_t> individuals;
    std::vector<std::string> groups;
  };
  const Case cases[] = {
      {{"B", "A", "B", "C", "A", "B"}, {}, {5, 2, 0, 1, 4, 3}, {"B", "A", "C"}},
      {{"B", "A", "B", "C", "A", "B"}, {"C"}, {3, 5, 2, 0, 1, 4}, {"C", "B", "A"}},
      {{}, {}, {1, 5, 2, 3, 4, 0}, {""}},
  };
  for (const Case& c : cases) {
    study.populations = c.populations;
    study.settings.populationOrder = c.order;
    const StructureOrder order = OrderIndividuals(study);
    EXPECT_EQ(order.individuals, c.individuals);
    std::vector<std::string> names;
    int32_t next = 0;
    for (const PopulationGroup& g : order.groups) {
      names.push_back(g.name);
      EXPECT_EQ(g.first, next);
      next += g.count;
    }
    EXPECT_EQ(names, c.groups);
    EXPECT_EQ(next, 6);
  }
}

TEST(StudyPictures, EveryFormatGivesTheSameBytesTwice) {
  const StudyRecord study = TwoPopulationStudy(40, {2, 3});
  for (PlotFormat format : {PlotFormat::kPng, PlotFormat::kSvg, PlotFormat::kPdf}) {
    std::string once, between, twice;
    ASSERT_TRUE(DrawModelChoicePlot(study, format, once));
    ASSERT_TRUE(DrawStructurePlot(study, format, between));  // other surfaces made between
    ASSERT_TRUE(DrawModelChoicePlot(study, format, twice));
    EXPECT_EQ(once, twice) << PlotExtension(format);
    const std::string head = format == PlotFormat::kPng   ? "\x89PNG"
                             : format == PlotFormat::kSvg ? "<?xml"
                                                          : "%PDF-";
    EXPECT_EQ(once.rfind(head, 0), 0u) << PlotExtension(format);
    EXPECT_EQ(once.find("CreationDate"), std::string::npos);
  }
  // RFC 4648's test vectors.
  const char* vectors[][2] = {{"", ""},
                              {"f", "Zg=="},
                              {"fo", "Zm8="},
                              {"foo", "Zm9v"},
                              {"foob", "Zm9vYg=="},
                              {"fooba", "Zm9vYmE="},
                              {"foobar", "Zm9vYmFy"}};
  for (const auto& v : vectors) EXPECT_EQ(EncodeBase64(v[0]), v[1]);
}

TEST(StudyReport, SelfContainedLinksEveryFileAndEscapesNames) {
  StudyRecord study = TwoPopulationStudy(20, {2, 3});
  for (std::string& p : study.populations) {
    if (p == "East") p = "East <b>&</b>";
  }
  const std::string dir = MakeTempDir(), again = MakeTempDir();
  for (const std::string& d : {dir, again}) {
    WriteStudyFiles(study, d);
    WriteStudyPictures(study, d);
  }
  std::set<std::string> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
    if (!entry.is_regular_file()) continue;
    const std::string name = std::filesystem::relative(entry.path(), dir).string();
    // The same record gives the same files.
    EXPECT_EQ(ReadFile(entry.path()), ReadFile(again + "/" + name)) << name;
    if (name != "report.html") files.insert(name);
  }
  const std::string html = ReadFile(dir + "/report.html");
  std::set<std::string> linked;
  for (size_t at = html.find("href=\""); at != std::string::npos;
       at = html.find("href=\"", at + 1)) {
    const std::string target = html.substr(at + 6, html.find('"', at + 6) - at - 6);
    if (target[0] != '#') linked.insert(target);
  }
  EXPECT_EQ(linked, files);
  for (const std::string& name : StudyFileNames(study)) EXPECT_EQ(files.count(name), 1u) << name;
  // Nothing loaded from anywhere, no script; the plots inside, as the files hold them.
  for (const char* absent : {"<script", "http:", "https:", "East <b>", "/tmp"}) {
    EXPECT_EQ(html.find(absent), std::string::npos) << absent;
  }
  EXPECT_NE(html.find("East &lt;b&gt;&amp;&lt;/b&gt;"), std::string::npos);
  for (const char* plot : {"structure", "model_choice", "convergence"}) {
    const std::string png = ReadFile(dir + "/plots/" + plot + ".png");
    EXPECT_NE(html.find("data:image/png;base64," + EncodeBase64(png) + "\""), std::string::npos)
        << plot;
  }
  EXPECT_NE(html.find("<tr class=\"chosen\"><td>2</td>"), std::string::npos);
}

TEST(SweepPictureOptions, ThroughTheProgram) {
  const std::string dir = MakeTempDir();
  // Two label columns (name, population), one row per copy.
  std::string text;
  for (int32_t n = 0; n < 12; ++n) {
    for (int32_t a = 0; a < 2; ++a) {
      text += "ind" + std::to_string(n) + " " + (n < 6 ? "Hill" : "Vale") + " " +
              std::to_string(n < 6 ? 100 + a : 200 + a) + " " + std::to_string(n < 6 ? 7 : 9) +
              "\n";
    }
  }
  WriteFile(dir + "/s.str", text);
  WriteFile(dir + "/order.txt", "Vale\n\nHill\n");
  WriteFile(dir + "/unknown.txt", "Vale\nHills\n");
  WriteFile(dir + "/twice.txt", "Vale\nVale\n");
  WriteFile(dir + "/plain.txt", "1 2 1\n2 2 1\n1 1 3\n1 1 1\n2 1 2\n1 2 1\n");  // no names
  struct Case {
    std::vector<std::string> args;
    const char* says;  // "" for a success
  };
  const std::string order = dir + "/order.txt";
  const Case cases[] = {
      {{"--plot-format", "gif"}, "--plot-format: expected png, svg or pdf, got \"gif\""},
      {{"--plot-k", "4"}, "--plot-k: expected K of the sweep (--k 1-3), got 4"},
      {{"--plot-k", "x"}, "--plot-k: expected a K"},
      {{"--k", "1-400"}, "--k: 400 K asked for, and the structure plot draws at most 300"},
      {{"--population-order", dir + "/none.txt"}, "none.txt"},
      {{"--population-order", dir + "/unknown.txt"},
       "unknown.txt: line 2: expected a population of the input (Hill, Vale), found \"Hills\""},
      {{"--population-order", dir + "/twice.txt"},
       "twice.txt: line 2: expected each population once, found \"Vale\" again (first on line 1)"},
      {{"plain.txt", "--population-order", order}, "expected an input with populations"},
      {{"--population-order", order, "--plot-format", "pdf", "--plot-k", "2,3"}, ""},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = c.args;
    if (args[0] != "plain.txt") {
      args.insert(args.begin(), {"s.str", "--label-columns", "2", "--population-column", "2"});
    }
    if (std::find(args.begin(), args.end(), "--k") == args.end())
      args.insert(args.end(), {"--k", "1-3"});
    args.insert(args.end(), {"--quiet", "--out", dir + "/out"});
    const ProgramResult r = RunProgram(args, dir, 60.0, EMCLADE_SWEEP_EXE);
    if (*c.says == '\0') {
      EXPECT_EQ(r.exitCode, 0) << r.err;
      continue;
    }
    EXPECT_EQ(r.exitCode, 1) << c.says;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    EXPECT_EQ(r.err.rfind("emclade-sweep: ", 0), 0u) << r.err;
  }
  for (const char* plot : {"structure", "model_choice", "convergence"}) {
    EXPECT_EQ(ReadFile(dir + "/out/plots/" + plot + ".pdf").rfind("%PDF-", 0), 0u) << plot;
  }
  EXPECT_NE(ReadFile(dir + "/out/report.html").find("href=\"plots/structure.pdf\""),
            std::string::npos);
  const ProgramResult help = RunProgram({"--help"}, "", 30.0, EMCLADE_SWEEP_EXE);
  for (const char* option : {"--plot-k", "--plot-format", "--population-order"}) {
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
  }
}
