// The drawing surface of the study's plots: one image drawn with cairo and handed out as the
// bytes of a PNG, SVG or PDF file. The vector files are sized so that they show at the PNG's
// size (a pixel is 0.75 pt) and hold nothing that changes from one run to the next (no date,
// no process-wide counters), so the same drawing gives the same bytes.
#pragma once

#include <cairo.h>

#include <cstdint>
#include <memory>
#include <string>

enum class PlotFormat { kPng, kSvg, kPdf };

// "png", "svg" or "pdf"; false for any other name.
bool ParsePlotFormat(const std::string& name, PlotFormat& format);
// The file name ending of the format: "png", "svg" or "pdf".
const char* PlotExtension(PlotFormat format);

struct SurfaceDeleter {
  void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
struct ContextDeleter {
  void operator()(cairo_t* cr) const { cairo_destroy(cr); }
};

struct PlotCanvas {
  PlotFormat format = PlotFormat::kPng;
  int32_t width = 0, height = 0;  // pixels
  std::string bytes;              // the vector formats' output as cairo writes it
  std::unique_ptr<cairo_surface_t, SurfaceDeleter> surface;
  std::unique_ptr<cairo_t, ContextDeleter> context;
  cairo_t* cr() const { return context.get(); }
};

// Largest width or height of a plot in pixels.
constexpr int32_t kMaxPlotPixels = 32767;

// A canvas of width x height pixels painted white, drawn on in pixel units. False when cairo
// cannot make it (a size beyond kMaxPlotPixels, say).
bool OpenPlotCanvas(PlotCanvas& canvas, PlotFormat format, int32_t width, int32_t height);

// Ends the drawing and sets bytes to the file's content. False when cairo failed on the way.
bool ClosePlotCanvas(PlotCanvas& canvas, std::string& bytes);
