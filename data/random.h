// The run's one random-number generator (GSL ranlxs2) and every draw the program makes.
// Each draw takes the generator by reference; the order of calls fixes a run's outcome.
#pragma once

#include <gsl/gsl_rng.h>

#include <cstdint>
#include <vector>

// Owns one ranlxs2 generator, seeded once. No gsl_rng_env_setup: only the seed decides.
class RandomGenerator {
 public:
  explicit RandomGenerator(unsigned long seed);
  ~RandomGenerator();
  RandomGenerator(const RandomGenerator&) = delete;
  RandomGenerator& operator=(const RandomGenerator&) = delete;

  gsl_rng* handle() const { return handle_; }
  // Frees the generator early (the run releases it before writing its results).
  void Release();

 private:
  gsl_rng* handle_;
};

// The program's own categorical draw over p[0..m-1]: one uniform u in (0,1), then the
// first i with s < u <= s + p[i] for the running sum s. Returns m when no category
// was reached (the p sum to less than u); callers must not index p with m.
int32_t CategoricalDraw(RandomGenerator& rng, const double* p, int32_t m);
inline int32_t CategoricalDraw(RandomGenerator& rng, const std::vector<double>& p) {
  return CategoricalDraw(rng, p.data(), static_cast<int32_t>(p.size()));
}

// c[i] = p[0] + ... + p[i], added left to right from 0.0 exactly as CategoricalDraw adds.
void RunningSums(const double* p, int32_t m, double* c);
// The categorical draw over p given c = RunningSums(p) of non-negative p: the same single
// uniform u and the same result as CategoricalDraw (the first i with u <= c[i], or m), found
// without a branch on u by counting the c[i] below u, which the non-decreasing c allows.
int32_t CategoricalDrawCumulative(RandomGenerator& rng, const double* c, int32_t m);

// Uniform integer in 0..n-1 (n >= 1).
int32_t UniformIntDraw(RandomGenerator& rng, int32_t n);
// Puts the values in a uniformly random order, in place.
void ShuffleDraw(RandomGenerator& rng, std::vector<double>& values);
// Chooses k of the n entries of src without replacement, written to dest in src order.
void ChooseDraw(RandomGenerator& rng, int32_t* dest, int32_t k, const int32_t* src, int32_t n);
// theta[0..K-1] from the Dirichlet distribution with parameters alpha[0..K-1].
void DirichletDraw(RandomGenerator& rng, const std::vector<double>& alpha, double* theta);
// Normal variate with mean 0 and standard deviation sigma.
double GaussianDraw(RandomGenerator& rng, double sigma);
// Uniform real in (0, 1), both ends excluded.
double UniformDraw(RandomGenerator& rng);
