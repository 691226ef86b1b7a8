// A framed panel of a line plot: a rectangle in pixels with a value scale on each axis, a
// grid at the ticks, tick labels, a title above and axis names beside it.
#pragma once

#include <cairo.h>

#include <string>
#include <vector>

#include "charts/plot_drawing.h"

struct PlotFrame {
  double left = 0, top = 0, width = 0, height = 0;  // the plotting rectangle, pixels
  double xLo = 0, xHi = 1, yLo = 0, yHi = 1;        // the values at its edges
  double xStep = 1, yStep = 1;                      // between ticks
};

// A round step (1, 2 or 5 times a power of ten, never below least) for ticks about
// spacing pixels apart over lo..hi drawn across pixels.
double TickStep(double lo, double hi, double pixels, double spacing, double least);

// The frame over the rectangle: x from xLo to xHi as given (ticks at the multiples of a
// step of at least xLeast), y widened to whole steps round yLo..yHi (a zero-width range
// gets room either side).
PlotFrame MakeFrame(double left, double top, double width, double height, double xLo, double xHi,
                    double xLeast, double yLo, double yHi);

double FrameX(const PlotFrame& frame, double x);
double FrameY(const PlotFrame& frame, double y);

// The grid, the frame, the tick labels (with as many decimals as the step needs), the
// title above the frame and the names of both axes.
void DrawFrame(cairo_t* cr, const PlotFonts& fonts, const PlotFrame& frame,
               const std::string& title, const std::string& xName, const std::string& yName);

// Restricts drawing to the frame's rectangle until cairo_restore.
void ClipToFrame(cairo_t* cr, const PlotFrame& frame);

// A key of coloured line samples and names in one row from (x, y), wrapping at right.
// Returns the height it took.
struct KeyEntry {
  std::string name;
  uint32_t colour = 0;
  bool dashed = false;
  bool dot = true;
};
double DrawKey(cairo_t* cr, const PlotFonts& fonts, const std::vector<KeyEntry>& entries, double x,
               double y, double right);

// A tick's text: the value with the decimals that step needs.
std::string TickText(double value, double step);
