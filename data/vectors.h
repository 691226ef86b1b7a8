// Nested growable tables and their initialisers. Every matrix of a run is made
// through InitVctr2D or InitVctr3D, which refuse a target that already has rows.
#pragma once

#include <cstdint>
#include <vector>

template <typename T>
using Vector2D = std::vector<std::vector<T>>;
template <typename T>
using Vector3D = std::vector<Vector2D<T>>;

// rows x cols, every entry = value.
void InitVctr2D(Vector2D<double>& V, int32_t rows, int32_t cols, double value);
void InitVctr2D(Vector2D<int32_t>& V, int32_t rows, int32_t cols, int32_t value);
// Jagged: row i has lengths[i] entries (lengths holds at least rows entries).
void InitVctr2D(Vector2D<double>& V, int32_t rows, const std::vector<int32_t>& lengths,
                double value);

// d1 x d2 x d3, every entry = value.
void InitVctr3D(Vector3D<int32_t>& V, int32_t d1, int32_t d2, int32_t d3, int32_t value);
// d1 x d2 x lengths[j] (lengths holds at least d2 entries).
void InitVctr3D(Vector3D<double>& V, int32_t d1, int32_t d2, const std::vector<int32_t>& lengths,
                double value);
