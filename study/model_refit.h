// A model's EM on a table from estimates already made (a bootstrap replicate's refit): no
// start, no annealing; the EM the sweep's runs end with (--acceleration, --stop,
// --tolerance, --max-iterations).
#pragma once

#include <cstdint>

#include "data/genotype_table.h"
#include "study/study.h"

// From run.Q (the first M-step reads it): the mixture model's EM on X, as RunSweepRun's after
// its annealing. Leaves run.Q, proportions, P, loglik, converged, history and iterations.
void RefitMixture(const GenotypeTable& X, const SweepSettings& settings, int32_t engineThreads,
                  RunRecord& run);

// From run.Q and run.P (P over X's loci): the admixture model's EM on X, as RunAdmixtureRun's
// after its mixture start (clamped, then RunAcceleratedEm). Leaves the fields RecordAdmixtureFit
// sets.
void RefitAdmixture(const GenotypeTable& X, const SweepSettings& settings, int32_t engineThreads,
                    RunRecord& run);
