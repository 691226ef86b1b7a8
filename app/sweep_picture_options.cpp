#include "app/sweep_picture_options.h"

#include <algorithm>

#include "app/sweep_command_line.h"
#include "charts/plot_canvas.h"
#include "data/messages.h"
#include "study/sweep.h"

void AddPictureOptions(CLI::App& app, SweepSettings& settings, std::string& plotK) {
  const char* group = "Pictures (plots/ and report.html)";
  app.add_option("--plot-k", plotK,
                 "the K of the structure plot, as for --k (default: every K of the sweep)")
      ->type_name("LIST")
      ->group(group);
  app.add_option("--plot-format", settings.plotFormat, "png, svg or pdf (default png)")
      ->type_name("NAME")
      ->group(group);
  app.add_option("--population-order", settings.populationOrderFile,
                 "file of population names, one a line, in the order the plots show them")
      ->type_name("FILE")
      ->group(group);
}

void CheckPictureOptions(const std::string& plotK, SweepSettings& settings) {
  PlotFormat format;
  if (!ParsePlotFormat(settings.plotFormat, format)) {
    FailRun("emclade-sweep: --plot-format: expected png, svg or pdf, got \"" + settings.plotFormat +
            "\"");
  }
  std::string why;
  if (!plotK.empty()) {
    if (!ParseClusterCounts(plotK, settings.plotClusterCounts, why)) {
      FailRun("emclade-sweep: --plot-k: " + why);
    }
    for (int32_t K : settings.plotClusterCounts) {
      const std::vector<int32_t>& swept = settings.clusterCounts;
      if (!std::binary_search(swept.begin(), swept.end(), K)) {
        FailRun("emclade-sweep: --plot-k: expected K of the sweep (--k " +
                DescribeClusterCounts(swept) + "), got " + std::to_string(K));
      }
    }
  }
  const size_t panels = settings.plotClusterCounts.empty() ? settings.clusterCounts.size()
                                                           : settings.plotClusterCounts.size();
  if (panels > kMaxPlotPanels && plotK.empty()) {
    FailRun("emclade-sweep: --k: " + std::to_string(panels) +
            " K asked for, and the structure plot draws at most " + std::to_string(kMaxPlotPanels) +
            ": name the K to draw with --plot-k");
  }
  if (panels > kMaxPlotPanels) {
    FailRun("emclade-sweep: --plot-k: the structure plot draws at most " +
            std::to_string(kMaxPlotPanels) + " K, and " + std::to_string(panels) +
            " were asked for; name the K to draw with --plot-k");
  }
}
