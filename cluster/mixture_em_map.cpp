#include "cluster/mixture_em_map.h"

#include <algorithm>
#include <cmath>

MixtureEmMap::MixtureEmMap(EmWorkspace& w, Vector2D<double>& Q, Vector2D<double>& LogRatioMatrix)
    : w_(w), Q_(Q), ratios_(LogRatioMatrix) {
  size_ = w.K;
  for (int32_t l = 0; l < w.L; ++l) size_ += static_cast<int64_t>(w.K) * w.J[l];
  pi_.assign(w.K, 0.0);
  InitVctr3D(P_, w.K, w.L, w.J, 0.0);
}

EmMap MixtureEmMap::Map() {
  EmMap map;
  map.size = size_;
  map.step = &MixtureEmMap::Step;
  map.project = &MixtureEmMap::Project;
  map.model = this;
  return map;
}

void MixtureEmMap::Pack(const std::vector<double>& pi, const Vector3D<double>& P,
                        double* theta) const {
  theta = std::copy(pi.begin(), pi.begin() + w_.K, theta);
  for (int32_t k = 0; k < w_.K; ++k) {
    for (int32_t l = 0; l < w_.L; ++l) theta = std::copy(P[k][l].begin(), P[k][l].end(), theta);
  }
}

void MixtureEmMap::Unpack(const double* theta, std::vector<double>& pi, Vector3D<double>& P) const {
  std::copy(theta, theta + w_.K, pi.begin());
  theta += w_.K;
  for (int32_t k = 0; k < w_.K; ++k) {
    for (int32_t l = 0; l < w_.L; ++l) {
      std::copy(theta, theta + w_.J[l], P[k][l].begin());
      theta += w_.J[l];
    }
  }
}

double MixtureEmMap::Step(void* model, const double* from, double* to) {
  MixtureEmMap& m = *static_cast<MixtureEmMap*>(model);
  m.Unpack(from, m.pi_, m.P_);
  const double loglik = EmEStep(m.w_, m.pi_, m.P_, m.Q_, m.ratios_);
  EmMStep(m.w_, m.Q_, m.pi_, m.P_);
  m.Pack(m.pi_, m.P_, to);
  m.lastFrom_.assign(from, from + m.size_);
  m.lastLoglik_ = loglik;
  return loglik;
}

void MixtureEmMap::Project(void* model, double* theta, double epsilon) {
  const MixtureEmMap& m = *static_cast<MixtureEmMap*>(model);
  auto block = [epsilon](double* v, int32_t n) {
    double sum = 0.0;
    for (int32_t i = 0; i < n; ++i) {
      v[i] = std::clamp(v[i], epsilon, 1.0 - epsilon);
      sum += v[i];
    }
    const double inverse = 1.0 / sum;
    for (int32_t i = 0; i < n; ++i) v[i] *= inverse;
  };
  block(theta, m.w_.K);
  theta += m.w_.K;
  for (int32_t k = 0; k < m.w_.K; ++k) {
    for (int32_t l = 0; l < m.w_.L; ++l) {
      if (m.w_.J[l] > 0) block(theta, m.w_.J[l]);
      theta += m.w_.J[l];
    }
  }
}

double MixtureEmMap::Finish(const std::vector<double>& theta, std::vector<double>& pi,
                            Vector3D<double>& P) {
  Unpack(theta.data(), pi, P);
  if (theta == lastFrom_) return lastLoglik_;
  return EmEStep(w_, pi, P, Q_, ratios_);
}

AcceleratedRun RunMixtureAcceleratedEm(EmWorkspace& w, const AcceleratorSettings& settings,
                                       std::vector<double>& pi, Vector3D<double>& P,
                                       Vector2D<double>& Q, Vector2D<double>& LogRatioMatrix) {
  MixtureEmMap map(w, Q, LogRatioMatrix);
  EmMStep(w, Q, pi, P);
  std::vector<double> theta(map.Size());
  map.Pack(pi, P, theta.data());
  AcceleratedRun run = RunAcceleratedEm(map.Map(), theta, settings);
  const double loglik = map.Finish(theta, pi, P);
  if (run.steps > 0) run.loglik = loglik;
  return run;
}

double ObservedCopies(const std::vector<double>& missingShare, int32_t A, int32_t L) {
  const double copies = static_cast<double>(A) * L;
  double observed = 0.0;
  for (double share : missingShare) observed += copies - std::round(share * copies);
  return observed;
}
