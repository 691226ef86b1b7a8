// SQUAREM with one step length per block of the estimates (the admixture model's Q and P),
// and a stopping rule that counts the extrapolated steps' gains: for a model whose EM map
// moves its blocks at very different rates and crawls for thousands of steps near the
// optimum. The same EmMap, settings and run record as accelerated_em.h (whose global scheme
// the mixture model keeps); this file only decides which points to evaluate and when to stop.
#pragma once

#include <cstdint>
#include <vector>

#include "cluster/accelerated_em.h"

// blockStarts: where each block of theta begins (ascending, the first 0); a block ends where
// the next begins, the last at theta's end. stopCycles: the run stops when the best
// log-likelihood rose by less than the threshold (StoppingThreshold) over the last stopCycles
// cycles. settings.method kNone runs plain EM (RunAcceleratedEm, its own stopping rule).
AcceleratedRun RunBlockSquarem(const EmMap& map, const std::vector<int64_t>& blockStarts,
                               int32_t stopCycles, std::vector<double>& theta,
                               const AcceleratorSettings& settings);
