#include "charts/plot_ap.h"

#include <algorithm>

#include "data/messages.h"

namespace {

constexpr int64_t kSamplePixels = 30;
constexpr int64_t kMarginPixels = 100;  // 50 on either side of the plot area

}  // namespace

int32_t APPlotWidth(int32_t N) {
  const int64_t width = kSamplePixels * std::max(N, 0);
  return static_cast<int32_t>(std::min(width, int64_t{kMaxChartPixels} - kMarginPixels));
}

XYChart BuildAPChart(const Vector2D<double>& probabilities) {
  const Vector2D<double>& Q = probabilities;
  const int32_t N = static_cast<int32_t>(Q.size());
  const int32_t K = N > 0 ? static_cast<int32_t>(Q[0].size()) : 0;

  // T[k][i] = Q[i][k]: the chart takes one row of values per cluster.
  Vector2D<double> T;
  InitVctr2D(T, K, N, 0.0);
  for (int32_t i = 0; i < N; ++i)
    for (int32_t k = 0; k < K && k < static_cast<int32_t>(Q[i].size()); ++k) T[k][i] = Q[i][k];
  std::vector<double> samples(N);
  for (int32_t i = 0; i < N; ++i) samples[i] = i + 1;

  const int32_t plotWidth = APPlotWidth(N);
  XYChart chart =
      CreateXYChart(plotWidth + static_cast<int32_t>(kMarginPixels), 600, 0xffffcc, 0x000000, 1);
  SetPlotArea(chart, 50, 50, plotWidth, 500, 0xffffff, kAutoColour, kAutoColour, 0xc0c0c0,
              kTransparentColour);
  SetClipping(chart, 0);
  ChartBox& titleBox = AddTitle(chart, "Assignment Probabilities", "timesbi.ttf", 14, 0xffffff,
                                kTransparentColour, kTransparentColour);
  SetBoxBackground(titleBox, 0x804020, kAutoColour, 0);
  SetAxisLabels(chart.xAxis, samples, "{value|0}");
  AddPercentageBarLayer(chart);
  // The 0-100 scale of the stacked bars reads as probabilities 0 to 1.
  SetAxisLabelFormat(chart.yAxis, "{={value}*0.01}");
  SetAxisTickDensity(chart.yAxis, 50, -1);
  for (int32_t k = 0; k < K; ++k) AddDataSet(chart, T[k], kAutoColour);
  SetLayerBorder(chart, kTransparentColour, 0);
  return chart;
}

int PlotAP(const Vector2D<double>& probabilities, const std::string& fileName) {
  XYChart chart = BuildAPChart(probabilities);
  if (!MakeChart(chart, fileName)) ReportLine("Unable to make chart - PlotAP");
  DestroyChart(chart);
  return 0;
}
