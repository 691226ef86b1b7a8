#include "charts/plot_drawing.h"

#include <cmath>

void SetColour(cairo_t* cr, uint32_t rgb) {
  cairo_set_source_rgb(cr, ((rgb >> 16) & 0xff) / 255.0, ((rgb >> 8) & 0xff) / 255.0,
                       (rgb & 0xff) / 255.0);
}

void FillBox(cairo_t* cr, double x, double y, double width, double height, uint32_t rgb) {
  SetColour(cr, rgb);
  cairo_rectangle(cr, x, y, width, height);
  cairo_fill(cr);
}

void StrokeLine(cairo_t* cr, double x0, double y0, double x1, double y1, double width,
                uint32_t rgb) {
  SetColour(cr, rgb);
  cairo_set_line_width(cr, width);
  cairo_move_to(cr, x0, y0);
  cairo_line_to(cr, x1, y1);
  cairo_stroke(cr);
}

void DrawLabel(cairo_t* cr, cairo_font_face_t* face, double points, uint32_t rgb,
               const std::string& text, double x, double y, double align) {
  UseFont(cr, face, points);
  SetColour(cr, rgb);
  DrawText(cr, text, x, y, align);
}

void DrawUpwardLabel(cairo_t* cr, cairo_font_face_t* face, double points, uint32_t rgb,
                     const std::string& text, double x, double y) {
  UseFont(cr, face, points);
  SetColour(cr, rgb);
  cairo_font_extents_t font;
  cairo_font_extents(cr, &font);
  cairo_save(cr);
  cairo_translate(cr, x + (font.ascent - font.descent) / 2.0, y);
  cairo_rotate(cr, -M_PI / 2.0);
  DrawText(cr, text, 0.0, 0.0, 1.0);
  cairo_restore(cr);
}

double LabelWidth(cairo_t* cr, cairo_font_face_t* face, double points, const std::string& text) {
  UseFont(cr, face, points);
  return TextWidth(cr, text);
}

std::string FitLabel(cairo_t* cr, cairo_font_face_t* face, double points, const std::string& text,
                     double width) {
  UseFont(cr, face, points);
  if (TextWidth(cr, text) <= width) return text;
  const std::string ellipsis = "\xe2\x80\xa6";
  std::string cut = text;
  while (!cut.empty()) {
    // Drop one UTF-8 character: its continuation bytes, then its lead byte.
    while (!cut.empty() && (static_cast<unsigned char>(cut.back()) & 0xc0) == 0x80) cut.pop_back();
    if (!cut.empty()) cut.pop_back();
    if (TextWidth(cr, cut + ellipsis) <= width) break;
  }
  return cut + ellipsis;
}
