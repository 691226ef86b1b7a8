// A small XY chart drawn with cairo and written as a PNG image: a background with an
// edge, one plot area with its grid, one title in a box, one layer (a line, or bars
// stacked to 100 per cent), and an x axis of labels under a y axis of values.
//
// Use: CreateXYChart, configure with the Set/Add procedures, MakeChart, DestroyChart.
// Every array handed to the chart is copied, so the caller's data may go at any time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "charts/chart_fonts.h"

// 0xRRGGBB. A non-zero top byte makes the colour partly transparent (0xff: invisible).
using ChartColour = uint32_t;
constexpr ChartColour kTransparentColour = 0xff000000u;
// -1: the chart picks the colour (a default for that element, or the palette for data).
constexpr ChartColour kAutoColour = 0xffffffffu;

// Colour of the data set at index when it was given kAutoColour: a fixed palette of
// distinct colours in data-set order, then further hues spread round the colour wheel.
ChartColour AutoColour(int32_t index);

// 0xRRGGBB of a hue in degrees (any value; taken modulo 360), a saturation and a value in
// [0, 1].
ChartColour ColourFromHsv(double hue, double saturation, double value);

struct ChartBox {
  ChartColour background = kTransparentColour;
  ChartColour edge = kTransparentColour;
  int32_t raisedEffect = 0;  // width in pixels of a light/dark bevel inside the edge
};

struct ChartTitle {
  std::string text;  // empty: no title
  std::string fontFile;
  double fontSize = 0.0;  // points
  ChartColour fontColour = 0x000000;
  ChartBox box;  // a band across the top of the chart
};

struct ChartPlotArea {
  int32_t x = 0, y = 0, width = 0, height = 0;
  ChartColour background = 0xffffff;
  ChartColour alternateBackground = kAutoColour;  // every other band between grid lines
  ChartColour edge = kAutoColour;
  ChartColour horizontalGrid = kAutoColour;
  ChartColour verticalGrid = kAutoColour;
};

struct ChartAxis {
  // x axis: one label per data position. Without a label step the labels are thinned
  // at drawing time so that they do not overlap.
  std::vector<double> labelValues;
  // "" (plain number), "{value|D}" (D decimals) or "{={value}*F}" (value times F).
  std::string labelFormat;
  int32_t labelStep = 0;  // > 0: a label at every labelStep-th position from labelOffset
  int32_t minorStep = 0;  // > 0: a minor tick at every minorStep-th position from minorOffset
  int32_t labelOffset = 0;
  int32_t minorOffset = 0;
  // y axis: the least distance in pixels between major ticks (0: the default).
  int32_t majorTickSpacing = 0;
  int32_t minorTickSpacing = 0;  // stored; minor ticks on the value axis are not drawn
};

enum class ChartLayerKind { kNone, kLine, kPercentageBar };

struct ChartDataSet {
  std::vector<double> values;
  ChartColour colour = kAutoColour;
};

struct ChartLayer {
  ChartLayerKind kind = ChartLayerKind::kNone;
  std::vector<ChartDataSet> dataSets;
  ChartColour borderColour = kAutoColour;  // outline of the bars
  int32_t borderRaisedEffect = 0;
};

struct XYChart {
  int32_t width = 0, height = 0;
  ChartColour background = 0xffffff;
  ChartColour edge = kTransparentColour;
  int32_t raisedEffect = 0;
  ChartPlotArea plotArea;
  int32_t clippingMargin = -1;  // >= 0: layers are clipped to the plot area plus this margin
  ChartTitle title;
  ChartLayer layer;
  ChartAxis xAxis;
  ChartAxis yAxis;
};

XYChart CreateXYChart(int32_t width, int32_t height, ChartColour background, ChartColour edge,
                      int32_t raisedEffect);
void SetPlotArea(XYChart& chart, int32_t x, int32_t y, int32_t width, int32_t height,
                 ChartColour background, ChartColour alternateBackground, ChartColour edge,
                 ChartColour horizontalGrid, ChartColour verticalGrid);
void SetClipping(XYChart& chart, int32_t margin);
// Returns the title's box, whose background, edge and bevel may then be changed.
ChartBox& AddTitle(XYChart& chart, const std::string& text, const std::string& fontFile,
                   double fontSize, ChartColour fontColour, ChartColour background,
                   ChartColour edge);
void SetBoxBackground(ChartBox& box, ChartColour colour, ChartColour edge, int32_t raisedEffect);

// The chart holds one layer; adding a layer replaces the one before.
void AddLineLayer(XYChart& chart, const std::vector<double>& values, ChartColour colour);
// Bars whose data sets are stacked and scaled so that every bar totals 100.
void AddPercentageBarLayer(XYChart& chart);
void AddDataSet(XYChart& chart, const std::vector<double>& values, ChartColour colour);
void SetLayerBorder(XYChart& chart, ChartColour colour, int32_t raisedEffect);

void SetAxisLabels(ChartAxis& axis, const std::vector<double>& values, const std::string& format);
void SetAxisLabelFormat(ChartAxis& axis, const std::string& format);
void SetAxisLabelStep(ChartAxis& axis, int32_t majorStep, int32_t minorStep, int32_t majorOffset,
                      int32_t minorOffset);
void SetAxisTickDensity(ChartAxis& axis, int32_t majorSpacing, int32_t minorSpacing);

// Draws the chart and writes it to fileName as PNG. False when the image could not be
// made (a size no image can hold) or the file could not be written.
bool MakeChart(const XYChart& chart, const std::string& fileName);
// Releases everything the chart holds; the record is empty afterwards.
void DestroyChart(XYChart& chart);

// ---- Pieces of the drawing, open for tests ----

// A label's text: the value through one of the formats of ChartAxis::labelFormat.
std::string FormatChartLabel(const std::string& format, double value);

// Round-number scale of a value axis: from lo to hi in steps of step.
struct AxisScale {
  double lo = 0.0, hi = 1.0, step = 0.1;
};
// The scale over the finite values among dataLo..dataHi for an axis of lengthPixels with
// major ticks at least tickSpacing pixels apart.
AxisScale ScaleValueAxis(double dataLo, double dataHi, double lengthPixels, double tickSpacing);

// Largest width or height of a chart image in pixels.
constexpr int32_t kMaxChartPixels = 32767;
