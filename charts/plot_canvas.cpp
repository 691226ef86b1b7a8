#include "charts/plot_canvas.h"

#include <cairo-pdf.h>
#include <cairo-svg.h>

#include <cctype>
#include <map>

#include "charts/png_file.h"

namespace {

constexpr double kPointsPerPixel = 0.75;

cairo_status_t AppendBytes(void* closure, const unsigned char* data, unsigned int length) {
  static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
  return CAIRO_STATUS_SUCCESS;
}

// cairo names an SVG's groups after a counter of every surface the process has made
// ("surface7"); numbered afresh from 1 in the order they first appear, the file no longer
// depends on what was drawn before it.
std::string RenumberSurfaces(const std::string& svg) {
  const std::string word = "surface";
  std::map<std::string, int32_t> numbers;
  std::string out;
  out.reserve(svg.size());
  size_t at = 0;
  for (size_t found; (found = svg.find(word, at)) != std::string::npos;) {
    size_t end = found + word.size();
    while (end < svg.size() && std::isdigit(static_cast<unsigned char>(svg[end]))) ++end;
    out.append(svg, at, end - at);
    if (end > found + word.size()) {
      const std::string old = svg.substr(found + word.size(), end - found - word.size());
      const auto entry = numbers.emplace(old, static_cast<int32_t>(numbers.size()) + 1).first;
      out.resize(out.size() - old.size());
      out += std::to_string(entry->second);
    }
    at = end;
  }
  out.append(svg, at, std::string::npos);
  return out;
}

}  // namespace

bool ParsePlotFormat(const std::string& name, PlotFormat& format) {
  if (name == "png")
    format = PlotFormat::kPng;
  else if (name == "svg")
    format = PlotFormat::kSvg;
  else if (name == "pdf")
    format = PlotFormat::kPdf;
  else
    return false;
  return true;
}

const char* PlotExtension(PlotFormat format) {
  switch (format) {
    case PlotFormat::kSvg:
      return "svg";
    case PlotFormat::kPdf:
      return "pdf";
    default:
      return "png";
  }
}

bool OpenPlotCanvas(PlotCanvas& canvas, PlotFormat format, int32_t width, int32_t height) {
  canvas.format = format;
  canvas.width = width;
  canvas.height = height;
  canvas.bytes.clear();
  canvas.context.reset();
  canvas.surface.reset();
  if (width <= 0 || height <= 0 || width > kMaxPlotPixels || height > kMaxPlotPixels) return false;
  const double w = width * kPointsPerPixel, h = height * kPointsPerPixel;
  cairo_surface_t* surface = nullptr;
  if (format == PlotFormat::kPng) {
    surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
  } else if (format == PlotFormat::kSvg) {
    surface = cairo_svg_surface_create_for_stream(AppendBytes, &canvas.bytes, w, h);
  } else {
    surface = cairo_pdf_surface_create_for_stream(AppendBytes, &canvas.bytes, w, h);
    // No creation or modification date: the same plot gives the same file.
    cairo_pdf_surface_set_metadata(surface, CAIRO_PDF_METADATA_CREATE_DATE, "");
    cairo_pdf_surface_set_metadata(surface, CAIRO_PDF_METADATA_MOD_DATE, "");
  }
  canvas.surface.reset(surface);
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) return false;
  canvas.context.reset(cairo_create(surface));
  cairo_t* cr = canvas.cr();
  if (cairo_status(cr) != CAIRO_STATUS_SUCCESS) return false;
  if (format != PlotFormat::kPng) cairo_scale(cr, kPointsPerPixel, kPointsPerPixel);
  cairo_set_source_rgb(cr, 1.0, 1.0, 1.0);
  cairo_paint(cr);
  return true;
}

bool ClosePlotCanvas(PlotCanvas& canvas, std::string& bytes) {
  bytes.clear();
  if (!canvas.surface || !canvas.context) return false;
  const bool drawn = cairo_status(canvas.cr()) == CAIRO_STATUS_SUCCESS;
  canvas.context.reset();
  cairo_surface_t* surface = canvas.surface.get();
  bool made = drawn;
  if (canvas.format == PlotFormat::kPng) {
    cairo_surface_flush(surface);
    made = made && EncodePng(cairo_image_surface_get_data(surface), canvas.width, canvas.height,
                             cairo_image_surface_get_stride(surface), bytes);
  } else {
    cairo_surface_finish(surface);
    made = made && cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS;
    bytes = canvas.format == PlotFormat::kSvg ? RenumberSurfaces(canvas.bytes) : canvas.bytes;
  }
  canvas.surface.reset();
  canvas.bytes.clear();
  return made;
}
