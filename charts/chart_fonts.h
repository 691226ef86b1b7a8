// Fonts of the charts: a face found through fontconfig from a font file name such as
// "timesbi.ttf", set in points at 96 pixels per inch, and text drawn against an anchor.
#pragma once

#include <cairo.h>

#include <memory>
#include <string>

// Fonts are given in points and drawn at 96 pixels per inch.
constexpr double kPixelsPerPoint = 96.0 / 72.0;

struct FontFaceDeleter {
  void operator()(cairo_font_face_t* face) const { cairo_font_face_destroy(face); }
};
using FontFace = std::unique_ptr<cairo_font_face_t, FontFaceDeleter>;

// The installed face that best fits fontFile: a family stem ("times", "arial", "cour") and a
// style suffix ("bd", "i", "bi", "z"); any other name asks for the stem as a family with a
// sans-serif fallback, and an empty name is sans-serif. Never fails for want of a font:
// without a fontconfig match, cairo's own face of the generic family is used.
FontFace LoadFontFace(const std::string& fontFile);

void UseFont(cairo_t* cr, cairo_font_face_t* face, double points);

// The advance of text in the current font, in pixels.
double TextWidth(cairo_t* cr, const std::string& text);

// Draws text with its horizontal anchor at x (align 0 left, 0.5 centre, 1 right) and its
// baseline at y.
void DrawText(cairo_t* cr, const std::string& text, double x, double y, double align);

// The font file that the face named by fontFile comes from on this machine, or "" when no
// installed font matched.
std::string ChartFontPath(const std::string& fontFile);
