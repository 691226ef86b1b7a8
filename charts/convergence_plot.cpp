#include "charts/convergence_plot.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "charts/cluster_colours.h"
#include "charts/plot_frame.h"
#include "study/alignment.h"

namespace {

constexpr int32_t kFrameLeft = 90, kFrameTop = 64, kFrameWidth = 760, kFrameHeight = 330;
constexpr int32_t kWidth = kFrameLeft + kFrameWidth + 30;
constexpr int32_t kKeyTop = kFrameTop + kFrameHeight + 46;
constexpr size_t kKeyModes = 8;  // modes named in the key at most

// Mode m's colour: the palette's strongest colours first, as thin lines on white need them.
uint32_t ModeColour(int32_t m) {
  static const int32_t kOrder[kSafePaletteSize] = {4, 1, 3, 5, 6, 9, 7, 8, 2, 10, 0, 11};
  const int32_t i = std::max(0, m - 1);
  return ClusterColour(i < kSafePaletteSize ? kOrder[i] : i);
}

// The iteration of a run from which the frame's scale takes its log-likelihood: the first
// tenth of a run of 20 iterations or more climbs so steeply that, drawn in full, it would
// flatten everything after it.
size_t FirstShown(const std::vector<double>& history) {
  if (history.size() < 20) return 0;
  return std::min(history.size() - 1, std::max<size_t>(1, history.size() / 10));
}

// The run's line, cut to the frame's pixel columns: where several iterations fall into one
// column only the lowest and highest of them are drawn (the line looks the same).
void DrawHistory(cairo_t* cr, const PlotFrame& frame, const std::vector<double>& history,
                 uint32_t colour, double width) {
  SetColour(cr, colour);
  cairo_set_line_width(cr, width);
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
  bool open = false;
  int64_t column = INT64_MIN;
  double columnLo = 0.0, columnHi = 0.0, columnX = 0.0;
  auto flush = [&]() {
    if (column == INT64_MIN) return;
    const double yLo = FrameY(frame, columnLo), yHi = FrameY(frame, columnHi);
    if (open) {
      cairo_line_to(cr, columnX, yLo);
    } else {
      cairo_move_to(cr, columnX, yLo);
      open = true;
    }
    if (yHi != yLo) cairo_line_to(cr, columnX, yHi);
  };
  for (size_t t = 0; t < history.size(); ++t) {
    const double v = history[t];
    if (!std::isfinite(v)) {
      flush();
      column = INT64_MIN;
      open = false;
      continue;
    }
    const double x = FrameX(frame, static_cast<double>(t + 1));
    const int64_t c = static_cast<int64_t>(std::floor(x));
    if (c != column) {
      flush();
      column = c;
      columnLo = columnHi = v;
      columnX = x;
    } else {
      columnLo = std::min(columnLo, v);
      columnHi = std::max(columnHi, v);
    }
  }
  flush();
  if (history.size() == 1 && std::isfinite(history[0])) {
    cairo_arc(cr, FrameX(frame, 1.0), FrameY(frame, history[0]), 3.0, 0.0, 2.0 * M_PI);
    cairo_fill(cr);
  }
  cairo_stroke(cr);
}

}  // namespace

bool DrawConvergencePlot(const StudyRecord& study, PlotFormat format, std::string& bytes) {
  const int32_t K = study.chosenK;
  const std::vector<int32_t> runs = RunsOfK(study, K);
  int32_t modes = 0;
  size_t longest = 1;
  double lo = INFINITY, hi = -INFINITY;
  bool cut = false;
  for (int32_t i : runs) {
    const RunRecord& run = study.runs[i];
    modes = std::max(modes, run.mode);
    longest = std::max(longest, run.history.size());
    const size_t first = FirstShown(run.history);
    for (size_t t = 0; t < run.history.size(); ++t) {
      if (!std::isfinite(run.history[t])) continue;
      if (t >= first) {
        lo = std::min(lo, run.history[t]);
        hi = std::max(hi, run.history[t]);
      }
    }
    cut = cut || first > 0;
  }
  const PlotFrame frame =
      MakeFrame(kFrameLeft, kFrameTop, kFrameWidth, kFrameHeight, 1.0,
                std::max<double>(2.0, static_cast<double>(longest)), 1.0, lo, hi);
  std::vector<int32_t> modeSizes(modes + 1, 0);
  for (int32_t i : runs) ++modeSizes[std::max(0, study.runs[i].mode)];
  std::vector<KeyEntry> key;
  for (int32_t m = 1; m <= modes && key.size() < kKeyModes; ++m) {
    if (modeSizes[m] == 0) continue;
    key.push_back({"mode " + std::to_string(m) + " (" + std::to_string(modeSizes[m]) +
                       (modeSizes[m] == 1 ? " replicate)" : " replicates)"),
                   ModeColour(m), false, false});
  }
  if (modes > static_cast<int32_t>(kKeyModes)) {
    key.push_back(
        {"and " + std::to_string(modes - kKeyModes) + " more modes", 0xaaaaaa, false, false});
  }

  PlotCanvas canvas;
  if (!OpenPlotCanvas(canvas, format, kWidth, kKeyTop + 44)) return false;
  cairo_t* cr = canvas.cr();
  PlotFonts fonts;
  DrawLabel(cr, fonts.bold.get(), kTitlePoints, kInkColour,
            "Convergence at K = " + std::to_string(K) + " (lowest BIC): " +
                std::to_string(runs.size()) + (runs.size() == 1 ? " replicate" : " replicates"),
            kFrameLeft, 22.0, 0.0);
  DrawFrame(cr, fonts, frame,
            cut ? "Log-likelihood by iteration (the first tenth of each run climbs from below)"
                : "Log-likelihood by iteration",
            "iteration", "log-likelihood");
  ClipToFrame(cr, frame);
  // The later modes first, so that the best mode's lines lie on top; the best replicate last.
  int32_t best = -1;
  for (const KSummary& s : study.summaries) {
    if (s.K == K) best = s.best;
  }
  for (int32_t m = modes; m >= 0; --m) {
    for (int32_t i : runs) {
      if (study.runs[i].mode == m && i != best) {
        DrawHistory(cr, frame, study.runs[i].history, ModeColour(m), 1.5);
      }
    }
  }
  if (best >= 0)
    DrawHistory(cr, frame, study.runs[best].history, ModeColour(study.runs[best].mode), 2.5);
  cairo_restore(cr);
  DrawKey(cr, fonts, key, kFrameLeft, kKeyTop, kFrameLeft + kFrameWidth);
  return ClosePlotCanvas(canvas, bytes);
}
