#include "charts/cluster_colours.h"

#include <cmath>

namespace {

constexpr uint32_t kSafePalette[kSafePaletteSize] = {
    0x88ccee, 0xcc6677, 0xddcc77, 0x117733, 0x332288, 0xaa4499,
    0x44aa99, 0x999933, 0x882255, 0x661100, 0x6699cc, 0x888888,
};

// HSV (hue in degrees) to 0xRRGGBB.
uint32_t FromHsv(double hue, double saturation, double value) {
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
  auto byte = [m](double v) { return static_cast<uint32_t>(std::lround((v + m) * 255.0)); };
  return (byte(r) << 16) | (byte(g) << 8) | byte(b);
}

}  // namespace

uint32_t ClusterColour(int32_t c) {
  if (c < 0) c = 0;
  if (c < kSafePaletteSize) return kSafePalette[c];
  const int32_t i = c - kSafePaletteSize;
  static const double kValues[3] = {0.9, 0.65, 0.45};
  static const double kSaturations[3] = {0.55, 0.75, 0.6};
  return FromHsv(15.0 + i * 137.50776405, kSaturations[i % 3], kValues[i % 3]);
}
