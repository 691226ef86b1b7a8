#include "charts/study_pictures.h"

#include "charts/convergence_plot.h"
#include "charts/model_choice_plot.h"
#include "charts/structure_plot.h"
#include "charts/study_report.h"
#include "data/messages.h"
#include "study/study_files.h"

namespace {

using PlotDrawer = bool (*)(const StudyRecord&, PlotFormat, std::string&);

struct Plot {
  const char* name;
  PlotDrawer draw;
  std::string StudyImages::*image;
};

const Plot kPlots[] = {
    {"structure", DrawStructurePlot, &StudyImages::structure},
    {"model_choice", DrawModelChoicePlot, &StudyImages::modelChoice},
    {"convergence", DrawConvergencePlot, &StudyImages::convergence},
};

}  // namespace

void WriteStudyPictures(const StudyRecord& study, const std::string& dir) {
  PlotFormat format = PlotFormat::kPng;
  if (!ParsePlotFormat(study.settings.plotFormat, format)) {
    FailRun("emclade-sweep: --plot-format: expected png, svg or pdf, got \"" +
            study.settings.plotFormat + "\"");
  }
  MakeFolder(dir + "/plots");
  // The page always shows PNG images; the files are in the format asked for (the same bytes
  // when that is PNG).
  StudyImages images;
  for (const Plot& plot : kPlots) {
    const std::string path = dir + "/plots/" + plot.name + "." + PlotExtension(format);
    std::string& png = images.*plot.image;
    if (!plot.draw(study, PlotFormat::kPng, png)) {
      FailRun("emclade-sweep: " + path + ": cannot draw the plot");
    }
    if (format == PlotFormat::kPng) {
      WriteWholeFile(path, png);
      continue;
    }
    std::string bytes;
    if (!plot.draw(study, format, bytes))
      FailRun("emclade-sweep: " + path + ": cannot draw the plot");
    WriteWholeFile(path, bytes);
  }
  WriteWholeFile(dir + "/report.html", BuildStudyReport(study, images, PlotExtension(format)));
}
