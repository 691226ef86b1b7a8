#include "data/vectors.h"

#include <algorithm>

#include "data/messages.h"

// A negative count or length is treated as 0: the request builds nothing rather than
// asking the allocator for a huge or negative size.
namespace {

size_t Count(int32_t n) { return n > 0 ? static_cast<size_t>(n) : 0; }

template <typename T>
bool RefuseFilled(const std::vector<T>& V, const char* routine) {
  if (V.empty()) return false;
  ReportLine(std::string("V Already Initialized - ") + routine);
  return true;
}

template <typename T>
void FillUniform2D(Vector2D<T>& V, int32_t rows, int32_t cols, T value) {
  const std::vector<T> prototype(Count(cols), value);
  V.assign(Count(rows), prototype);
}

}  // namespace

void InitVctr2D(Vector2D<double>& V, int32_t rows, int32_t cols, double value) {
  if (RefuseFilled(V, "InitVctr2D")) return;
  FillUniform2D(V, rows, cols, value);
}

void InitVctr2D(Vector2D<int32_t>& V, int32_t rows, int32_t cols, int32_t value) {
  if (RefuseFilled(V, "InitVctr2D")) return;
  FillUniform2D(V, rows, cols, value);
}

void InitVctr2D(Vector2D<double>& V, int32_t rows, const std::vector<int32_t>& lengths,
                double value) {
  if (RefuseFilled(V, "InitVctr2D")) return;
  const size_t n = std::min(Count(rows), lengths.size());
  V.reserve(n);
  for (size_t i = 0; i < n; ++i) V.emplace_back(Count(lengths[i]), value);
}

void InitVctr3D(Vector3D<int32_t>& V, int32_t d1, int32_t d2, int32_t d3, int32_t value) {
  if (RefuseFilled(V, "InitVctr3D")) return;
  Vector2D<int32_t> plane;
  FillUniform2D(plane, d2, d3, value);
  V.assign(Count(d1), plane);
}

void InitVctr3D(Vector3D<double>& V, int32_t d1, int32_t d2, const std::vector<int32_t>& lengths,
                double value) {
  if (RefuseFilled(V, "InitVctr3D")) return;
  Vector2D<double> plane;
  const size_t n = std::min(Count(d2), lengths.size());
  plane.reserve(n);
  for (size_t j = 0; j < n; ++j) plane.emplace_back(Count(lengths[j]), value);
  V.assign(Count(d1), plane);
}
