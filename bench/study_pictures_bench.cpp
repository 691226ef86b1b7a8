// The pictures of a study: the three plots and the report of a real sweep of 5,000 diploid
// individuals at 30 loci in 12 populations, K 2-8 with 4 replicates (the sweep itself is run
// once, outside the timing), written as PNG (the plots once, shown in the report) and as SVG
// and PDF (the plots twice: once for the files, once as PNG for the report).
#include <benchmark/benchmark.h>

#include <filesystem>

#include "charts/study_pictures.h"
#include "study/sweep.h"
#include "sweep_data.h"

namespace {

const StudyRecord& LargeStudy() {
  static const StudyRecord study = [] {
    std::vector<int32_t> truth;
    StudyData data = SimulatedStudy(5000, 5000, 2, 30, 8, 5, truth);
    // Twelve populations of uneven size, each mostly of one true cluster.
    for (int32_t n = 0; n < data.X.N; ++n) {
      data.populations.push_back("population " + std::to_string(1 + (truth[n] * 7 + n % 3) % 12));
    }
    SweepSettings settings = TestSettings({2, 3, 4, 5, 6, 7, 8}, 4);
    settings.threads = 2;
    return RunStudy(settings, data);
  }();
  return study;
}

void BM_StudyPictures(benchmark::State& state) {
  StudyRecord study = LargeStudy();
  study.settings.plotFormat = state.range(0) == 0 ? "png" : state.range(0) == 1 ? "svg" : "pdf";
  const std::string dir = "/tmp/emclade-bench-pictures";
  std::filesystem::create_directories(dir);
  for (auto _ : state) WriteStudyPictures(study, dir);
  state.SetLabel(study.settings.plotFormat);
}

}  // namespace

BENCHMARK(BM_StudyPictures)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
