#include "charts/cluster_colours.h"

#include <cmath>

#include "charts/chart.h"

namespace {

constexpr uint32_t kSafePalette[kSafePaletteSize] = {
    0x88ccee, 0xcc6677, 0xddcc77, 0x117733, 0x332288, 0xaa4499,
    0x44aa99, 0x999933, 0x882255, 0x661100, 0x6699cc, 0x888888,
};

}  // namespace

uint32_t ClusterColour(int32_t c) {
  if (c < 0) c = 0;
  if (c < kSafePaletteSize) return kSafePalette[c];
  const int32_t i = c - kSafePaletteSize;
  static const double kValues[3] = {0.9, 0.65, 0.45};
  static const double kSaturations[3] = {0.55, 0.75, 0.6};
  return ColourFromHsv(15.0 + i * 137.50776405, kSaturations[i % 3], kValues[i % 3]);
}

std::string ClusterName(const StudyRecord& study, int32_t c) {
  const std::vector<std::string>& references = study.settings.referencePopulations;
  if (!references.empty() && !study.summaries.empty()) {
    const RunRecord& best = study.runs[study.summaries.front().best];
    if (c < static_cast<int32_t>(best.order.size())) {
      const int32_t cluster = best.order[c];
      if (cluster < static_cast<int32_t>(references.size())) return references[cluster];
    }
  }
  return std::to_string(c + 1);
}
