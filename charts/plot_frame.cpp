#include "charts/plot_frame.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "charts/chart.h"

namespace {

constexpr double kTickSpacing = 45.0;  // pixels between ticks at least, about
constexpr double kTickLength = 4.0;

// The ticks of lo..hi at the multiples of step, counted from the first so that 0 is exact.
std::vector<double> Ticks(double lo, double hi, double step) {
  std::vector<double> ticks;
  if (!(step > 0.0) || !std::isfinite(lo) || !std::isfinite(hi)) return ticks;
  const double first = std::ceil(lo / step - 1e-9);
  for (int32_t i = 0; i <= 1000; ++i) {
    const double v = (first + i) * step;
    if (v > hi + step * 1e-9) break;
    ticks.push_back(v);
  }
  return ticks;
}

// The power of ten (a multiple of 3) that ticks reaching maxAbs are written in units of, so
// that no tick label is longer than about six characters: 0 below 100000.
int32_t TickExponent(double maxAbs) {
  if (!(maxAbs >= 1e5) || !std::isfinite(maxAbs)) return 0;
  return 3 * static_cast<int32_t>(std::floor(std::log10(maxAbs) / 3.0));
}

// The unit of the ticks, after the axis name: " (thousands)", " (millions)", ... "(×10^15)".
std::string ExponentNote(int32_t exponent) {
  static const char* kUnits[] = {"thousands", "millions", "billions", "trillions"};
  if (exponent >= 3 && exponent <= 12) return std::string(" (") + kUnits[exponent / 3 - 1] + ")";
  return " (\xc3\x97"
         "10^" +
         std::to_string(exponent) + ")";
}

}  // namespace

double TickStep(double lo, double hi, double pixels, double spacing, double least) {
  const double span = hi - lo;
  const double intervals = std::max(1.0, std::floor(pixels / spacing));
  if (!(span > 0.0) || !std::isfinite(span)) return std::max(least, 1.0);
  const double raw = span / intervals;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  double step = 10.0 * power;
  for (double m : {1.0, 2.0, 5.0}) {
    if (m * power >= raw * (1.0 - 1e-12)) {
      step = m * power;
      break;
    }
  }
  return std::max(step, least);
}

PlotFrame MakeFrame(double left, double top, double width, double height, double xLo, double xHi,
                    double xLeast, double yLo, double yHi) {
  PlotFrame frame;
  frame.left = left;
  frame.top = top;
  frame.width = width;
  frame.height = height;
  if (!(xHi > xLo)) {
    xLo -= 0.5;
    xHi += 0.5;
  }
  frame.xLo = xLo;
  frame.xHi = xHi;
  frame.xStep = TickStep(xLo, xHi, width, kTickSpacing * 1.5, xLeast);
  const AxisScale y = ScaleValueAxis(yLo, yHi, height, kTickSpacing);
  frame.yLo = y.lo;
  frame.yHi = y.hi;
  frame.yStep = y.step;
  return frame;
}

double FrameX(const PlotFrame& frame, double x) {
  return frame.left + (x - frame.xLo) / (frame.xHi - frame.xLo) * frame.width;
}

double FrameY(const PlotFrame& frame, double y) {
  return frame.top + frame.height - (y - frame.yLo) / (frame.yHi - frame.yLo) * frame.height;
}

std::string TickText(double value, double step) {
  int decimals = 0;
  if (step > 0.0 && step < 1.0) decimals = static_cast<int>(std::ceil(-std::log10(step) - 1e-9));
  decimals = std::min(decimals, 12);
  char text[400];
  std::snprintf(text, sizeof(text), "%.*f", decimals, value);
  std::string s = text;
  if (s.find_first_not_of("-0.") == std::string::npos && s[0] == '-') s.erase(0, 1);  // no "-0"
  return s;
}

void DrawFrame(cairo_t* cr, const PlotFonts& fonts, const PlotFrame& frame,
               const std::string& title, const std::string& xName, const std::string& yName) {
  const double left = frame.left, top = frame.top;
  const double right = left + frame.width, bottom = top + frame.height;
  FillBox(cr, left, top, frame.width, frame.height, 0xffffff);
  const std::vector<double> xTicks = Ticks(frame.xLo, frame.xHi, frame.xStep);
  const std::vector<double> yTicks = Ticks(frame.yLo, frame.yHi, frame.yStep);
  SetColour(cr, kGridColour);
  cairo_set_line_width(cr, 1.0);
  for (double v : xTicks) {
    const double x = std::floor(FrameX(frame, v)) + 0.5;
    cairo_move_to(cr, x, top);
    cairo_line_to(cr, x, bottom);
  }
  for (double v : yTicks) {
    const double y = std::floor(FrameY(frame, v)) + 0.5;
    cairo_move_to(cr, left, y);
    cairo_line_to(cr, right, y);
  }
  cairo_stroke(cr);

  SetColour(cr, kMutedInkColour);
  cairo_rectangle(cr, std::floor(left) + 0.5, std::floor(top) + 0.5, std::floor(frame.width),
                  std::floor(frame.height));
  cairo_stroke(cr);
  cairo_font_extents_t font;
  UseFont(cr, fonts.regular.get(), kSmallPoints);
  cairo_font_extents(cr, &font);
  for (double v : xTicks) {
    const double x = std::floor(FrameX(frame, v)) + 0.5;
    StrokeLine(cr, x, bottom, x, bottom + kTickLength, 1.0, kMutedInkColour);
    DrawLabel(cr, fonts.regular.get(), kSmallPoints, kInkColour, TickText(v, frame.xStep), x,
              bottom + kTickLength + 2.0 + font.ascent, 0.5);
  }
  double widest = 0.0, largest = 0.0;
  for (double v : yTicks) largest = std::max(largest, std::fabs(v));
  const int32_t exponent = TickExponent(largest);
  const double unit = std::pow(10.0, exponent);
  for (double v : yTicks) {
    const double y = std::floor(FrameY(frame, v)) + 0.5;
    StrokeLine(cr, left - kTickLength, y, left, y, 1.0, kMutedInkColour);
    const std::string text = TickText(v / unit, frame.yStep / unit);
    widest = std::max(widest, LabelWidth(cr, fonts.regular.get(), kSmallPoints, text));
    DrawLabel(cr, fonts.regular.get(), kSmallPoints, kInkColour, text, left - kTickLength - 3.0,
              y + (font.ascent - font.descent) / 2.0, 1.0);
  }
  DrawLabel(cr, fonts.bold.get(), kLabelPoints, kInkColour, title, left, top - 8.0, 0.0);
  DrawLabel(cr, fonts.regular.get(), kLabelPoints, kInkColour, xName, left + frame.width / 2.0,
            bottom + kTickLength + 2.0 + 2.0 * font.height, 0.5);
  if (!yName.empty()) {
    const std::string name = exponent != 0 ? yName + ExponentNote(exponent) : yName;
    DrawUpwardLabel(
        cr, fonts.regular.get(), kLabelPoints, kInkColour, name,
        left - kTickLength - 10.0 - widest - font.height / 2.0,
        top + frame.height / 2.0 - LabelWidth(cr, fonts.regular.get(), kLabelPoints, name) / 2.0);
  }
}

void ClipToFrame(cairo_t* cr, const PlotFrame& frame) {
  cairo_save(cr);
  cairo_rectangle(cr, frame.left, frame.top, frame.width, frame.height);
  cairo_clip(cr);
}

double DrawKey(cairo_t* cr, const PlotFonts& fonts, const std::vector<KeyEntry>& entries, double x,
               double y, double right) {
  UseFont(cr, fonts.regular.get(), kSmallPoints);
  cairo_font_extents_t font;
  cairo_font_extents(cr, &font);
  const double rowHeight = std::ceil(font.height) + 4.0;
  const double sample = 22.0, gap = 6.0, spacing = 16.0;
  double at = x, row = y;
  for (const KeyEntry& entry : entries) {
    const double width =
        sample + gap + LabelWidth(cr, fonts.regular.get(), kSmallPoints, entry.name);
    if (at > x && at + width > right) {
      at = x;
      row += rowHeight;
    }
    const double middle = row + rowHeight / 2.0;
    SetColour(cr, entry.colour);
    cairo_set_line_width(cr, 2.0);
    if (entry.dashed) {
      const double dashes[] = {4.0, 3.0};
      cairo_set_dash(cr, dashes, 2, 0.0);
    }
    cairo_move_to(cr, at, middle);
    cairo_line_to(cr, at + sample, middle);
    cairo_stroke(cr);
    cairo_set_dash(cr, nullptr, 0, 0.0);
    if (entry.dot) {
      cairo_arc(cr, at + sample / 2.0, middle, 3.0, 0.0, 2.0 * M_PI);
      cairo_fill(cr);
    }
    DrawLabel(cr, fonts.regular.get(), kSmallPoints, kInkColour, entry.name, at + sample + gap,
              middle + (font.ascent - font.descent) / 2.0, 0.0);
    at += width + spacing;
  }
  return entries.empty() ? 0.0 : row + rowHeight - y;
}
