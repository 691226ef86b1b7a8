// One cycle from the state (θ0, θ1 = F(θ0), ll0), as in accelerated_em.cpp but block by block:
//   1. θ2 = F(θ1), giving ll1 = ll(θ1);
//   2. for each block b: r = θ1 - θ0, v = θ2 - 2θ1 + θ0 over the block's values (index order),
//      α_b = ‖r‖ / ‖v‖ bounded to [1, stepMax_b];
//   3. when some α_b > 1: θ' = θ0 + 2α_b r + α_b² v in each block, clamped and renormalised
//      (EmMap::project), then F(θ') gives ll(θ'); θ' is accepted when ll(θ') is finite and not
//      below ll1 (the next state (θ', F(θ'), ll(θ'))), else the run goes on from (θ1, θ2, ll1).
// Each block's bound grows by stepFactor after an accepted step that reached it and falls
// back after a rejected one, as the global scheme's bound does.
//
// Stopping: the plain gain ll1 - ll0 of one cycle says little once the extrapolation does the
// work: on the admixture model it fell below 1e-4 while the run was still 0.16 (microsatellites)
// and over 1 (SNPs) log-likelihood units from the optimum (bench/README.md, "The admixture
// model"). The run stops instead when the best log-likelihood known at the end of a cycle rose
// by less than the threshold over the last stopCycles cycles (a cycle that extrapolated and a
// rejected one alike), and ends on that best point.
#include "cluster/block_squarem.h"

#include <algorithm>
#include <cmath>

namespace {

void KeepBest(const std::vector<double>& candidate, double loglik, std::vector<double>& best,
              double& bestLoglik, bool& haveBest) {
  if (!haveBest || loglik > bestLoglik || (std::isnan(bestLoglik) && !std::isnan(loglik))) {
    best = candidate;
    bestLoglik = loglik;
    haveBest = true;
  }
}

}  // namespace

AcceleratedRun RunBlockSquarem(const EmMap& map, const std::vector<int64_t>& blockStarts,
                               int32_t stopCycles, std::vector<double>& theta,
                               const AcceleratorSettings& settings) {
  if (settings.method == Acceleration::kNone) return RunAcceleratedEm(map, theta, settings);
  AcceleratedRun run;
  const double threshold = StoppingThreshold(settings);
  const size_t size = theta.size();
  const size_t blocks = blockStarts.size();
  auto blockEnd = [&](size_t b) { return b + 1 < blocks ? blockStarts[b + 1] : size; };
  auto step = [&](const std::vector<double>& from, std::vector<double>& to, double& loglik) {
    if (run.steps >= settings.maxSteps) return false;
    loglik = map.step(map.model, from.data(), to.data());
    run.history.push_back(loglik);
    ++run.steps;
    return true;
  };
  std::vector<double> x = theta, fx(size), f2(size), extrapolated(size), fe(size);
  double ll0 = 0.0;
  if (!step(x, fx, ll0)) return run;
  std::vector<double> stepMax(blocks, settings.stepMax0), alpha(blocks, 1.0);
  std::vector<double> best;
  std::vector<double> bestByCycle;  // the best log-likelihood at the end of each cycle
  double bestLoglik = 0.0;
  bool haveBest = false;
  auto finish = [&](bool converged) {
    run.converged = converged;
    theta = best;
    run.loglik = bestLoglik;
    return run;
  };
  for (;;) {
    // The states' log-likelihoods never fall: the best of a cycle is its θ0 or θ1.
    haveBest = false;
    KeepBest(x, ll0, best, bestLoglik, haveBest);
    double ll1 = 0.0;
    if (!step(fx, f2, ll1)) return finish(false);
    KeepBest(fx, ll1, best, bestLoglik, haveBest);
    bestByCycle.push_back(bestLoglik);
    const size_t cycles = bestByCycle.size();
    if (settings.tolerance > 0.0 && cycles > static_cast<size_t>(stopCycles) &&
        bestByCycle[cycles - 1] - bestByCycle[cycles - 1 - stopCycles] < threshold) {
      return finish(true);
    }

    bool extrapolate = false;
    for (size_t b = 0; b < blocks; ++b) {
      double rr = 0.0, vv = 0.0;
      for (size_t i = blockStarts[b]; i < blockEnd(b); ++i) {
        const double r = fx[i] - x[i];
        const double v = f2[i] - 2.0 * fx[i] + x[i];
        rr += r * r;
        vv += v * v;
      }
      double a = std::sqrt(rr / vv);
      if (!std::isfinite(a) || a < 1.0) a = 1.0;
      alpha[b] = std::min(a, stepMax[b]);
      extrapolate = extrapolate || alpha[b] > 1.0;
    }
    bool accepted = false;
    if (extrapolate) {
      for (size_t b = 0; b < blocks; ++b) {
        const double a2 = 2.0 * alpha[b], aa = alpha[b] * alpha[b];
        for (size_t i = blockStarts[b]; i < blockEnd(b); ++i) {
          const double r = fx[i] - x[i];
          const double v = f2[i] - 2.0 * fx[i] + x[i];
          extrapolated[i] = x[i] + a2 * r + aa * v;
        }
      }
      map.project(map.model, extrapolated.data(), settings.epsilon);
      double lle = 0.0;
      if (!step(extrapolated, fe, lle)) return finish(false);
      accepted = std::isfinite(lle) && lle >= ll1;
      if (accepted) {
        x.swap(extrapolated);
        fx.swap(fe);
        ll0 = lle;
      }
    }
    if (!accepted) {
      x.swap(fx);
      fx.swap(f2);
      ll0 = ll1;
    }
    for (size_t b = 0; b < blocks; ++b) {
      if (alpha[b] < stepMax[b]) continue;
      if (accepted || alpha[b] == 1.0) {
        stepMax[b] *= settings.stepFactor;
      } else {
        stepMax[b] = std::max(settings.stepMax0, stepMax[b] / settings.stepFactor);
      }
    }
  }
}
