#include "charts/chart.h"

#include <cairo.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "charts/chart_fonts.h"
#include "charts/png_file.h"

namespace {

constexpr double kLabelFontPoints = 8.0;
constexpr double kMinLabelFontPoints = 5.0;
constexpr double kTitlePadding = 4.0;  // pixels around the title text inside its band
constexpr double kLabelGap = 6.0;      // least free space between two x labels
constexpr double kTickLength = 4.0;
constexpr double kMinorTickLength = 2.0;
constexpr double kLineWidth = 2.0;  // the line of a line layer
constexpr int32_t kDefaultTickSpacing = 40;
constexpr double kBarGapShare = 0.2;  // share of a bar's slot left empty beside it
// Values beyond this are drawn as if they were this, so every coordinate stays finite.
constexpr double kLargestDrawnValue = 1e300;
// Narrowest value range a scale spans: steps stay well clear of the subnormal numbers.
constexpr double kSmallestSpan = 1e-290;
// Pixel coordinates handed to cairo stay within this distance of the image.
constexpr double kCoordinateLimit = 1e5;

constexpr ChartColour kDefaultEdgeColour = 0x808080;
constexpr ChartColour kDefaultGridColour = 0xc0c0c0;
constexpr ChartColour kAxisColour = 0x000000;
constexpr ChartColour kLabelColour = 0x000000;

// Distinct colours, strong ones first so that a lone line is clearly visible on white.
constexpr ChartColour kPalette[] = {
    0x0067a5, 0xbe0032, 0x008856, 0xf38400, 0x875692, 0xf3c300, 0xa1caf1,
    0x882d17, 0x8db600, 0xe68fac, 0x604e97, 0xc2b280, 0x2b3d26, 0xf99379,
    0x848482, 0xdcd300, 0xb3446c, 0x654522, 0xe25822, 0xf6a600,
};
constexpr int32_t kPaletteSize = sizeof(kPalette) / sizeof(kPalette[0]);

bool Visible(ChartColour colour) {
  return colour != kAutoColour && (colour & 0xff000000u) != 0xff000000u;
}

ChartColour Resolve(ChartColour colour, ChartColour fallback) {
  return colour == kAutoColour ? fallback : colour;
}

void SetSource(cairo_t* cr, ChartColour colour) {
  const double alpha = 1.0 - ((colour >> 24) & 0xff) / 255.0;
  cairo_set_source_rgba(cr, ((colour >> 16) & 0xff) / 255.0, ((colour >> 8) & 0xff) / 255.0,
                        (colour & 0xff) / 255.0, alpha);
}

// Mixes colour with target (0xRRGGBB) in the share given.
ChartColour Mix(ChartColour colour, ChartColour target, double share) {
  ChartColour out = 0;
  for (int shift = 0; shift <= 16; shift += 8) {
    const double a = (colour >> shift) & 0xff, b = (target >> shift) & 0xff;
    out |= static_cast<ChartColour>(std::lround(a + (b - a) * share)) << shift;
  }
  return out;
}

double Clamp(double v, double limit) {
  return std::max(-limit, std::min(limit, v));
}

// ---- Numbers ----

std::string PlainNumber(double value) {
  if (value == 0.0) value = 0.0;  // no "-0"
  char text[64];
  std::snprintf(text, sizeof(text), "%.10g", value);
  return text;
}

// The smallest of 1, 2, 5 times a power of ten that is at least raw.
double NiceStepAtLeast(double raw) {
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 5.0, 10.0})
    if (m * power >= raw * (1.0 - 1e-12)) return m * power;
  return 10.0 * power;
}

double NextNiceStep(double step) {
  const double power = std::pow(10.0, std::floor(std::log10(step) + 1e-12));
  const double m = step / power;
  return (m < 1.5 ? 2.0 : m < 3.5 ? 5.0 : 10.0) * power;
}

// ---- Layout of the x positions ----

// Line layers put the first point on the left edge of the plot area and the last on the
// right edge; bars get equal slots, with the position at the middle of the slot.
struct XLayout {
  int32_t count = 0;
  bool slots = false;
  double left = 0.0, width = 0.0;

  double Spacing() const {
    if (slots) return width / std::max(count, 1);
    return count > 1 ? width / (count - 1) : width;
  }
  double Position(int64_t i) const {
    if (slots) return left + (i + 0.5) * Spacing();
    return count > 1 ? left + i * Spacing() : left + width / 2.0;
  }
};

XLayout LayOutX(const XYChart& chart) {
  XLayout layout;
  size_t count = chart.xAxis.labelValues.size();
  for (const ChartDataSet& set : chart.layer.dataSets) count = std::max(count, set.values.size());
  layout.count = static_cast<int32_t>(count);
  layout.slots = chart.layer.kind == ChartLayerKind::kPercentageBar;
  layout.left = chart.plotArea.x;
  layout.width = chart.plotArea.width;
  return layout;
}

// Whether position i is one that step and offset pick (step <= 0 picks none).
bool Picked(int64_t i, int32_t step, int32_t offset) {
  return step > 0 && i >= offset && (i - int64_t{offset}) % step == 0;
}

AxisScale ScaleY(const XYChart& chart) {
  const double spacing =
      chart.yAxis.majorTickSpacing > 0 ? chart.yAxis.majorTickSpacing : kDefaultTickSpacing;
  if (chart.layer.kind == ChartLayerKind::kPercentageBar)
    return ScaleValueAxis(0.0, 100.0, chart.plotArea.height, spacing);
  double lo = INFINITY, hi = -INFINITY;
  for (const ChartDataSet& set : chart.layer.dataSets)
    for (double v : set.values)
      if (std::isfinite(v)) {
        lo = std::min(lo, v);
        hi = std::max(hi, v);
      }
  return ScaleValueAxis(lo, hi, chart.plotArea.height, spacing);
}

// Pixel row of value v on the y axis (the top of the plot area is the scale's hi).
double YPixel(const XYChart& chart, const AxisScale& scale, double v) {
  const ChartPlotArea& p = chart.plotArea;
  const double y =
      p.y + p.height - (Clamp(v, kLargestDrawnValue) - scale.lo) / (scale.hi - scale.lo) * p.height;
  return Clamp(y, kCoordinateLimit);
}

int32_t TickCount(const AxisScale& scale) {
  return static_cast<int32_t>(std::lround((scale.hi - scale.lo) / scale.step));
}

double TickValue(const AxisScale& scale, int32_t i) {
  // lo is a whole multiple of step: counting in steps keeps 0 an exact 0.
  return (std::round(scale.lo / scale.step) + i) * scale.step;
}

// ---- Drawing ----

void FillRect(cairo_t* cr, double x, double y, double w, double h, ChartColour colour) {
  SetSource(cr, colour);
  cairo_rectangle(cr, x, y, w, h);
  cairo_fill(cr);
}

// A 1-pixel edge round the rectangle's outside pixels, then a bevel of raised pixels
// inside it: light on the top and left, dark on the bottom and right.
void DrawEdgeAndBevel(cairo_t* cr, double x, double y, double w, double h, ChartColour background,
                      ChartColour edge, int32_t raised) {
  double inset = 0.0;
  if (Visible(edge)) {
    SetSource(cr, edge);
    cairo_set_line_width(cr, 1.0);
    cairo_rectangle(cr, x + 0.5, y + 0.5, w - 1.0, h - 1.0);
    cairo_stroke(cr);
    inset = 1.0;
  }
  if (raised <= 0 || !Visible(background)) return;
  const double r = std::min<double>(raised, std::min(w, h) / 2.0 - inset);
  if (r <= 0.0) return;
  const double x0 = x + inset, y0 = y + inset, x1 = x + w - inset, y1 = y + h - inset;
  SetSource(cr, Mix(background & 0xffffff, 0xffffff, 0.6));
  cairo_move_to(cr, x0, y1);
  cairo_line_to(cr, x0, y0);
  cairo_line_to(cr, x1, y0);
  cairo_line_to(cr, x1 - r, y0 + r);
  cairo_line_to(cr, x0 + r, y0 + r);
  cairo_line_to(cr, x0 + r, y1 - r);
  cairo_close_path(cr);
  cairo_fill(cr);
  SetSource(cr, Mix(background & 0xffffff, 0x000000, 0.35));
  cairo_move_to(cr, x1, y0);
  cairo_line_to(cr, x1, y1);
  cairo_line_to(cr, x0, y1);
  cairo_line_to(cr, x0 + r, y1 - r);
  cairo_line_to(cr, x1 - r, y1 - r);
  cairo_line_to(cr, x1 - r, y0 + r);
  cairo_close_path(cr);
  cairo_fill(cr);
}

void DrawPlotBackground(cairo_t* cr, const XYChart& chart, const AxisScale& scale,
                        const XLayout& xs, int32_t xLabelStep) {
  const ChartPlotArea& p = chart.plotArea;
  if (Visible(p.background)) FillRect(cr, p.x, p.y, p.width, p.height, p.background);
  const int32_t ticks = TickCount(scale);
  if (Visible(p.alternateBackground)) {
    for (int32_t i = 1; i < ticks; i += 2) {
      const double top = YPixel(chart, scale, TickValue(scale, i + 1));
      const double bottom = YPixel(chart, scale, TickValue(scale, i));
      FillRect(cr, p.x, top, p.width, bottom - top, p.alternateBackground);
    }
  }
  cairo_set_line_width(cr, 1.0);
  const ChartColour hGrid = Resolve(p.horizontalGrid, kDefaultGridColour);
  if (Visible(hGrid)) {
    SetSource(cr, hGrid);
    for (int32_t i = 0; i <= ticks; ++i) {
      const double y = std::floor(YPixel(chart, scale, TickValue(scale, i))) + 0.5;
      cairo_move_to(cr, p.x, y);
      cairo_line_to(cr, p.x + p.width, y);
    }
    cairo_stroke(cr);
  }
  const ChartColour vGrid = Resolve(p.verticalGrid, kDefaultGridColour);
  if (Visible(vGrid)) {
    SetSource(cr, vGrid);
    for (int64_t i = 0; i < xs.count; ++i) {
      if (!Picked(i, xLabelStep, chart.xAxis.labelOffset)) continue;
      const double x = std::floor(xs.Position(i)) + 0.5;
      cairo_move_to(cr, x, p.y);
      cairo_line_to(cr, x, p.y + p.height);
    }
    cairo_stroke(cr);
  }
}

// One polyline per data set; non-finite values leave a gap in the line.
void DrawLineLayer(cairo_t* cr, const XYChart& chart, const AxisScale& scale, const XLayout& xs) {
  cairo_set_line_width(cr, kLineWidth);
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
  for (size_t k = 0; k < chart.layer.dataSets.size(); ++k) {
    const ChartDataSet& set = chart.layer.dataSets[k];
    SetSource(cr, Resolve(set.colour, AutoColour(static_cast<int32_t>(k))));
    bool open = false;
    for (size_t i = 0; i < set.values.size(); ++i) {
      if (!std::isfinite(set.values[i])) {
        open = false;
        continue;
      }
      const double x = xs.Position(static_cast<int64_t>(i));
      const double y = YPixel(chart, scale, set.values[i]);
      if (open) {
        cairo_line_to(cr, x, y);
      } else {
        cairo_move_to(cr, x, y);
        cairo_line_to(cr, x, y);  // a lone point still shows as a dot
        open = true;
      }
    }
    cairo_stroke(cr);
  }
}

// Bar i stacks the data sets' values at i, each scaled by the bar's total so that the
// bar reaches 100. Segment edges are whole pixels, each the rounded cumulative share, so
// every segment is within one pixel of its share and the segments fill the bar exactly.
// Negative and non-finite values count as 0; a bar whose total is 0 is not drawn.
void DrawPercentageBars(cairo_t* cr, const XYChart& chart, const AxisScale& scale,
                        const XLayout& xs) {
  const std::vector<ChartDataSet>& sets = chart.layer.dataSets;
  const double slot = xs.Spacing();
  const ChartColour border = chart.layer.borderColour;
  for (int64_t i = 0; i < xs.count; ++i) {
    double total = 0.0;
    for (const ChartDataSet& set : sets)
      if (i < static_cast<int64_t>(set.values.size()) && set.values[i] > 0.0 &&
          std::isfinite(set.values[i]))
        total += set.values[i];
    if (!(total > 0.0) || !std::isfinite(total)) continue;
    const double left = xs.left + std::round(i * slot);
    const double right = xs.left + std::round((i + 1) * slot);
    const double gap = std::floor((right - left) * kBarGapShare);
    const double barLeft = left + std::floor(gap / 2.0);
    const double barWidth = std::max(1.0, right - left - gap);
    double cumulative = 0.0;
    for (size_t k = 0; k < sets.size(); ++k) {
      const double v = i < static_cast<int64_t>(sets[k].values.size()) ? sets[k].values[i] : 0.0;
      if (!(v > 0.0) || !std::isfinite(v)) continue;
      const double bottom = std::round(YPixel(chart, scale, 100.0 * cumulative / total));
      cumulative += v;
      const double top = std::round(YPixel(chart, scale, 100.0 * cumulative / total));
      if (bottom <= top) continue;
      FillRect(cr, barLeft, top, barWidth, bottom - top,
               Resolve(sets[k].colour, AutoColour(static_cast<int32_t>(k))));
      if (Visible(border)) {
        SetSource(cr, border);
        cairo_set_line_width(cr, 1.0);
        cairo_rectangle(cr, barLeft + 0.5, top + 0.5, barWidth - 1.0, bottom - top - 1.0);
        cairo_stroke(cr);
      }
    }
  }
}

// The automatic label step: the least step at which neighbouring labels do not overlap.
int32_t AutoLabelStep(cairo_t* cr, const XYChart& chart, const XLayout& xs) {
  double widest = 0.0;
  for (double v : chart.xAxis.labelValues)
    widest = std::max(widest, TextWidth(cr, FormatChartLabel(chart.xAxis.labelFormat, v)));
  const double spacing = xs.Spacing();
  if (!(spacing > 0.0)) return 1;
  const double step = std::ceil((widest + kLabelGap) / spacing);
  return static_cast<int32_t>(std::max(1.0, std::min(step, double(INT32_MAX))));
}

void DrawXAxis(cairo_t* cr, const XYChart& chart, const XLayout& xs, int32_t labelStep) {
  const ChartPlotArea& p = chart.plotArea;
  const double axisY = p.y + p.height + 0.5;
  SetSource(cr, kAxisColour);
  cairo_set_line_width(cr, 1.0);
  cairo_move_to(cr, p.x - 0.5, axisY);
  cairo_line_to(cr, p.x + p.width, axisY);
  for (int64_t i = 0; i < xs.count; ++i) {
    const double x = std::floor(xs.Position(i)) + 0.5;
    if (Picked(i, labelStep, chart.xAxis.labelOffset)) {
      cairo_move_to(cr, x, axisY);
      cairo_line_to(cr, x, axisY + kTickLength);
    } else if (Picked(i, chart.xAxis.minorStep, chart.xAxis.minorOffset)) {
      cairo_move_to(cr, x, axisY);
      cairo_line_to(cr, x, axisY + kMinorTickLength);
    }
  }
  cairo_stroke(cr);

  cairo_font_extents_t font;
  cairo_font_extents(cr, &font);
  SetSource(cr, kLabelColour);
  const int64_t labels = std::min<int64_t>(xs.count, chart.xAxis.labelValues.size());
  for (int64_t i = 0; i < labels; ++i) {
    if (!Picked(i, labelStep, chart.xAxis.labelOffset)) continue;
    DrawText(cr, FormatChartLabel(chart.xAxis.labelFormat, chart.xAxis.labelValues[i]),
             xs.Position(i), axisY + kTickLength + 2.0 + font.ascent, 0.5);
  }
}

// Labels are right-aligned against the ticks; a font too wide for the space left of the
// plot area is made smaller, down to a least size.
void DrawYAxis(cairo_t* cr, cairo_font_face_t* face, const XYChart& chart, const AxisScale& scale) {
  const ChartPlotArea& p = chart.plotArea;
  const double axisX = p.x - 0.5;
  const int32_t ticks = TickCount(scale);
  SetSource(cr, kAxisColour);
  cairo_set_line_width(cr, 1.0);
  cairo_move_to(cr, axisX, p.y);
  cairo_line_to(cr, axisX, p.y + p.height + 1.0);
  for (int32_t i = 0; i <= ticks; ++i) {
    const double y = std::floor(YPixel(chart, scale, TickValue(scale, i))) + 0.5;
    cairo_move_to(cr, axisX, y);
    cairo_line_to(cr, axisX - kTickLength, y);
  }
  cairo_stroke(cr);

  std::vector<std::string> texts;
  double widest = 0.0;
  for (int32_t i = 0; i <= ticks; ++i) {
    texts.push_back(FormatChartLabel(chart.yAxis.labelFormat, TickValue(scale, i)));
    widest = std::max(widest, TextWidth(cr, texts.back()));
  }
  const double room = axisX - kTickLength - 3.0;
  if (widest > room && room > 0.0)
    UseFont(cr, face, std::max(kMinLabelFontPoints, kLabelFontPoints * room / widest));
  cairo_font_extents_t font;
  cairo_font_extents(cr, &font);
  SetSource(cr, kLabelColour);
  for (int32_t i = 0; i <= ticks; ++i) {
    const double y = YPixel(chart, scale, TickValue(scale, i));
    DrawText(cr, texts[i], axisX - kTickLength - 2.0, y + (font.ascent - font.descent) / 2.0, 1.0);
  }
}

// The title sits in a band across the top of the chart; a title wider than the chart is
// set in a smaller size so that all of it shows.
void DrawTitle(cairo_t* cr, const XYChart& chart) {
  const ChartTitle& title = chart.title;
  if (title.text.empty()) return;
  FontFace face = LoadFontFace(title.fontFile);
  double points = title.fontSize > 0.0 ? title.fontSize : 12.0;
  UseFont(cr, face.get(), points);
  const double room = chart.width - 2.0 * kTitlePadding;
  const double width = TextWidth(cr, title.text);
  if (width > room && room > 0.0) {
    points *= room / width;
    UseFont(cr, face.get(), points);
  }
  cairo_font_extents_t font;
  cairo_font_extents(cr, &font);
  const double bandHeight = std::ceil(font.ascent + font.descent + 2.0 * kTitlePadding);
  if (Visible(title.box.background))
    FillRect(cr, 0, 0, chart.width, bandHeight, title.box.background);
  DrawEdgeAndBevel(cr, 0, 0, chart.width, bandHeight, title.box.background,
                   Resolve(title.box.edge, kTransparentColour), title.box.raisedEffect);
  SetSource(cr, title.fontColour);
  DrawText(cr, title.text, chart.width / 2.0, kTitlePadding + font.ascent, 0.5);
}

struct SurfaceDeleter {
  void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
struct ContextDeleter {
  void operator()(cairo_t* cr) const { cairo_destroy(cr); }
};

}  // namespace

#if defined(__SANITIZE_ADDRESS__)
// Sanitizer builds only: fontconfig loses a few bytes, once per process, while it parses
// its configuration files; the leak checker is told to pass over it.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}
extern "C" const char* __lsan_default_options() {
  return "print_suppressions=0";
}
#endif

ChartColour AutoColour(int32_t index) {
  if (index < 0) index = 0;
  if (index < kPaletteSize) return kPalette[index];
  // Past the palette: hues a golden angle apart, in two brightness levels.
  const double value = (index % 2 == 0) ? 0.85 : 0.6, saturation = 0.7;
  return ColourFromHsv((index - kPaletteSize) * 137.50776405, saturation, value);
}

ChartColour ColourFromHsv(double hue, double saturation, double value) {
  const double h = std::fmod(hue, 360.0) / 60.0;
  const double c = value * saturation;
  const double x = c * (1.0 - std::fabs(std::fmod(h, 2.0) - 1.0));
  double r = 0, g = 0, b = 0;
  switch (static_cast<int>(h)) {
    case 0:
      r = c, g = x;
      break;
    case 1:
      r = x, g = c;
      break;
    case 2:
      g = c, b = x;
      break;
    case 3:
      g = x, b = c;
      break;
    case 4:
      r = x, b = c;
      break;
    default:
      r = c, b = x;
      break;
  }
  const double m = value - c;
  auto byte = [m](double v) { return static_cast<ChartColour>(std::lround((v + m) * 255.0)); };
  return (byte(r) << 16) | (byte(g) << 8) | byte(b);
}

XYChart CreateXYChart(int32_t width, int32_t height, ChartColour background, ChartColour edge,
                      int32_t raisedEffect) {
  XYChart chart;
  chart.width = width;
  chart.height = height;
  chart.background = background;
  chart.edge = edge;
  chart.raisedEffect = raisedEffect;
  return chart;
}

void SetPlotArea(XYChart& chart, int32_t x, int32_t y, int32_t width, int32_t height,
                 ChartColour background, ChartColour alternateBackground, ChartColour edge,
                 ChartColour horizontalGrid, ChartColour verticalGrid) {
  chart.plotArea = {
      x, y, width, height, background, alternateBackground, edge, horizontalGrid, verticalGrid};
}

void SetClipping(XYChart& chart, int32_t margin) {
  chart.clippingMargin = margin;
}

ChartBox& AddTitle(XYChart& chart, const std::string& text, const std::string& fontFile,
                   double fontSize, ChartColour fontColour, ChartColour background,
                   ChartColour edge) {
  chart.title = {text, fontFile, fontSize, fontColour, {background, edge, 0}};
  return chart.title.box;
}

void SetBoxBackground(ChartBox& box, ChartColour colour, ChartColour edge, int32_t raisedEffect) {
  box = {colour, edge, raisedEffect};
}

void AddLineLayer(XYChart& chart, const std::vector<double>& values, ChartColour colour) {
  chart.layer = ChartLayer();
  chart.layer.kind = ChartLayerKind::kLine;
  chart.layer.dataSets.push_back({values, colour});
}

void AddPercentageBarLayer(XYChart& chart) {
  chart.layer = ChartLayer();
  chart.layer.kind = ChartLayerKind::kPercentageBar;
}

void AddDataSet(XYChart& chart, const std::vector<double>& values, ChartColour colour) {
  chart.layer.dataSets.push_back({values, colour});
}

void SetLayerBorder(XYChart& chart, ChartColour colour, int32_t raisedEffect) {
  chart.layer.borderColour = colour;
  chart.layer.borderRaisedEffect = raisedEffect;
}

void SetAxisLabels(ChartAxis& axis, const std::vector<double>& values, const std::string& format) {
  axis.labelValues = values;
  axis.labelFormat = format;
}

void SetAxisLabelFormat(ChartAxis& axis, const std::string& format) {
  axis.labelFormat = format;
}

void SetAxisLabelStep(ChartAxis& axis, int32_t majorStep, int32_t minorStep, int32_t majorOffset,
                      int32_t minorOffset) {
  axis.labelStep = majorStep;
  axis.minorStep = minorStep;
  axis.labelOffset = majorOffset;
  axis.minorOffset = minorOffset;
}

void SetAxisTickDensity(ChartAxis& axis, int32_t majorSpacing, int32_t minorSpacing) {
  axis.majorTickSpacing = majorSpacing;
  axis.minorTickSpacing = minorSpacing;
}

bool MakeChart(const XYChart& chart, const std::string& fileName) {
  if (chart.width <= 0 || chart.height <= 0 || chart.width > kMaxChartPixels ||
      chart.height > kMaxChartPixels)
    return false;
  std::unique_ptr<cairo_surface_t, SurfaceDeleter> surface(
      cairo_image_surface_create(CAIRO_FORMAT_RGB24, chart.width, chart.height));
  if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) return false;
  std::unique_ptr<cairo_t, ContextDeleter> context(cairo_create(surface.get()));
  cairo_t* cr = context.get();
  if (cairo_status(cr) != CAIRO_STATUS_SUCCESS) return false;

  FillRect(cr, 0, 0, chart.width, chart.height, Resolve(chart.background, 0xffffff));
  const AxisScale scale = ScaleY(chart);
  const XLayout xs = LayOutX(chart);
  FontFace labelFont = LoadFontFace("");
  UseFont(cr, labelFont.get(), kLabelFontPoints);
  const int32_t xLabelStep =
      chart.xAxis.labelStep > 0 ? chart.xAxis.labelStep : AutoLabelStep(cr, chart, xs);

  DrawPlotBackground(cr, chart, scale, xs, xLabelStep);
  const ChartPlotArea& p = chart.plotArea;
  cairo_save(cr);
  if (chart.clippingMargin >= 0) {
    const double m = chart.clippingMargin;
    cairo_rectangle(cr, p.x - m, p.y - m, p.width + 2.0 * m, p.height + 2.0 * m);
    cairo_clip(cr);
  }
  if (chart.layer.kind == ChartLayerKind::kLine) DrawLineLayer(cr, chart, scale, xs);
  if (chart.layer.kind == ChartLayerKind::kPercentageBar) DrawPercentageBars(cr, chart, scale, xs);
  cairo_restore(cr);

  const ChartColour plotEdge = Resolve(p.edge, kDefaultEdgeColour);
  if (Visible(plotEdge)) {
    SetSource(cr, plotEdge);
    cairo_set_line_width(cr, 1.0);
    cairo_rectangle(cr, p.x - 0.5, p.y - 0.5, p.width + 1.0, p.height + 1.0);
    cairo_stroke(cr);
  }
  DrawXAxis(cr, chart, xs, xLabelStep);
  DrawYAxis(cr, labelFont.get(), chart, scale);
  DrawTitle(cr, chart);
  DrawEdgeAndBevel(cr, 0, 0, chart.width, chart.height, Resolve(chart.background, 0xffffff),
                   chart.edge, chart.raisedEffect);

  cairo_surface_flush(surface.get());
  return WritePngFile(fileName, cairo_image_surface_get_data(surface.get()), chart.width,
                      chart.height, cairo_image_surface_get_stride(surface.get()));
}

void DestroyChart(XYChart& chart) {
  chart = XYChart();
}

std::string FormatChartLabel(const std::string& format, double value) {
  const std::string valueWithDecimals = "{value|";
  const std::string valueTimes = "{={value}*";
  if (format.size() > valueWithDecimals.size() &&
      format.compare(0, valueWithDecimals.size(), valueWithDecimals) == 0 && format.back() == '}') {
    const int decimals = std::clamp(std::atoi(format.c_str() + valueWithDecimals.size()), 0, 20);
    char text[400];  // room for the widest double in fixed notation
    std::snprintf(text, sizeof(text), "%.*f", decimals, value);
    std::string s = text;
    if (s.find_first_not_of("-0.") == std::string::npos && s[0] == '-') s.erase(0, 1);
    return s;
  }
  if (format.size() > valueTimes.size() && format.compare(0, valueTimes.size(), valueTimes) == 0 &&
      format.back() == '}')
    return PlainNumber(value * std::strtod(format.c_str() + valueTimes.size(), nullptr));
  return PlainNumber(value);
}

AxisScale ScaleValueAxis(double dataLo, double dataHi, double lengthPixels, double tickSpacing) {
  // No finite data: a plain 0 to 1 scale.
  if (!std::isfinite(dataLo) || !std::isfinite(dataHi) || dataLo > dataHi) {
    dataLo = 0.0;
    dataHi = 1.0;
  }
  dataLo = Clamp(dataLo, kLargestDrawnValue);
  dataHi = Clamp(dataHi, kLargestDrawnValue);
  // A range too narrow for ten-digit labels to tell its ticks apart (a constant history,
  // say) is drawn as its middle value with 10 per cent of room either side, or 1 where
  // that is no room at all.
  const double magnitude = std::max(std::fabs(dataLo), std::fabs(dataHi));
  if (!(dataHi - dataLo > 1e-9 * magnitude && dataHi - dataLo > kSmallestSpan)) {
    const double middle = dataLo / 2.0 + dataHi / 2.0;
    double pad = std::fabs(middle) * 0.1;
    if (!(pad > kSmallestSpan)) pad = 1.0;
    dataLo = middle - pad;
    dataHi = middle + pad;
  }
  const double intervals = std::max(1.0, std::floor(lengthPixels / std::max(tickSpacing, 1.0)));
  double step = NiceStepAtLeast((dataHi - dataLo) / intervals);
  AxisScale scale;
  for (int tries = 0; tries < 8; ++tries) {
    scale.lo = std::floor(dataLo / step) * step;
    scale.hi = std::ceil(dataHi / step) * step;
    scale.step = step;
    // Widening to whole steps can add an interval or two: take a larger step if the
    // ticks would then come closer together than asked.
    if ((scale.hi - scale.lo) / step <= intervals) break;
    step = NextNiceStep(step);
  }
  // Whatever the numbers, the scale handed out is finite with a sane number of ticks.
  const double ticks = (scale.hi - scale.lo) / scale.step;
  if (!std::isfinite(scale.lo) || !std::isfinite(scale.hi) || !(scale.step > 0.0) ||
      !(ticks >= 1.0 && ticks <= 4.0 * intervals + 2.0))
    return AxisScale{dataLo, dataHi, dataHi - dataLo};
  return scale;
}
