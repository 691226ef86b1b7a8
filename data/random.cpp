#include "data/random.h"

#include <gsl/gsl_randist.h>

RandomGenerator::RandomGenerator(unsigned long seed) : handle_(gsl_rng_alloc(gsl_rng_ranlxs2)) {
  gsl_rng_set(handle_, seed);
}

RandomGenerator::~RandomGenerator() {
  Release();
}

void RandomGenerator::Release() {
  if (handle_ != nullptr) gsl_rng_free(handle_);
  handle_ = nullptr;
}

int32_t CategoricalDraw(RandomGenerator& rng, const double* p, int32_t m) {
  const double u = gsl_rng_uniform_pos(rng.handle());
  double s = 0.0;
  for (int32_t i = 0; i < m; ++i) {
    if (s < u && u <= s + p[i]) return i;
    s = s + p[i];
  }
  return m;
}

void RunningSums(const double* p, int32_t m, double* c) {
  double s = 0.0;
  for (int32_t i = 0; i < m; ++i) {
    s = s + p[i];
    c[i] = s;
  }
}

int32_t CategoricalDrawCumulative(RandomGenerator& rng, const double* c, int32_t m) {
  const double u = gsl_rng_uniform_pos(rng.handle());
  int32_t below = 0;
  for (int32_t i = 0; i < m; ++i) below += c[i] < u ? 1 : 0;
  return below;
}

int32_t UniformIntDraw(RandomGenerator& rng, int32_t n) {
  return static_cast<int32_t>(gsl_rng_uniform_int(rng.handle(), static_cast<unsigned long>(n)));
}

void ShuffleDraw(RandomGenerator& rng, std::vector<double>& values) {
  gsl_ran_shuffle(rng.handle(), values.data(), values.size(), sizeof(double));
}

void ChooseDraw(RandomGenerator& rng, int32_t* dest, int32_t k, const int32_t* src, int32_t n) {
  gsl_ran_choose(rng.handle(), dest, static_cast<size_t>(k), const_cast<int32_t*>(src),
                 static_cast<size_t>(n), sizeof(int32_t));
}

void DirichletDraw(RandomGenerator& rng, const std::vector<double>& alpha, double* theta) {
  gsl_ran_dirichlet(rng.handle(), alpha.size(), alpha.data(), theta);
}

double GaussianDraw(RandomGenerator& rng, double sigma) {
  return gsl_ran_gaussian(rng.handle(), sigma);
}

double UniformDraw(RandomGenerator& rng) {
  return gsl_rng_uniform_pos(rng.handle());
}
