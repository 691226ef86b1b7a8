// The two charts read back from their PNG files: image sizes, the colours a person sees
// (background, title band, plot area, line), the heights of the stacked bar segments, the
// range test and the write failure of the log-likelihood chart, and the label rules.
#include <cairo.h>
#include <gsl/gsl_rng.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "charts/chart.h"
#include "charts/plot_ap.h"
#include "charts/plot_lh.h"
#include "run_program.h"

namespace {

constexpr uint32_t kBackground = 0xffffcc, kTitleBand = 0x804020, kWhite = 0xffffff;

struct Image {
  int32_t width = 0, height = 0;
  std::vector<uint32_t> pixels;  // 0xRRGGBB, row by row
  uint32_t At(int32_t x, int32_t y) const { return pixels[size_t(y) * width + x]; }
};

Image ReadPng(const std::string& path) {
  Image image;
  cairo_surface_t* s = cairo_image_surface_create_from_png(path.c_str());
  if (cairo_surface_status(s) == CAIRO_STATUS_SUCCESS) {
    cairo_surface_flush(s);
    image.width = cairo_image_surface_get_width(s);
    image.height = cairo_image_surface_get_height(s);
    const int stride = cairo_image_surface_get_stride(s);
    const unsigned char* data = cairo_image_surface_get_data(s);
    image.pixels.reserve(size_t(image.width) * image.height);
    for (int32_t y = 0; y < image.height; ++y) {
      const uint32_t* row = reinterpret_cast<const uint32_t*>(data + size_t(y) * stride);
      for (int32_t x = 0; x < image.width; ++x) image.pixels.push_back(row[x] & 0xffffff);
    }
  }
  cairo_surface_destroy(s);
  return image;
}

int32_t CountColour(const Image& image, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                    uint32_t colour) {
  int32_t count = 0;
  for (int32_t y = y0; y < y1; ++y)
    for (int32_t x = x0; x < x1; ++x) count += image.At(x, y) == colour;
  return count;
}

// Rows normalised to sum to 1, drawn from a seeded generator.
Vector2D<double> RandomProbabilities(int32_t N, int32_t K, unsigned long seed) {
  gsl_rng* g = gsl_rng_alloc(gsl_rng_mt19937);
  gsl_rng_set(g, seed);
  Vector2D<double> Q;
  InitVctr2D(Q, N, K, 0.0);
  for (auto& row : Q) {
    double sum = 0.0;
    for (double& q : row) sum += (q = std::pow(gsl_rng_uniform(g), 3.0));
    for (double& q : row) q /= sum;
  }
  gsl_rng_free(g);
  return Q;
}

// Bar i of the chart: the pixel column through its middle, from the top of the plot area
// (row 50) to its bottom (row 549), must hold segment k in the colour of cluster k, from
// the bottom up, Q[i][k]/sum(Q[i]) of 500 pixels to within one pixel.
void ExpectBarSegments(const Image& image, const Vector2D<double>& Q, int32_t i) {
  const int32_t K = static_cast<int32_t>(Q[0].size());
  const double slot = APPlotWidth(static_cast<int32_t>(Q.size())) / double(Q.size());
  const int32_t x = static_cast<int32_t>(50 + (i + 0.5) * slot);
  std::vector<uint32_t> column;  // bottom row first
  for (int32_t y = 549; y >= 50; --y) column.push_back(image.At(x, y));
  double total = 0.0;
  for (double q : Q[i]) total += q;
  size_t row = 0;
  for (int32_t k = 0; k < K; ++k) {
    const auto height = std::count(column.begin(), column.end(), AutoColour(k));
    EXPECT_NEAR(height, Q[i][k] / total * 500.0, 1.0) << "bar " << i << " segment " << k;
    // Segments are contiguous and in cluster order from the bottom.
    ASSERT_LE(row + height, column.size());
    EXPECT_EQ(std::count(column.begin() + row, column.begin() + row + height, AutoColour(k)),
              height)
        << "bar " << i << " segment " << k;
    row += height;
  }
  EXPECT_EQ(row, 500u) << "bar " << i;
}

class Charts : public testing::Test {
 protected:
  void SetUp() override { dir_ = MakeTempDir(); }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  std::string dir_;
};

// A history that rises and flattens, as EM's does.
std::vector<double> RisingHistory(int32_t count) {
  std::vector<double> history(count);
  for (int32_t i = 0; i < count; ++i) history[i] = -5000.0 + 2000.0 * (1.0 - std::exp(-i / 20.0));
  return history;
}

}  // namespace

TEST_F(Charts, LogLikelihoodChartAsSeen) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(PlotLH(RisingHistory(200), Path("LH.png")), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  const Image image = ReadPng(Path("LH.png"));
  ASSERT_EQ(image.width, 900);
  ASSERT_EQ(image.height, 600);
  EXPECT_EQ(image.At(4, 595), kBackground);    // bottom-left corner, inside the edge
  EXPECT_EQ(image.At(895, 595), kBackground);  // bottom-right corner
  EXPECT_EQ(image.At(0, 0), 0x000000u);        // the chart's edge
  EXPECT_EQ(image.At(4, 10), kTitleBand);
  EXPECT_EQ(image.At(895, 10), kTitleBand);
  // White title text on the band.
  EXPECT_GT(CountColour(image, 300, 2, 600, 28, kWhite), 100);
  // The plot area is white but for the grid and the line, which is drawn in the first
  // automatic colour and stays inside the plot area.
  const int32_t white = CountColour(image, 50, 50, 850, 550, kWhite);
  EXPECT_GT(white, 800 * 500 * 9 / 10);
  EXPECT_GT(CountColour(image, 50, 50, 850, 550, AutoColour(0)), 800);
  EXPECT_EQ(CountColour(image, 0, 0, 900, 48, AutoColour(0)), 0);
  EXPECT_EQ(CountColour(image, 0, 552, 900, 600, AutoColour(0)), 0);
}

TEST_F(Charts, LogLikelihoodRangeTest) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double belowLimit = std::nextafter(-1e300, -inf);
  struct Case {
    std::vector<double> history;
    int result;
  };
  const std::vector<Case> cases = {
      {{-inf, -10, -5}, -1},
      {{-10, -inf, -5}, -1},
      {{-10, -5, -inf}, -1},
      {{-10, belowLimit}, -1},
      {{-1e300, -10, -5}, 0},  // exactly -1e300 passes
      {{-10, nan, -5}, 0},     // a degenerate history is still drawn
      {{nan, nan}, 0},
      {{-10, inf, -5}, 0},
      {{-7}, 0},
      {{}, 0},
  };
  for (size_t c = 0; c < cases.size(); ++c) {
    const std::string path = Path("LH" + std::to_string(c) + ".png");
    testing::internal::CaptureStderr();
    EXPECT_EQ(PlotLH(cases[c].history, path), cases[c].result) << "case " << c;
    const std::string err = testing::internal::GetCapturedStderr();
    if (cases[c].result == -1) {
      EXPECT_EQ(err, "Data Out Of Range, No Chart Plotted - PlotLH\n") << "case " << c;
      EXPECT_FALSE(FileExists(path)) << "case " << c;
    } else {
      EXPECT_EQ(err, "") << "case " << c;
      const Image image = ReadPng(path);
      EXPECT_EQ(image.width, 900) << "case " << c;
      EXPECT_EQ(image.height, 600) << "case " << c;
    }
  }
}

TEST_F(Charts, UnwritableFileWarnsAndGoesOn) {
  const std::string path = Path("no-such-folder/out.png");
  testing::internal::CaptureStderr();
  EXPECT_EQ(PlotLH(RisingHistory(20), path), 0);
  EXPECT_EQ(PlotAP(RandomProbabilities(5, 2, 1), path), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Unable to make chart - PlotLH\nUnable to make chart - PlotAP\n");
  EXPECT_FALSE(FileExists(path));

  // Through a whole run: a chart that cannot be written is a warning; the run still writes
  // its other results and ends with exit code 0.
  const std::string out = Path("run");
  ASSERT_EQ(mkdir(out.c_str(), 0755), 0);
  ASSERT_EQ(mkdir((out + "/example.strAP.png").c_str(), 0755), 0);  // a folder in the way
  const ProgramResult r =
      RunProgram({"-Dl", "-Fexample.str", "-i" + std::string(EMCLADE_SOURCE_DIR) + "/examples",
                  "-o" + out, "-N12", "-A2", "-L5", "-K2", "-I20", "-r1", "-c1"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.err, "Unable to make chart - PlotAP\n");
  EXPECT_TRUE(FileExists(out + "/example.strTR.txt"));
  EXPECT_TRUE(FileExists(out + "/example.strLH.png"));
  EXPECT_TRUE(FileExists(out + "/example.strAL.txt"));
}

TEST(LogLikelihoodChart, LabelStepIsATenthOfTheCount) {
  struct Case {
    int32_t count, step;
  };
  // count / 10 in integer division; below 10 entries the step stays unset (0).
  for (const Case c : {Case{1000, 100}, Case{25, 2}, Case{10, 1}, Case{9, 0}, Case{1, 0},
                       Case{0, 0}, Case{99999, 9999}}) {
    const XYChart chart = BuildLHChart(std::vector<double>(c.count, -1.0));
    EXPECT_EQ(chart.xAxis.labelStep, c.step) << c.count;
    if (c.step > 0) {
      EXPECT_EQ(chart.xAxis.minorStep, 0);
      EXPECT_EQ(chart.xAxis.labelOffset, 0);
      EXPECT_EQ(chart.xAxis.minorOffset, -2147483647);
    }
    ASSERT_EQ(chart.xAxis.labelValues.size(), size_t(c.count));
    for (int32_t i = 0; i < c.count; ++i) ASSERT_EQ(chart.xAxis.labelValues[i], i + 1.0);
    EXPECT_EQ(chart.xAxis.labelFormat, "{value|0}");
  }
}

TEST(AssignmentChart, SizeIsThirtyPixelsASampleUntilTheImageLimit) {
  struct Case {
    int32_t N, width, plotWidth;
  };
  // 30 N + 100 while that is at most 32767 (N <= 1088); beyond, the widest image with
  // the plot area shared evenly among the samples.
  for (const Case c :
       {Case{1, 130, 30}, Case{150, 4600, 4500}, Case{1088, 32740, 32640}, Case{1089, 32767, 32667},
        Case{5000, 32767, 32667}, Case{100000, 32767, 32667}}) {
    const XYChart chart = BuildAPChart(Vector2D<double>(c.N, std::vector<double>{1.0}));
    EXPECT_EQ(chart.width, c.width) << c.N;
    EXPECT_EQ(chart.height, 600);
    EXPECT_EQ(chart.plotArea.width, c.plotWidth) << c.N;
    EXPECT_EQ(chart.plotArea.x, 50);
    EXPECT_EQ(chart.plotArea.height, 500);
  }
}

TEST_F(Charts, AssignmentChartAsSeen) {
  for (const int32_t N : {1, 150}) {
    const std::string path = Path("AP" + std::to_string(N) + ".png");
    const Vector2D<double> Q = RandomProbabilities(N, 1, 3);  // K = 1: full-height bars
    testing::internal::CaptureStderr();
    EXPECT_EQ(PlotAP(Q, path), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    const Image image = ReadPng(path);
    ASSERT_EQ(image.width, 30 * N + 100);
    ASSERT_EQ(image.height, 600);
    EXPECT_EQ(image.At(4, 595), kBackground);
    EXPECT_EQ(image.At(image.width - 5, 595), kBackground);
    EXPECT_EQ(image.At(4, 10), kTitleBand);
    EXPECT_GT(CountColour(image, 0, 2, image.width, 28, kWhite), 50);
    for (int32_t i = 0; i < N; ++i) {
      ExpectBarSegments(image, Q, i);
      // Between two bars the plot area shows white.
      EXPECT_EQ(image.At(50 + 30 * i + 1, 325), kWhite);
    }
  }
}

TEST_F(Charts, AssignmentBarSegmentsMatchProbabilities) {
  // Known rows: exact shares, empty segments at either end, a row that does not sum to 1
  // (the stacking scales each bar to the full height).
  const Vector2D<double> known = {{0.2, 0.3, 0.5},
                                  {1.0, 0.0, 0.0},
                                  {0.0, 0.0, 1.0},
                                  {0.01, 0.98, 0.01},
                                  {1 / 3.0, 1 / 3.0, 1 / 3.0},
                                  {0.5, 0.0, 0.5},
                                  {2.0, 1.0, 1.0}};
  const std::vector<Vector2D<double>> charts = {known, RandomProbabilities(150, 5, 11),
                                                RandomProbabilities(2000, 3, 12)};
  for (size_t c = 0; c < charts.size(); ++c) {
    const Vector2D<double>& Q = charts[c];
    const std::string path = Path("AP" + std::to_string(c) + ".png");
    PlotAP(Q, path);
    const Image image = ReadPng(path);
    ASSERT_EQ(image.width, APPlotWidth(static_cast<int32_t>(Q.size())) + 100);
    for (int32_t i = 0; i < static_cast<int32_t>(Q.size()); ++i) ExpectBarSegments(image, Q, i);
  }
}

TEST_F(Charts, DegenerateProbabilitiesStillDraw) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const Vector2D<double> Q = {{nan, nan}, {0.0, 0.0}, {0.5, nan}, {-1.0, 1.0}};
  ASSERT_EQ(PlotAP(Q, Path("AP.png")), 0);
  const Image image = ReadPng(Path("AP.png"));
  ASSERT_EQ(image.width, 220);
  // Bars without a positive total are left out; NaN and negative values count as 0.
  for (const int32_t x : {65, 95})
    EXPECT_EQ(CountColour(image, x, 50, x + 1, 550, AutoColour(0)) +
                  CountColour(image, x, 50, x + 1, 550, AutoColour(1)),
              0);
  EXPECT_EQ(CountColour(image, 125, 50, 126, 550, AutoColour(0)), 500);
  EXPECT_EQ(CountColour(image, 155, 50, 156, 550, AutoColour(1)), 500);
}

TEST(ChartLabels, Templates) {
  struct Case {
    const char* format;
    double value;
    const char* text;
  };
  for (const Case c :
       {Case{"{value|0}", 7, "7"}, Case{"{value|0}", 1000, "1000"}, Case{"{value|0}", -0.2, "0"},
        Case{"{value|2}", 1.5, "1.50"}, Case{"{={value}*0.01}", 0, "0"},
        Case{"{={value}*0.01}", 30, "0.3"}, Case{"{={value}*0.01}", 70, "0.7"},
        Case{"{={value}*0.01}", 100, "1"}, Case{"", -1234.5, "-1234.5"}, Case{"", -0.0, "0"},
        Case{"", -1e300, "-1e+300"}})
    EXPECT_EQ(FormatChartLabel(c.format, c.value), c.text) << c.format << " " << c.value;
}

TEST(ChartScale, RoundNumberTicksCoveringTheData) {
  // The assignment chart's axis: 0 to 100 with ticks 50 pixels apart on 500 pixels.
  const AxisScale percent = ScaleValueAxis(0.0, 100.0, 500.0, 50.0);
  EXPECT_EQ(percent.lo, 0.0);
  EXPECT_EQ(percent.hi, 100.0);
  EXPECT_EQ(percent.step, 10.0);

  gsl_rng* g = gsl_rng_alloc(gsl_rng_mt19937);
  gsl_rng_set(g, 5);
  const double inf = std::numeric_limits<double>::infinity();
  std::vector<std::pair<double, double>> ranges = {
      {-5000, -3000}, {-1234.5, -1234.5}, {0, 0},         {-1e300, -1000}, {-1e300, 1e300},
      {inf, -inf},    {1e-320, 1e-320},   {1, 1 + 1e-15}, {0, 5e-324}};
  for (int trial = 0; trial < 2000; ++trial) {
    const double a = -std::pow(10.0, gsl_rng_uniform(g) * 12.0);
    ranges.push_back({a, a + std::fabs(a) * gsl_rng_uniform(g)});
  }
  gsl_rng_free(g);
  for (const auto& [lo, hi] : ranges) {
    const AxisScale s = ScaleValueAxis(lo, hi, 500.0, 40.0);
    ASSERT_TRUE(std::isfinite(s.lo) && std::isfinite(s.hi) && s.step > 0.0) << lo << " " << hi;
    ASSERT_LT(s.lo, s.hi) << lo << " " << hi;
    const double intervals = (s.hi - s.lo) / s.step;
    ASSERT_GE(intervals, 0.999) << lo << " " << hi;
    ASSERT_LE(intervals, 12.001) << lo << " " << hi;  // ticks at least 40 pixels apart
    if (std::isfinite(lo) && std::isfinite(hi) && hi - lo > 1e-9 * std::fabs(lo)) {
      EXPECT_LE(s.lo, lo);
      EXPECT_GE(s.hi, hi);
      // The step is 1, 2 or 5 times a power of ten.
      const double m = s.step / std::pow(10.0, std::floor(std::log10(s.step) + 1e-9));
      EXPECT_TRUE(std::fabs(m - 1) < 1e-9 || std::fabs(m - 2) < 1e-9 || std::fabs(m - 5) < 1e-9)
          << s.step;
    }
  }
}

TEST(ChartFonts, TitleFaceResolvesToAnInstalledFace) {
  // fonts-liberation provides the metric twin of the Times bold italic face.
  const std::string path = ChartFontPath("timesbi.ttf");
  EXPECT_NE(path.find("LiberationSerif-BoldItalic"), std::string::npos) << path;
  // Unknown names and the default still find a face.
  EXPECT_NE(ChartFontPath("no-such-face.ttf"), "");
  EXPECT_NE(ChartFontPath(""), "");
}

TEST(ChartColours, AutomaticColoursAreDistinct) {
  std::set<uint32_t> seen;
  for (int32_t k = 0; k < 64; ++k) {
    const uint32_t c = AutoColour(k);
    EXPECT_TRUE(seen.insert(c).second) << k;
    EXPECT_EQ(c & 0xff000000u, 0u);
    EXPECT_NE(c, kWhite);
    EXPECT_NE(c, 0xc0c0c0u);  // the grid
  }
}
