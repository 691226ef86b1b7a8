// EM with extrapolation of the EM map (SQUAREM, step S3), for any model whose estimates are
// one flat vector of probabilities made of simplex blocks (a cluster's allele frequencies at
// a locus, an individual's ancestry proportions, the mixing proportions). The models
// (mixture, admixture) each give their EM map; this file only decides which points to
// evaluate and when to stop. It never sees the genotype table, and holds a few copies of the
// estimates (never of the table).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One model's EM map over theta (size values).
struct EmMap {
  int64_t size = 0;
  // to = F(from), one EM step; returns the log-likelihood of `from` (the E-step computes it
  // on the way). Deterministic: the same from gives the same bits on any thread count.
  double (*step)(void* model, const double* from, double* to) = nullptr;
  // Clamps every value into [epsilon, 1 - epsilon] and renormalises each simplex block.
  void (*project)(void* model, double* theta, double epsilon) = nullptr;
  void* model = nullptr;
};

enum class Acceleration { kNone, kSquarem };

// The names --acceleration takes ("none", "squarem"), and back; false for an unknown name.
const char* AccelerationName(Acceleration a);
bool ParseAcceleration(const std::string& name, Acceleration& a);

// When a run stops. kAbsolute: a step gains less than tolerance. kPerCopy: a step gains less
// than tolerance x observedCopies (the gain per observed allele copy).
enum class StoppingRule { kAbsolute, kPerCopy };

// The names --stop takes ("absolute", "per-copy"), and back; false for an unknown name.
const char* StoppingRuleName(StoppingRule rule);
bool ParseStoppingRule(const std::string& name, StoppingRule& rule);

struct AcceleratorSettings {
  Acceleration method = Acceleration::kSquarem;
  StoppingRule rule = StoppingRule::kAbsolute;
  double tolerance = 1e-4;  // 0: run every step up to maxSteps
  double observedCopies = 0.0;
  int32_t maxSteps = 10000;  // EM steps (evaluations of F), counted as plain EM counts them
  double epsilon = 1e-11;    // the clamp of the extrapolated point (measured: see the .cpp)
  // SQUAREM's bound on the step length alpha: it starts at stepMax0 (1: the first cycle is
  // plain EM), is multiplied by stepFactor after an accepted step at the bound and divided
  // by it (not below stepMax0) after a rejected one (the SQUAREM package's defaults).
  double stepMax0 = 1.0;
  double stepFactor = 4.0;
  // The extrapolated point is kept when its log-likelihood is not below that of θ1 = F(θ0)
  // (false: two EM steps per cycle), or of θ2 = F(θ1) (true: three; measured slower, see the
  // .cpp).
  bool guardWithSecondStep = false;
};

// The gain below which a step counts as converged: tolerance, or tolerance x observedCopies.
double StoppingThreshold(const AcceleratorSettings& settings);

struct AcceleratedRun {
  // The log-likelihood of every point F was applied to, in order: the convergence history
  // with one entry per EM step.
  std::vector<double> history;
  int32_t steps = 0;
  bool converged = false;
  double loglik = 0.0;  // of the returned theta
};

// Runs EM from theta to convergence or maxSteps, extrapolating when method is kSquarem;
// theta ends as the best point whose log-likelihood is known. kNone is plain EM: theta,
// F(theta), F(F(theta)), ... and the same stopping rule.
AcceleratedRun RunAcceleratedEm(const EmMap& map, std::vector<double>& theta,
                                const AcceleratorSettings& settings);
