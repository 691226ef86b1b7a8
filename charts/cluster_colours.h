// The colours of the study's clusters: cluster c (0-based, in the sweep's aligned order) has
// the same colour at every K and in every plot.
#pragma once

#include <cstdint>
#include <string>

#include "study/study.h"

// 0xRRGGBB of cluster c: for c < 12 a qualitative palette that readers with the common
// colour-vision deficiencies still tell apart (Paul Tol's colours in the order of CARTO's
// "Safe" scheme); beyond it, hues a golden angle apart in three lightness levels.
uint32_t ClusterColour(int32_t c);

// How many clusters the fixed palette covers.
constexpr int32_t kSafePaletteSize = 12;

// The name of aligned cluster c in the pictures and the report: in a supervised sweep the
// reference population it holds (through the best run's alignment of the sweep's one K);
// otherwise its number, c + 1.
std::string ClusterName(const StudyRecord& study, int32_t c);
