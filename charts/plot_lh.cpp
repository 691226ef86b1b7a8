#include "charts/plot_lh.h"

#include "data/messages.h"

XYChart BuildLHChart(const std::vector<double>& history) {
  const int32_t count = static_cast<int32_t>(history.size());
  std::vector<double> iterations(count);
  for (int32_t i = 0; i < count; ++i) iterations[i] = i + 1;

  XYChart chart = CreateXYChart(900, 600, 0xffffcc, 0x000000, 1);
  SetPlotArea(chart, 50, 50, 800, 500, 0xffffff, kAutoColour, kAutoColour, 0xc0c0c0,
              kTransparentColour);
  SetClipping(chart, 0);
  ChartBox& titleBox = AddTitle(chart, "Log-Likelihood History", "timesbi.ttf", 14, 0xffffff,
                                kTransparentColour, kTransparentColour);
  SetBoxBackground(titleBox, 0x804020, kAutoColour, 0);
  AddLineLayer(chart, history, kAutoColour);
  SetAxisLabels(chart.xAxis, iterations, "{value|0}");
  // About ten labels along the axis; short histories keep the automatic labelling.
  const int32_t step = count / 10;
  if (step > 0) SetAxisLabelStep(chart.xAxis, step, 0, 0, -2147483647);
  return chart;
}

int PlotLH(const std::vector<double>& history, const std::string& fileName) {
  // NaN entries pass: they leave a gap in the line.
  for (double v : history) {
    if (v < -1e300) {
      ReportLine("Data Out Of Range, No Chart Plotted - PlotLH");
      return -1;
    }
  }
  XYChart chart = BuildLHChart(history);
  if (!MakeChart(chart, fileName)) ReportLine("Unable to make chart - PlotLH");
  DestroyChart(chart);
  return 0;
}
