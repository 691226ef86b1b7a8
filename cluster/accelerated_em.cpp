// SQUAREM (Varadhan & Roland 2008, step S3) around a model's EM map, and plain EM.
//
// Every run keeps a state (x, F(x), ll(x)): a point, its EM image and its log-likelihood.
// One SQUAREM cycle from the state (θ0, θ1 = F(θ0), ll0):
//   1. θ2 = F(θ1), giving ll1 = ll(θ1);
//   2. r = θ1 - θ0, v = θ2 - 2θ1 + θ0, α = ‖r‖ / ‖v‖ (S3, in the SQUAREM package's sign
//      convention), bounded to [1, stepMax];
//   3. when α > 1: θ' = θ0 + 2αr + α²v, clamped into [ε, 1 - ε] and renormalised block by
//      block (EmMap::project), then one EM step from θ' (the stabilisation), giving F(θ') and
//      ll(θ'). θ' is accepted when ll(θ') is finite and not below the guard ll1: the next
//      state is (θ', F(θ'), ll(θ')), so the stabilised point F(θ') is the next cycle's θ1,
//      and ll(F(θ')) >= ll(θ') >= ll(θ1): the log-likelihoods of the states never fall.
//      Otherwise the run goes on from (θ1, θ2, ll1), having lost only the step from θ'.
//      When α = 1, θ' would be θ2 itself: the next state is (θ1, θ2, ll1), a plain step.
// A cycle is two EM steps (one when α = 1).
//
// With guardWithSecondStep, the guard is ll2 = ll(θ2) from one more step θ3 = F(θ2), and a
// rejected point gives way to (θ2, θ3, ll2): the extrapolation is then never below two plain
// steps, at three EM steps a cycle. Measured on the microsatellite-like cases of
// bench/README.md#acceleration (ward-anneal and kmeans starts, 10 replicates, ε = 1e-11), the
// median EM steps per run were 122.5 and 144 with the first-step guard against 187.5 and 193
// with the second-step guard on ms1000x30-F0.01 (plain EM: 206 and 332), with the same best
// log-likelihoods within 0.7 unit: the third step costs more than the rejections it saves.
//
// The bound: stepMax starts at stepMax0 (1: the first cycle is plain EM, as in the SQUAREM
// package); when α reached the bound and the point was accepted (or α = 1 at the bound 1)
// the bound is multiplied by stepFactor (4), and when α was at the bound and rejected it
// falls back to max(stepMax0, stepMax / stepFactor): the SQUAREM package's defaults
// (step.max0 = 1, mstep = 4).
//
// The clamp ε: every frequency that EM left at 0 is raised to ε by the projection, which
// costs about ε per copy of the cluster at each such allele; with ε = 1e-5 that cost (about
// 0.5 log-likelihood unit on ms1000x30, 30 microsatellites of 10-20 alleles) rejected every
// extrapolation near the optimum. Median EM steps on the same cases for ε = 1e-5, 1e-8,
// 1e-11, 1e-14: ms1000x30-F0.01 ward-anneal 164, 127.5, 122.5, 128; kmeans 250, 153, 144,
// 193; ms200x10-F0.01 ward-anneal 61, 46, 44, 44. ε = 1e-11 (the cost then stays below 0.1
// unit up to 10^10 clamped copies, and ln ε = -25 is far from the E-step's floor of -707).
//
// Stopping: each cycle measures the plain EM gain ll1 - ll0 (θ0 to θ1 = F(θ0), and ll2 - ll1
// with the second-step guard); the run stops as soon as one is below the threshold
// (tolerance, or tolerance x observedCopies per copy), just as plain EM stops at its first
// step that gains less. The run ends on the best point whose log-likelihood is known.
//
// Determinism: the norms are sums over theta in index order on one thread; the map decides
// its own threading and gives the same bits on any thread count.
#include "cluster/accelerated_em.h"

#include <algorithm>
#include <cmath>

const char* AccelerationName(Acceleration a) {
  return a == Acceleration::kNone ? "none" : "squarem";
}

bool ParseAcceleration(const std::string& name, Acceleration& a) {
  if (name == "none") {
    a = Acceleration::kNone;
    return true;
  }
  if (name == "squarem") {
    a = Acceleration::kSquarem;
    return true;
  }
  return false;
}

const char* StoppingRuleName(StoppingRule rule) {
  return rule == StoppingRule::kAbsolute ? "absolute" : "per-copy";
}

bool ParseStoppingRule(const std::string& name, StoppingRule& rule) {
  if (name == "absolute") {
    rule = StoppingRule::kAbsolute;
    return true;
  }
  if (name == "per-copy") {
    rule = StoppingRule::kPerCopy;
    return true;
  }
  return false;
}

double StoppingThreshold(const AcceleratorSettings& settings) {
  return settings.rule == StoppingRule::kPerCopy ? settings.tolerance * settings.observedCopies
                                                 : settings.tolerance;
}

namespace {

// Runs F on `from`, recording the step; false when the steps ran out (nothing evaluated).
struct Stepper {
  const EmMap& map;
  const AcceleratorSettings& settings;
  AcceleratedRun& run;
  bool Step(const std::vector<double>& from, std::vector<double>& to, double& loglik) {
    if (run.steps >= settings.maxSteps) return false;
    loglik = map.step(map.model, from.data(), to.data());
    run.history.push_back(loglik);
    ++run.steps;
    return true;
  }
};

// The gain test of plain EM: `gain < threshold`, false for a NaN gain (as the plain loop).
bool Converged(double previous, double current, double threshold, double tolerance) {
  return tolerance > 0.0 && current - previous < threshold;
}

AcceleratedRun RunPlain(const EmMap& map, std::vector<double>& theta,
                        const AcceleratorSettings& settings) {
  AcceleratedRun run;
  Stepper stepper{map, settings, run};
  const double threshold = StoppingThreshold(settings);
  std::vector<double> next(theta.size());
  double loglik = 0.0;
  bool evaluated = false;
  while (stepper.Step(theta, next, loglik)) {
    evaluated = true;
    const int32_t t = run.steps - 1;
    if (t >= 1 && Converged(run.history[t - 1], loglik, threshold, settings.tolerance)) {
      run.converged = true;
      break;
    }
    if (run.steps >= settings.maxSteps) break;  // theta stays the point of known loglik
    theta.swap(next);
  }
  run.loglik = evaluated ? loglik : 0.0;
  return run;
}

// Keeps `candidate` in `best` when its log-likelihood is higher (or best has none yet).
void KeepBest(const std::vector<double>& candidate, double loglik, std::vector<double>& best,
              double& bestLoglik, bool& haveBest) {
  if (!haveBest || loglik > bestLoglik || (std::isnan(bestLoglik) && !std::isnan(loglik))) {
    best = candidate;
    bestLoglik = loglik;
    haveBest = true;
  }
}

AcceleratedRun RunSquarem(const EmMap& map, std::vector<double>& theta,
                          const AcceleratorSettings& settings) {
  AcceleratedRun run;
  Stepper stepper{map, settings, run};
  const double threshold = StoppingThreshold(settings);
  const bool secondStep = settings.guardWithSecondStep;
  const size_t size = theta.size();
  std::vector<double> x = theta, fx(size), f2(size), f3(size), extrapolated(size), fe(size);
  double ll0 = 0.0;
  if (!stepper.Step(x, fx, ll0)) {
    run.loglik = 0.0;
    return run;
  }
  double stepMax = settings.stepMax0;
  // The best point of known log-likelihood when the run ends.
  std::vector<double> best;
  double bestLoglik = 0.0;
  bool haveBest = false;
  auto finish = [&](bool converged) {
    run.converged = converged;
    theta = best;
    run.loglik = bestLoglik;
    return run;
  };
  for (;;) {
    haveBest = false;
    KeepBest(x, ll0, best, bestLoglik, haveBest);
    double ll1 = 0.0;
    if (!stepper.Step(fx, f2, ll1)) return finish(false);
    KeepBest(fx, ll1, best, bestLoglik, haveBest);
    if (Converged(ll0, ll1, threshold, settings.tolerance)) return finish(true);

    // S3 from the norms, index order.
    double rr = 0.0, vv = 0.0;
    for (size_t i = 0; i < size; ++i) {
      const double r = fx[i] - x[i];
      const double v = f2[i] - 2.0 * fx[i] + x[i];
      rr += r * r;
      vv += v * v;
    }
    double alpha = std::sqrt(rr / vv);
    if (!std::isfinite(alpha) || alpha < 1.0) alpha = 1.0;
    alpha = std::min(alpha, stepMax);

    // The point the extrapolation must not fall below: θ1, or θ2 (one more step).
    double guard = ll1;
    if (secondStep) {
      if (!stepper.Step(f2, f3, guard)) return finish(false);
      KeepBest(f2, guard, best, bestLoglik, haveBest);
      if (Converged(ll1, guard, threshold, settings.tolerance)) return finish(true);
    }

    bool accepted = false;
    double lle = 0.0;
    if (alpha > 1.0) {
      const double a2 = 2.0 * alpha, aa = alpha * alpha;
      for (size_t i = 0; i < size; ++i) {
        const double r = fx[i] - x[i];
        const double v = f2[i] - 2.0 * fx[i] + x[i];
        extrapolated[i] = x[i] + a2 * r + aa * v;
      }
      map.project(map.model, extrapolated.data(), settings.epsilon);
      if (!stepper.Step(extrapolated, fe, lle)) return finish(false);
      accepted = std::isfinite(lle) && lle >= guard;
    }
    if (accepted) {
      x.swap(extrapolated);
      fx.swap(fe);
      ll0 = lle;
    } else if (secondStep) {
      x.swap(f2);
      fx.swap(f3);
      ll0 = guard;
    } else {
      x.swap(fx);
      fx.swap(f2);
      ll0 = ll1;
    }
    // The bound grows after a step that reached it and went well (α = 1 at the bound 1
    // included), and falls back after a rejected step at the bound.
    if (alpha >= stepMax) {
      if (accepted || alpha == 1.0) {
        stepMax *= settings.stepFactor;
      } else {
        stepMax = std::max(settings.stepMax0, stepMax / settings.stepFactor);
      }
    }
  }
}

}  // namespace

AcceleratedRun RunAcceleratedEm(const EmMap& map, std::vector<double>& theta,
                                const AcceleratorSettings& settings) {
  if (settings.method == Acceleration::kNone) return RunPlain(map, theta, settings);
  return RunSquarem(map, theta, settings);
}
