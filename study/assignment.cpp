#include "study/assignment.h"

#include <algorithm>
#include <cmath>
#include <limits>

std::vector<int32_t> MinimumCostAssignment(const std::vector<double>& cost, int32_t rows,
                                           int32_t cols) {
  const int32_t n = rows, m = cols;
  constexpr double kInfinity = std::numeric_limits<double>::infinity();
  auto a = [&](int32_t i, int32_t j) {
    const double c = cost[static_cast<size_t>(i - 1) * m + (j - 1)];
    return std::isfinite(c) ? c : 1e300;
  };
  // Rows and columns from 1; column 0 is the virtual start of each augmenting path.
  // u, v: potentials with u[i] + v[j] <= a(i, j); p[j]: the row matched to column j.
  std::vector<double> u(n + 1, 0.0), v(m + 1, 0.0), minv(m + 1);
  std::vector<int32_t> p(m + 1, 0), way(m + 1, 0);
  std::vector<char> used(m + 1);
  for (int32_t i = 1; i <= n; ++i) {
    p[0] = i;
    int32_t j0 = 0;
    std::fill(minv.begin(), minv.end(), kInfinity);
    std::fill(used.begin(), used.end(), 0);
    do {
      used[j0] = 1;
      const int32_t i0 = p[j0];
      double delta = kInfinity;
      int32_t j1 = 0;
      for (int32_t j = 1; j <= m; ++j) {
        if (used[j]) continue;
        const double reduced = a(i0, j) - u[i0] - v[j];
        if (reduced < minv[j]) {
          minv[j] = reduced;
          way[j] = j0;
        }
        if (minv[j] < delta || j1 == 0) {
          delta = minv[j];
          j1 = j;
        }
      }
      for (int32_t j = 0; j <= m; ++j) {
        if (used[j]) {
          u[p[j]] += delta;
          v[j] -= delta;
        } else {
          minv[j] -= delta;
        }
      }
      j0 = j1;
    } while (p[j0] != 0);
    do {
      const int32_t j1 = way[j0];
      p[j0] = p[j1];
      j0 = j1;
    } while (j0 != 0);
  }
  std::vector<int32_t> assigned(n, -1);
  for (int32_t j = 1; j <= m; ++j) {
    if (p[j] != 0) assigned[p[j] - 1] = j - 1;
  }
  return assigned;
}

std::vector<int32_t> MaximumWeightAssignment(const std::vector<double>& weight, int32_t rows,
                                             int32_t cols) {
  std::vector<double> cost(weight.size());
  for (size_t i = 0; i < weight.size(); ++i) cost[i] = -weight[i];
  return MinimumCostAssignment(cost, rows, cols);
}
