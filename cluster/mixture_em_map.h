// The EM map of the K-cluster mixture model for the accelerator (cluster/accelerated_em.h):
// theta = (pi_0 .. pi_{K-1}, then P[k][l][0 .. J[l]-1] for k outer, l inner), K + K x sum J
// values in 1 + K x L simplex blocks. One step is EmEStep from theta (memberships and the
// log-likelihood of theta) and then EmMStep: with these, plain EM over theta is plain
// EmIteration's sequence to the bit. The map keeps no copy of the table, only the
// workspace's tables and two copies of the estimates.
#pragma once

#include <cstdint>
#include <vector>

#include "cluster/accelerated_em.h"
#include "cluster/em.h"

class MixtureEmMap {
 public:
  // w: prepared for the table and K (PrepareEmWorkspace); Q (N x K) receives the memberships
  // of every point a step starts from; LogRatioMatrix (K x K) as EmIteration's.
  MixtureEmMap(EmWorkspace& w, Vector2D<double>& Q, Vector2D<double>& LogRatioMatrix);

  EmMap Map();
  int64_t Size() const { return size_; }
  void Pack(const std::vector<double>& pi, const Vector3D<double>& P, double* theta) const;
  void Unpack(const double* theta, std::vector<double>& pi, Vector3D<double>& P) const;

  // pi and P from theta, and Q its memberships; returns the log-likelihood of theta. No work
  // but the unpacking when theta is the point the last step started from (Q holds its
  // memberships already), else one E-step.
  double Finish(const std::vector<double>& theta, std::vector<double>& pi, Vector3D<double>& P);

 private:
  static double Step(void* model, const double* from, double* to);
  static void Project(void* model, double* theta, double epsilon);

  EmWorkspace& w_;
  Vector2D<double>& Q_;
  Vector2D<double>& ratios_;
  int64_t size_ = 0;
  std::vector<double> pi_;  // the estimates of the step under way
  Vector3D<double> P_;
  std::vector<double> lastFrom_;  // the point the last step started from
  double lastLoglik_ = 0.0;
};

// A mixture run's EM after its annealing (the study command): theta from the M-step of Q,
// RunAcceleratedEm, and then pi, P and Q of the point it ends on (Q its E-step, the run's
// log-likelihood that of (pi, P)).
AcceleratedRun RunMixtureAcceleratedEm(EmWorkspace& w, const AcceleratorSettings& settings,
                                       std::vector<double>& pi, Vector3D<double>& P,
                                       Vector2D<double>& Q, Vector2D<double>& LogRatioMatrix);

// The allele copies of X that are not missing (codes below J[l]), for the per-copy rule.
double ObservedCopies(const std::vector<double>& missingShare, int32_t A, int32_t L);
