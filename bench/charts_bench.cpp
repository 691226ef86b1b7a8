// Drawing and writing the two charts, against the floor of writing a blank image of the
// same size (allocating the image and encoding it as PNG, with nothing drawn).
#include <benchmark/benchmark.h>
#include <cairo.h>
#include <gsl/gsl_rng.h>

#include <cmath>
#include <string>
#include <vector>

#include "charts/plot_ap.h"
#include "charts/plot_lh.h"

namespace {

const std::string kOutput = "/tmp/emclade-bench-chart.png";

// N rows of 3 probabilities summing to 1.
Vector2D<double> Probabilities(int32_t N) {
  gsl_rng* g = gsl_rng_alloc(gsl_rng_mt19937);
  Vector2D<double> Q;
  InitVctr2D(Q, N, 3, 0.0);
  for (auto& row : Q) {
    double sum = 0.0;
    for (double& q : row) sum += (q = gsl_rng_uniform(g));
    for (double& q : row) q /= sum;
  }
  gsl_rng_free(g);
  return Q;
}

void BM_PlotAP(benchmark::State& state) {
  const Vector2D<double> Q = Probabilities(static_cast<int32_t>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(PlotAP(Q, kOutput));
}

void BM_PlotLH(benchmark::State& state) {
  std::vector<double> history(state.range(0));
  for (size_t i = 0; i < history.size(); ++i)
    history[i] = -50000.0 + 20000.0 * (1.0 - std::exp(-double(i) / 50.0));
  for (auto _ : state) benchmark::DoNotOptimize(PlotLH(history, kOutput));
}

void BM_BlankPng(benchmark::State& state) {
  const int width = static_cast<int>(state.range(0));
  for (auto _ : state) {
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, 600);
    cairo_t* cr = cairo_create(s);
    cairo_set_source_rgb(cr, 1.0, 1.0, 0.8);
    cairo_paint(cr);
    cairo_destroy(cr);
    benchmark::DoNotOptimize(cairo_surface_write_to_png(s, kOutput.c_str()));
    cairo_surface_destroy(s);
  }
}

}  // namespace

// Samples: 150 (the default) and 5,000 (a chart at the widest image).
BENCHMARK(BM_PlotAP)->Arg(150)->Arg(5000)->Unit(benchmark::kMillisecond);
// Image widths of those two charts.
BENCHMARK(BM_BlankPng)->Arg(4600)->Arg(32767)->Unit(benchmark::kMillisecond);
// Iterations: 1,000 (the default) and 100,000.
BENCHMARK(BM_PlotLH)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BlankPng)->Arg(900)->Unit(benchmark::kMillisecond);
