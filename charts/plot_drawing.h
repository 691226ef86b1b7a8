// Drawing pieces shared by the study's plots: colours, boxes and lines on whole pixels, and
// labels in the plots' two faces.
#pragma once

#include <cairo.h>

#include <cstdint>
#include <string>

#include "charts/chart_fonts.h"

constexpr uint32_t kInkColour = 0x000000;
constexpr uint32_t kMutedInkColour = 0x555555;
constexpr uint32_t kGridColour = 0xe3e3e3;
constexpr double kLabelPoints = 10.0;
constexpr double kSmallPoints = 9.0;
constexpr double kTitlePoints = 12.0;

// The faces of the plots' text, loaded once per plot.
struct PlotFonts {
  FontFace regular = LoadFontFace("arial.ttf");
  FontFace bold = LoadFontFace("arialbd.ttf");
};

void SetColour(cairo_t* cr, uint32_t rgb);

// Fills the rectangle in colour.
void FillBox(cairo_t* cr, double x, double y, double width, double height, uint32_t rgb);

// A line of width pixels from (x0, y0) to (x1, y1).
void StrokeLine(cairo_t* cr, double x0, double y0, double x1, double y1, double width,
                uint32_t rgb);

// A horizontal label: text in face at points, its anchor at x (align 0 left, 0.5 centre,
// 1 right) and its baseline at y.
void DrawLabel(cairo_t* cr, cairo_font_face_t* face, double points, uint32_t rgb,
               const std::string& text, double x, double y, double align);

// A label turned a quarter left (reading upwards), its end at (x, y) and its middle
// height on x.
void DrawUpwardLabel(cairo_t* cr, cairo_font_face_t* face, double points, uint32_t rgb,
                     const std::string& text, double x, double y);

// The width of text in face at points.
double LabelWidth(cairo_t* cr, cairo_font_face_t* face, double points, const std::string& text);

// text cut, with an ellipsis, to at most width pixels in face at points.
std::string FitLabel(cairo_t* cr, cairo_font_face_t* face, double points, const std::string& text,
                     double width);
