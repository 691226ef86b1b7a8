#include "charts/chart_fonts.h"

#include <cairo-ft.h>
#include <fontconfig/fontconfig.h>

#include <cctype>
#include <vector>

namespace {

struct FontRequest {
  std::vector<std::string> families;  // in order of preference
  bool bold = false;
  bool italic = false;
};

// A font file name as "timesbi.ttf": a family stem and a style suffix ("bd", "i", "bi",
// "z"). Known stems name their family and a generic fallback; any other file name asks
// for the stem as a family with a sans-serif fallback. An empty name is sans-serif.
FontRequest FontRequestFromFile(const std::string& fontFile) {
  struct Family {
    const char* stem;
    const char* family;
    const char* generic;
  };
  static const Family kFamilies[] = {
      {"times", "Times New Roman", "serif"},
      {"arial", "Arial", "sans-serif"},
      {"cour", "Courier New", "monospace"},
  };
  std::string stem = fontFile.substr(fontFile.find_last_of("/\\") + 1);
  stem = stem.substr(0, stem.find('.'));
  for (char& c : stem) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));

  FontRequest request;
  std::string style;
  for (const Family& f : kFamilies) {
    const std::string s = f.stem;
    if (stem.compare(0, s.size(), s) == 0) {
      request.families = {f.family, f.generic};
      style = stem.substr(s.size());
      break;
    }
  }
  if (request.families.empty()) {
    if (!stem.empty()) request.families.push_back(stem);
    request.families.push_back("sans-serif");
  }
  request.bold = style == "bd" || style == "b" || style == "bi" || style == "z";
  request.italic = style == "i" || style == "bi" || style == "z";
  return request;
}

// The installed face that best fits the request, or null when fontconfig has none.
FcPattern* MatchFont(const FontRequest& request) {
  FcPattern* pattern = FcPatternCreate();
  if (pattern == nullptr) return nullptr;
  for (const std::string& family : request.families)
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
  FcPatternAddInteger(pattern, FC_WEIGHT, request.bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
  FcPatternAddInteger(pattern, FC_SLANT, request.italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
  FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  FcResult result = FcResultNoMatch;
  FcPattern* match = FcFontMatch(nullptr, pattern, &result);
  FcPatternDestroy(pattern);
  return match;
}

}  // namespace

FontFace LoadFontFace(const std::string& fontFile) {
  const FontRequest request = FontRequestFromFile(fontFile);
  if (FcPattern* match = MatchFont(request)) {
    cairo_font_face_t* face = cairo_ft_font_face_create_for_pattern(match);
    FcPatternDestroy(match);
    if (cairo_font_face_status(face) == CAIRO_STATUS_SUCCESS) return FontFace(face);
    cairo_font_face_destroy(face);
  }
  return FontFace(
      cairo_toy_font_face_create(request.families.back().c_str(),
                                 request.italic ? CAIRO_FONT_SLANT_ITALIC : CAIRO_FONT_SLANT_NORMAL,
                                 request.bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL));
}

void UseFont(cairo_t* cr, cairo_font_face_t* face, double points) {
  cairo_set_font_face(cr, face);
  cairo_set_font_size(cr, points * kPixelsPerPoint);
}

double TextWidth(cairo_t* cr, const std::string& text) {
  cairo_text_extents_t extents;
  cairo_text_extents(cr, text.c_str(), &extents);
  return extents.x_advance;
}

void DrawText(cairo_t* cr, const std::string& text, double x, double y, double align) {
  cairo_move_to(cr, x - align * TextWidth(cr, text), y);
  cairo_show_text(cr, text.c_str());
}

std::string ChartFontPath(const std::string& fontFile) {
  FcPattern* match = MatchFont(FontRequestFromFile(fontFile));
  if (match == nullptr) return "";
  FcChar8* file = nullptr;
  std::string path;
  if (FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch) path = (const char*)file;
  FcPatternDestroy(match);
  return path;
}
