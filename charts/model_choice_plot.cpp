#include "charts/model_choice_plot.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "charts/plot_frame.h"
#include "study/model_choice.h"

namespace {

constexpr int32_t kFrameWidth = 300, kFrameHeight = 230;
constexpr int32_t kFrameLeft = 78;  // room for the tick labels and the axis name
constexpr int32_t kPanelWidth = kFrameLeft + kFrameWidth + 22;
constexpr int32_t kFrameTop = 64;
constexpr int32_t kKeyTop = kFrameTop + kFrameHeight + 46;
constexpr int32_t kHeight = kKeyTop + 34;
constexpr uint32_t kBestColour = 0x332288, kMeanColour = 0xcc6677;
constexpr uint32_t kAicColour = 0x117733, kBicColour = 0x332288, kIclColour = 0xcc6677;
constexpr uint32_t kDeltaColour = 0xaa4499, kChosenColour = 0x888888, kCvColour = 0x117733;

// The finite values' range, widened by the given ones.
void Widen(double v, double& lo, double& hi) {
  if (!std::isfinite(v)) return;
  lo = std::min(lo, v);
  hi = std::max(hi, v);
}

// A line through the finite points (a non-finite value breaks it), with a dot at each.
void DrawSeries(cairo_t* cr, const PlotFrame& frame, const std::vector<double>& xs,
                const std::vector<double>& ys, uint32_t colour, bool dashed) {
  SetColour(cr, colour);
  cairo_set_line_width(cr, 2.0);
  if (dashed) {
    const double dashes[] = {5.0, 3.0};
    cairo_set_dash(cr, dashes, 2, 0.0);
  }
  bool open = false;
  for (size_t i = 0; i < xs.size(); ++i) {
    if (!std::isfinite(ys[i])) {
      open = false;
      continue;
    }
    const double x = FrameX(frame, xs[i]), y = FrameY(frame, ys[i]);
    if (open) {
      cairo_line_to(cr, x, y);
    } else {
      cairo_move_to(cr, x, y);
      open = true;
    }
  }
  cairo_stroke(cr);
  cairo_set_dash(cr, nullptr, 0, 0.0);
  for (size_t i = 0; i < xs.size(); ++i) {
    if (!std::isfinite(ys[i])) continue;
    cairo_arc(cr, FrameX(frame, xs[i]), FrameY(frame, ys[i]), 3.5, 0.0, 2.0 * M_PI);
    cairo_fill(cr);
  }
}

void MarkChosen(cairo_t* cr, const PlotFrame& frame, int32_t chosenK) {
  if (chosenK <= 0) return;
  const double x = std::floor(FrameX(frame, chosenK)) + 0.5;
  const double dashes[] = {4.0, 3.0};
  cairo_set_dash(cr, dashes, 2, 0.0);
  StrokeLine(cr, x, frame.top, x, frame.top + frame.height, 1.5, kChosenColour);
  cairo_set_dash(cr, nullptr, 0, 0.0);
}

}  // namespace

bool DrawModelChoicePlot(const StudyRecord& study, PlotFormat format, std::string& bytes) {
  std::vector<double> Ks, best, mean, sd, aic, bic, icl, delta, cv, cvSe;
  for (const KSummary& s : study.summaries) {
    Ks.push_back(s.K);
    best.push_back(s.loglikBest);
    mean.push_back(s.loglikMean);
    sd.push_back(s.loglikSd);
    aic.push_back(s.AIC);
    bic.push_back(s.BIC);
    icl.push_back(s.ICL);
    delta.push_back(s.deltaK);
    cv.push_back(s.cvError);
    cvSe.push_back(s.cvSe);
  }
  const bool crossValidated = study.settings.cvFolds > 0;
  const double kLo = Ks.empty() ? 0.5 : Ks.front() - 0.5, kHi = Ks.empty() ? 1.5 : Ks.back() + 0.5;

  PlotCanvas canvas;
  if (!OpenPlotCanvas(canvas, format, (crossValidated ? 4 : 3) * kPanelWidth + 10, kHeight)) {
    return false;
  }
  cairo_t* cr = canvas.cr();
  PlotFonts fonts;
  std::string title = "Choice of K";
  if (study.chosenK > 0) {
    title += std::string(": ") + ChoiceCriterion(study.settings) +
             " at K = " + std::to_string(study.chosenK);
  }
  DrawLabel(cr, fonts.bold.get(), kTitlePoints, kInkColour, title, kFrameLeft, 22.0, 0.0);

  // Log-likelihood: the mean with a bar of one standard deviation either side, then the best.
  double lo = INFINITY, hi = -INFINITY;
  for (size_t i = 0; i < Ks.size(); ++i) {
    Widen(best[i], lo, hi);
    Widen(mean[i], lo, hi);
    if (std::isfinite(sd[i])) {
      Widen(mean[i] - sd[i], lo, hi);
      Widen(mean[i] + sd[i], lo, hi);
    }
  }
  PlotFrame frame =
      MakeFrame(kFrameLeft, kFrameTop, kFrameWidth, kFrameHeight, kLo, kHi, 1.0, lo, hi);
  DrawFrame(cr, fonts, frame, "Log-likelihood (higher is better)", "K", "log-likelihood");
  ClipToFrame(cr, frame);
  MarkChosen(cr, frame, study.chosenK);
  for (size_t i = 0; i < Ks.size(); ++i) {
    if (!std::isfinite(mean[i]) || !std::isfinite(sd[i])) continue;
    const double x = FrameX(frame, Ks[i]) + 0.5;
    const double y0 = FrameY(frame, mean[i] - sd[i]), y1 = FrameY(frame, mean[i] + sd[i]);
    StrokeLine(cr, x, y0, x, y1, 1.5, kMeanColour);
    StrokeLine(cr, x - 4.0, y0, x + 4.0, y0, 1.5, kMeanColour);
    StrokeLine(cr, x - 4.0, y1, x + 4.0, y1, 1.5, kMeanColour);
  }
  DrawSeries(cr, frame, Ks, mean, kMeanColour, true);
  DrawSeries(cr, frame, Ks, best, kBestColour, false);
  cairo_restore(cr);
  DrawKey(cr, fonts,
          {{"best replicate", kBestColour, false, true},
           {"mean \xc2\xb1 sd of replicates", kMeanColour, true, true}},
          kFrameLeft, kKeyTop, kFrameLeft + kFrameWidth);

  // The information criteria on one scale.
  lo = INFINITY;
  hi = -INFINITY;
  for (size_t i = 0; i < Ks.size(); ++i) {
    Widen(aic[i], lo, hi);
    Widen(bic[i], lo, hi);
    Widen(icl[i], lo, hi);
  }
  const double left2 = kPanelWidth + kFrameLeft;
  frame = MakeFrame(left2, kFrameTop, kFrameWidth, kFrameHeight, kLo, kHi, 1.0, lo, hi);
  DrawFrame(cr, fonts, frame, "Information criteria (lower is better)", "K", "criterion");
  ClipToFrame(cr, frame);
  MarkChosen(cr, frame, study.chosenK);
  DrawSeries(cr, frame, Ks, aic, kAicColour, false);
  DrawSeries(cr, frame, Ks, icl, kIclColour, true);
  DrawSeries(cr, frame, Ks, bic, kBicColour, false);
  cairo_restore(cr);
  DrawKey(cr, fonts,
          {{"AIC", kAicColour, false, true},
           {"BIC", kBicColour, false, true},
           {"ICL", kIclColour, true, true},
           {"chosen K", kChosenColour, true, false}},
          left2, kKeyTop, left2 + kFrameWidth);

  // Evanno's delta K: finite values on a scale from 0; an infinite one (replicates that all
  // agree) as a triangle at the top edge.
  lo = 0.0;
  hi = -INFINITY;
  bool defined = false;
  for (size_t i = 0; i < Ks.size(); ++i) {
    Widen(delta[i], lo, hi);
    defined = defined || !std::isnan(delta[i]);
  }
  if (!(hi > lo)) hi = 1.0;
  const double left3 = 2 * kPanelWidth + kFrameLeft;
  frame = MakeFrame(left3, kFrameTop, kFrameWidth, kFrameHeight, kLo, kHi, 1.0, lo, hi);
  DrawFrame(cr, fonts, frame, "Evanno's \xce\x94K", "K", "\xce\x94K");
  ClipToFrame(cr, frame);
  MarkChosen(cr, frame, study.chosenK);
  DrawSeries(cr, frame, Ks, delta, kDeltaColour, false);
  cairo_restore(cr);
  for (size_t i = 0; i < Ks.size(); ++i) {
    if (!std::isinf(delta[i])) continue;
    const double x = FrameX(frame, Ks[i]), y = frame.top + 2.0;
    SetColour(cr, kDeltaColour);
    cairo_move_to(cr, x, y);
    cairo_line_to(cr, x - 5.0, y + 9.0);
    cairo_line_to(cr, x + 5.0, y + 9.0);
    cairo_close_path(cr);
    cairo_fill(cr);
    DrawLabel(cr, fonts.regular.get(), kSmallPoints, kDeltaColour, "\xe2\x88\x9e", x + 7.0,
              y + 10.0, 0.0);
  }
  if (!defined) {
    DrawLabel(cr, fonts.regular.get(), kSmallPoints, kMutedInkColour,
              "not defined: needs K - 1, K and K + 1", left3 + kFrameWidth / 2.0,
              kFrameTop + kFrameHeight / 2.0 - 6.0, 0.5);
    DrawLabel(cr, fonts.regular.get(), kSmallPoints, kMutedInkColour,
              "in the sweep and 2 or more replicates", left3 + kFrameWidth / 2.0,
              kFrameTop + kFrameHeight / 2.0 + 10.0, 0.5);
  }
  DrawKey(cr, fonts,
          {{"\xce\x94K = |m(K+1) \xe2\x88\x92 2m(K) + m(K\xe2\x88\x92"
            "1)| / s(K)",
            kDeltaColour, false, true}},
          left3, kKeyTop, left3 + kFrameWidth);

  // The cross-validation error with a bar of one standard error either side.
  if (crossValidated) {
    lo = INFINITY;
    hi = -INFINITY;
    for (size_t i = 0; i < Ks.size(); ++i) {
      Widen(cv[i], lo, hi);
      if (std::isfinite(cvSe[i])) {
        Widen(cv[i] - cvSe[i], lo, hi);
        Widen(cv[i] + cvSe[i], lo, hi);
      }
    }
    const double left4 = 3 * kPanelWidth + kFrameLeft;
    frame = MakeFrame(left4, kFrameTop, kFrameWidth, kFrameHeight, kLo, kHi, 1.0, lo, hi);
    DrawFrame(cr, fonts, frame,
              std::to_string(study.settings.cvFolds) + "-fold cross-validation (lower is better)",
              "K", "deviance per genotype");
    ClipToFrame(cr, frame);
    MarkChosen(cr, frame, study.chosenK);
    for (size_t i = 0; i < Ks.size(); ++i) {
      if (!std::isfinite(cv[i]) || !std::isfinite(cvSe[i])) continue;
      const double x = FrameX(frame, Ks[i]) + 0.5;
      const double y0 = FrameY(frame, cv[i] - cvSe[i]), y1 = FrameY(frame, cv[i] + cvSe[i]);
      StrokeLine(cr, x, y0, x, y1, 1.5, kCvColour);
      StrokeLine(cr, x - 4.0, y0, x + 4.0, y0, 1.5, kCvColour);
      StrokeLine(cr, x - 4.0, y1, x + 4.0, y1, 1.5, kCvColour);
    }
    DrawSeries(cr, frame, Ks, cv, kCvColour, false);
    cairo_restore(cr);
    DrawKey(cr, fonts, {{"cv_error \xc2\xb1 cv_se", kCvColour, false, true}}, left4, kKeyTop,
            left4 + kFrameWidth);
  }
  return ClosePlotCanvas(canvas, bytes);
}
