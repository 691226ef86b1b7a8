// The study command's runs: a sweep of 24 runs (K 1-8, 3 replicates) on 700 diploid
// individuals at 30 loci of 15 alleles, with the runs on 1 and 2 threads, and the alignment
// and model choice of its records alone.
#include <benchmark/benchmark.h>

#include "data/random.h"
#include "data/simulator.h"
#include "study/alignment.h"
#include "study/model_choice.h"
#include "study/sweep.h"

namespace {

const StudyData& Microsatellites() {
  static const StudyData data = [] {
    StudyData d;
    RandomGenerator rng(700);
    const std::vector<int32_t> J(30, 15);
    SimulatedModel model;
    DrawSimulatedModel(rng, 700, 30, J, 4, model);
    DrawGenotypes(rng, model, 2, 30, J, d.X);
    for (int32_t n = 0; n < 700; ++n) d.names.push_back(std::to_string(n + 1));
    for (int32_t l = 0; l < 30; ++l) d.locusNames.push_back("locus" + std::to_string(l + 1));
    return d;
  }();
  return data;
}

SweepSettings Settings() {
  SweepSettings settings;
  settings.inputPath = "bench";
  settings.clusterCounts = {1, 2, 3, 4, 5, 6, 7, 8};
  settings.replicates = 3;
  settings.quiet = true;
  return settings;
}

void BM_SweepRuns(benchmark::State& state) {
  const ThreadPlan plan = {static_cast<int32_t>(state.range(0)), 1};
  for (auto _ : state) {
    StudyRecord study = RunStudy(Settings(), Microsatellites(), &plan);
    benchmark::DoNotOptimize(study.chosenK);
  }
}
BENCHMARK(BM_SweepRuns)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_AlignAndChoose(benchmark::State& state) {
  const StudyRecord done = RunStudy(Settings(), Microsatellites());
  for (auto _ : state) {
    StudyRecord study = done;
    AlignStudy(study);
    ChooseK(study);
    benchmark::DoNotOptimize(study.chosenK);
  }
}
BENCHMARK(BM_AlignAndChoose)->Unit(benchmark::kMillisecond);

}  // namespace
