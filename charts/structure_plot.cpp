#include "charts/structure_plot.h"

#include <algorithm>
#include <cmath>

#include "charts/cluster_colours.h"
#include "charts/plot_drawing.h"
#include "charts/structure_order.h"

namespace {

constexpr int32_t kLeftMargin = 84;  // room for "K = 10" and "lowest BIC"
constexpr int32_t kRightMargin = 24;
constexpr int32_t kPanelHeight = 84;
constexpr int32_t kPanelGap = 6;
constexpr double kLongestLabel = 160.0;  // pixels of an upward population name at most
constexpr uint32_t kSeparatorColour = 0x000000;
constexpr uint32_t kEmptyColour = 0xeeeeee;  // a column without any membership to show

// Where everything goes, in pixels.
struct Layout {
  int32_t width = 0, height = 0;
  int32_t barsLeft = kLeftMargin, barsWidth = 0;  // separators included
  int32_t firstPanelTop = 0;
  int32_t labelsTop = 0;  // below the last panel
  bool upwardLabels = false;
  double labelRoom = 0.0;  // height of the population names
  int32_t keyRows = 1;
  // Per pixel column of the bars: the positions [first, end) of StructureOrder::individuals
  // it shows, or first = -1 for a separator.
  std::vector<int32_t> columnFirst, columnEnd;
  std::vector<int32_t> groupPixels;  // columns of each group
  std::vector<double> groupCentre;   // x of the middle of each group
  std::vector<int32_t> separators;   // x of each separator column
};

// The columns of groups laid side by side with one separator column between neighbours.
void LayOutColumns(const StructureOrder& order, Layout& layout) {
  std::vector<int32_t> counts;
  for (const PopulationGroup& g : order.groups) counts.push_back(g.count);
  layout.groupPixels = GroupPixels(counts, static_cast<int32_t>(order.individuals.size()));
  const std::vector<int32_t>& pixels = layout.groupPixels;
  for (size_t g = 0; g < order.groups.size(); ++g) {
    if (g > 0) {
      layout.separators.push_back(static_cast<int32_t>(layout.columnFirst.size()));
      layout.columnFirst.push_back(-1);
      layout.columnEnd.push_back(-1);
    }
    const int64_t n = order.groups[g].count, w = pixels[g];
    const int32_t start = static_cast<int32_t>(layout.columnFirst.size());
    for (int64_t x = 0; x < w; ++x) {
      const int64_t i0 = x * n / w;
      const int64_t i1 = std::max(i0 + 1, (x + 1) * n / w);
      layout.columnFirst.push_back(order.groups[g].first + static_cast<int32_t>(i0));
      layout.columnEnd.push_back(order.groups[g].first + static_cast<int32_t>(i1));
    }
    layout.groupCentre.push_back(layout.barsLeft + start + w / 2.0);
  }
  layout.barsWidth = static_cast<int32_t>(layout.columnFirst.size());
}

// The population names (horizontal when every one fits over its group, else upward).
std::vector<std::string> PopulationLabels(cairo_t* cr, const PlotFonts& fonts,
                                          const StructureOrder& order, Layout& layout) {
  std::vector<std::string> labels;
  if (order.groups.size() < 2 && order.groups[0].name.empty()) return labels;
  double longest = 0.0;
  for (size_t g = 0; g < order.groups.size(); ++g) {
    const double width = LabelWidth(cr, fonts.regular.get(), kLabelPoints, order.groups[g].name);
    longest = std::max(longest, width);
    layout.upwardLabels = layout.upwardLabels || width > layout.groupPixels[g] - 4.0;
  }
  for (const PopulationGroup& g : order.groups) {
    labels.push_back(layout.upwardLabels
                         ? FitLabel(cr, fonts.regular.get(), kLabelPoints, g.name, kLongestLabel)
                         : g.name);
  }
  cairo_font_extents_t font;
  UseFont(cr, fonts.regular.get(), kLabelPoints);
  cairo_font_extents(cr, &font);
  layout.labelRoom =
      layout.upwardLabels ? std::min(longest, kLongestLabel) + 12.0 : std::ceil(font.height) + 10.0;
  return labels;
}

// One panel: the stacked bars of run's aligned memberships, column by column. Each
// column's share of cluster c is the mean over its individuals, and its segment edges are the
// rounded cumulative shares (so that the segments fill the column exactly); runs of columns
// with the same segment are filled as one box, one path per cluster.
void DrawPanel(cairo_t* cr, const RunRecord& run, const StructureOrder& order, const Layout& layout,
               int32_t top) {
  const int32_t K = run.K, columns = layout.barsWidth;
  std::vector<int32_t> edges(static_cast<size_t>(columns) * (K + 1), 0);
  std::vector<double> sums(K);
  for (int32_t x = 0; x < columns; ++x) {
    if (layout.columnFirst[x] < 0) continue;
    std::fill(sums.begin(), sums.end(), 0.0);
    for (int32_t i = layout.columnFirst[x]; i < layout.columnEnd[x]; ++i) {
      const std::vector<double>& q = run.Q[order.individuals[i]];
      for (int32_t c = 0; c < K; ++c) {
        const double v = q[run.order[c]];
        if (v > 0.0 && std::isfinite(v)) sums[c] += v;
      }
    }
    double total = 0.0;
    for (double v : sums) total += v;
    int32_t* e = &edges[static_cast<size_t>(x) * (K + 1)];
    double cumulative = 0.0;
    for (int32_t c = 0; c < K; ++c) {
      cumulative += sums[c];
      e[c + 1] =
          total > 0.0 ? static_cast<int32_t>(std::lround(cumulative / total * kPanelHeight)) : 0;
    }
  }
  const double left = layout.barsLeft;
  FillBox(cr, left, top, columns, kPanelHeight, kEmptyColour);
  for (int32_t c = 0; c < K; ++c) {
    for (int32_t x = 0; x < columns;) {
      const int32_t* e = &edges[static_cast<size_t>(x) * (K + 1)];
      if (layout.columnFirst[x] < 0 || e[c] == e[c + 1]) {
        ++x;
        continue;
      }
      int32_t end = x + 1;
      while (end < columns && layout.columnFirst[end] >= 0 &&
             edges[static_cast<size_t>(end) * (K + 1) + c] == e[c] &&
             edges[static_cast<size_t>(end) * (K + 1) + c + 1] == e[c + 1]) {
        ++end;
      }
      cairo_rectangle(cr, left + x, top + e[c], end - x, e[c + 1] - e[c]);
      x = end;
    }
    SetColour(cr, ClusterColour(c));
    cairo_fill(cr);
  }
  for (int32_t x : layout.separators) FillBox(cr, left + x, top, 1, kPanelHeight, kSeparatorColour);
  SetColour(cr, kInkColour);
  cairo_set_line_width(cr, 1.0);
  cairo_rectangle(cr, left - 0.5, top - 0.5, columns + 1.0, kPanelHeight + 1.0);
  cairo_stroke(cr);
}

}  // namespace

std::vector<int32_t> PlottedClusterCounts(const StudyRecord& study) {
  std::vector<int32_t> ran;
  for (const KSummary& s : study.summaries) ran.push_back(s.K);
  const std::vector<int32_t>& asked = study.settings.plotClusterCounts;
  if (asked.empty()) return ran;
  std::vector<int32_t> drawn;
  for (int32_t K : ran) {
    if (std::find(asked.begin(), asked.end(), K) != asked.end()) drawn.push_back(K);
  }
  return drawn;
}

std::vector<int32_t> GroupPixels(const std::vector<int32_t>& counts, int32_t N) {
  std::vector<int32_t> pixels;
  if (N <= kMaxBarPixels) {
    const int32_t each =
        N > 0 ? std::max(1, std::min((kMinBarPixels + N - 1) / N, kMaxBarPixels / N)) : 1;
    for (int32_t n : counts) pixels.push_back(n * each);
  } else {
    // Every group at least one column, so that none disappears.
    for (int32_t n : counts) {
      pixels.push_back(std::max<int32_t>(
          n > 0 ? 1 : 0, static_cast<int32_t>(std::llround(double(n) * kMaxBarPixels / N))));
    }
  }
  return pixels;
}

bool DrawStructurePlot(const StudyRecord& study, PlotFormat format, std::string& bytes) {
  const StructureOrder order = OrderIndividuals(study);
  const std::vector<int32_t> plotted = PlottedClusterCounts(study);
  Layout layout;
  LayOutColumns(order, layout);

  // A first pass on a scratch surface measures the text; the plot is then drawn at its size.
  PlotFonts fonts;
  PlotCanvas scratch;
  if (!OpenPlotCanvas(scratch, PlotFormat::kPng, 1, 1)) return false;
  const std::vector<std::string> labels = PopulationLabels(scratch.cr(), fonts, order, layout);
  int32_t largestK = 0;
  for (int32_t K : plotted) largestK = std::max(largestK, K);
  layout.width = std::max(kLeftMargin + layout.barsWidth + kRightMargin, 480);
  // One swatch and its name (a number, or a supervised sweep's reference population).
  std::vector<std::string> clusterNames;
  double keyWidth = 34.0;
  for (int32_t c = 0; c < largestK; ++c) {
    clusterNames.push_back(ClusterName(study, c));
    if (study.settings.referencePopulations.empty()) continue;  // numbers fit the 34 points
    cairo_text_extents_t extents;
    UseFont(scratch.cr(), fonts.regular.get(), kSmallPoints);
    cairo_text_extents(scratch.cr(), clusterNames.back().c_str(), &extents);
    keyWidth = std::max(keyWidth, std::ceil(extents.x_advance) + 22.0);
  }
  const int32_t perRow =
      std::max(1, static_cast<int32_t>((layout.width - kLeftMargin - 80) / keyWidth));
  layout.keyRows = (largestK + perRow - 1) / perRow;
  const int32_t titleHeight = 28, keyRowHeight = 20;
  layout.firstPanelTop = titleHeight + layout.keyRows * keyRowHeight + 10;
  const int32_t panels = static_cast<int32_t>(plotted.size());
  layout.labelsTop = layout.firstPanelTop + panels * (kPanelHeight + kPanelGap) - kPanelGap;
  layout.height = layout.labelsTop + static_cast<int32_t>(std::ceil(layout.labelRoom)) + 34;

  PlotCanvas canvas;
  if (!OpenPlotCanvas(canvas, format, layout.width, layout.height)) return false;
  cairo_t* cr = canvas.cr();
  cairo_font_extents_t font;
  UseFont(cr, fonts.regular.get(), kLabelPoints);
  cairo_font_extents(cr, &font);

  // A row of Q is a membership probability under the mixture model, an ancestry share under
  // the admixture model.
  const char* title = study.settings.model == "admixture"
                          ? "Ancestry proportions (best replicate of each K)"
                          : "Cluster memberships (best replicate of each K)";
  DrawLabel(cr, fonts.bold.get(), kTitlePoints, kInkColour, title, layout.barsLeft, 20.0, 0.0);
  // The key: every cluster's colour and aligned number.
  for (int32_t c = 0; c < largestK; ++c) {
    const double x = layout.barsLeft + 60.0 + (c % perRow) * keyWidth;
    const double y = titleHeight + (c / perRow) * keyRowHeight;
    if (c == 0) {
      DrawLabel(cr, fonts.regular.get(), kSmallPoints, kMutedInkColour, "Cluster", layout.barsLeft,
                y + 12.0, 0.0);
    }
    FillBox(cr, x, y + 2.0, 12.0, 12.0, ClusterColour(c));
    DrawLabel(cr, fonts.regular.get(), kSmallPoints, kInkColour, clusterNames[c], x + 15.0,
              y + 12.0, 0.0);
  }

  for (int32_t p = 0; p < panels; ++p) {
    const int32_t K = plotted[p];
    const int32_t top = layout.firstPanelTop + p * (kPanelHeight + kPanelGap);
    const KSummary* summary = nullptr;
    for (const KSummary& s : study.summaries) {
      if (s.K == K) summary = &s;
    }
    if (summary == nullptr) continue;
    DrawPanel(cr, study.runs[summary->best], order, layout, top);
    const double middle = top + kPanelHeight / 2.0;
    DrawLabel(cr, summary->chosen ? fonts.bold.get() : fonts.regular.get(), kLabelPoints,
              kInkColour, "K = " + std::to_string(K), layout.barsLeft - 8.0,
              middle + (font.ascent - font.descent) / 2.0, 1.0);
    if (summary->chosen) {
      DrawLabel(cr, fonts.regular.get(), kSmallPoints, kMutedInkColour, "lowest BIC",
                layout.barsLeft - 8.0, middle + font.height + 2.0, 1.0);
    }
  }

  // Population names under the last panel, with a tick at every separator.
  const double axis = layout.labelsTop;
  for (int32_t x : layout.separators) {
    StrokeLine(cr, layout.barsLeft + x + 0.5, axis, layout.barsLeft + x + 0.5, axis + 6.0, 1.0,
               kInkColour);
  }
  double lastDrawn = -1e9;
  for (size_t g = 0; g < labels.size(); ++g) {
    const double x = layout.groupCentre[g];
    if (layout.upwardLabels) {
      if (x - lastDrawn < font.height + 1.0) continue;  // no room: the name is left out
      DrawUpwardLabel(cr, fonts.regular.get(), kLabelPoints, kInkColour, labels[g], x, axis + 6.0);
      lastDrawn = x;
    } else {
      DrawLabel(cr, fonts.regular.get(), kLabelPoints, kInkColour, labels[g], x,
                axis + 6.0 + font.ascent, 0.5);
    }
  }
  const RunRecord* chosen = ChosenRun(study);
  std::string caption = std::to_string(study.N) + " individuals";
  if (!study.populations.empty()) {
    caption += " in " + std::to_string(order.groups.size()) + " populations";
  }
  if (chosen != nullptr) {
    caption += ", sorted" + std::string(study.populations.empty() ? "" : " within each") +
               " by their main cluster at K = " + std::to_string(chosen->K) + " (lowest BIC)";
  }
  if (layout.barsWidth < study.N) {
    caption += "; each pixel column the mean of about " +
               std::to_string((study.N + layout.barsWidth / 2) / std::max(layout.barsWidth, 1)) +
               " individuals";
  }
  DrawLabel(cr, fonts.regular.get(), kSmallPoints, kMutedInkColour, caption, layout.barsLeft,
            layout.height - 10.0, 0.0);
  return ClosePlotCanvas(canvas, bytes);
}
