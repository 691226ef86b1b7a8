// The admixture model on a simulated admixed sample (data/population_sample.h): replicate 1's
// mixture-model run (ward-anneal start, as the sweep makes it) as the start, then the
// admixture EM: under the global SQUAREM with its plain-gain stop (the scheme before
// cluster/block_squarem.h), under the model's own scheme (RunAdmixtureEm) to the sweep's
// tolerance 1e-4 and to 1e-9 per observed copy, and plain (to a gain below 1e-10 per step,
// the reference optimum; PLAIN_STEPS 0 leaves it out), and, from another start (a flat
// Dirichlet Q with P from it), the model's scheme again. One line per run: log-likelihood, EM
// steps, seconds, RMSE of Q against the true ancestry (clusters matched by the best permutation),
// adjusted Rand index of the arg-max against the populations of the unmixed individuals.
//
//   admixture_compare N L K FST ALLELES_MIN ALLELES_MAX ADMIXED_SHARE SEED [THREADS
//                     [PLAIN_STEPS [EPSILON [LONG_STEPS]]]]
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <string>
#include <vector>

#include "cluster/accelerated_em.h"
#include "cluster/admixture_em.h"
#include "data/population_sample.h"
#include "study/rand_index.h"
#include "study/run_seeds.h"
#include "study/starts.h"
#include "study/sweep_run.h"

namespace {

double Seconds(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

void Report(const char* what, const AdmixtureModel& m, const std::vector<double>& theta,
            double loglik, int32_t steps, double seconds, const PopulationSample& sample) {
  const int32_t N = m.N, K = m.K;
  std::vector<int32_t> perm(K);
  std::iota(perm.begin(), perm.end(), 0);
  double best = INFINITY;
  do {
    double sum = 0.0;
    for (int32_t n = 0; n < N; ++n) {
      for (int32_t k = 0; k < K; ++k) {
        const double d = theta[static_cast<size_t>(n) * K + perm[k]] - sample.ancestry[n][k];
        sum += d * d;
      }
    }
    best = std::min(best, std::sqrt(sum / (static_cast<double>(N) * K)));
  } while (std::next_permutation(perm.begin(), perm.end()));
  std::vector<int32_t> truth, found;
  for (int32_t n = 0; n < N; ++n) {
    const std::vector<double>& q = sample.ancestry[n];
    if (*std::max_element(q.begin(), q.end()) < 1.0) continue;
    truth.push_back(sample.population[n]);
    const double* row = theta.data() + static_cast<size_t>(n) * K;
    found.push_back(static_cast<int32_t>(std::max_element(row, row + K) - row));
  }
  std::printf("%-28s loglik %.4f steps %d seconds %.2f rmse %.4f ari_unmixed %.4f\n", what, loglik,
              steps, seconds, best, AdjustedRandIndex(found, truth));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 9) {
    std::fprintf(stderr,
                 "usage: admixture_compare N L K FST ALLELES_MIN ALLELES_MAX ADMIXED_SHARE SEED "
                 "[THREADS]\n");
    return 1;
  }
  PopulationSampleSettings settings;
  settings.N = std::stoi(argv[1]);
  settings.L = std::stoi(argv[2]);
  settings.K = std::stoi(argv[3]);
  settings.Fst = std::stod(argv[4]);
  settings.fewestAlleles = std::stoi(argv[5]);
  settings.mostAlleles = std::stoi(argv[6]);
  settings.admixedShare = std::stod(argv[7]);
  const uint32_t seed = static_cast<uint32_t>(std::stoul(argv[8]));
  const int32_t threads = argc > 9 ? std::stoi(argv[9]) : 1;
  RandomGenerator rng(seed);
  PopulationSample sample;
  SimulatePopulationSample(settings, rng, sample);
  const GenotypeTable& X = sample.X;
  const int32_t K = settings.K;
  std::vector<int32_t> J(X.L);
  for (int32_t l = 0; l < X.L; ++l) J[l] = static_cast<int32_t>(X.alleleValues[l].size());

  // The mixture run of replicate 1, as a sweep of seed 1 makes it.
  auto t0 = std::chrono::steady_clock::now();
  StartContext context;
  context.X = &X;
  context.N = X.N;
  context.L = X.L;
  const StartMethod& start = *FindStart("ward-anneal");
  PrepareWardTree(context, start, {K}, 1, 0.0, threads, "sample");
  RunRecord mixture =
      RunSweepRun(context, start, K, 1, RunSeed(1, K, 1), 10000, 1e-4, X.A, J, threads);
  const double mixtureSeconds = Seconds(t0);

  AdmixtureModel m;
  PrepareAdmixtureModel(X, K, threads, m);
  std::vector<double> start0;
  PackAdmixture(m, mixture.Q, mixture.P, start0);
  Report("mixture run (its Q)", m, start0, mixture.loglik, mixture.iterations, mixtureSeconds,
         sample);
  // EPSILON 0 (or none): the start clamped at 1e-5, the accelerator's own clamp (1e-11).
  const double epsilon = argc > 11 ? std::stod(argv[11]) : 0.0;
  ProjectAdmixture(m, start0.data(), epsilon > 0.0 ? epsilon : 1e-5);

  AcceleratorSettings fast;
  fast.maxSteps = 100000;
  if (epsilon > 0.0) fast.epsilon = epsilon;
  fast.observedCopies = m.observedCopies;
  std::vector<double> theta = start0;
  t0 = std::chrono::steady_clock::now();
  AcceleratedRun run = RunAcceleratedEm(AdmixtureEmMap(m), theta, fast);
  Report("global squarem, 1e-4 (before)", m, theta, run.loglik, run.steps, Seconds(t0), sample);

  theta = start0;
  t0 = std::chrono::steady_clock::now();
  run = RunAdmixtureEm(m, theta, fast);
  Report("admixture em, 1e-4", m, theta, run.loglik, run.steps, Seconds(t0), sample);

  fast.rule = StoppingRule::kPerCopy;
  fast.tolerance = 1e-9;
  theta = start0;
  t0 = std::chrono::steady_clock::now();
  run = RunAdmixtureEm(m, theta, fast);
  Report("admixture em, 1e-9/copy", m, theta, run.loglik, run.steps, Seconds(t0), sample);

  AcceleratorSettings plain = fast;
  plain.method = Acceleration::kNone;
  plain.rule = StoppingRule::kAbsolute;
  plain.tolerance = 1e-10;
  plain.maxSteps = argc > 10 ? std::stoi(argv[10]) : 20000;
  if (plain.maxSteps > 0) {
    theta = start0;
    t0 = std::chrono::steady_clock::now();
    run = RunAcceleratedEm(AdmixtureEmMap(m), theta, plain);
    Report(run.converged ? "admixture, plain, 1e-10" : "admixture, plain (cap)", m, theta,
           run.loglik, run.steps, Seconds(t0), sample);
  }

  // The longest run: the model's scheme for LONG_STEPS steps, no stop (the best optimum known
  // where plain EM does not get there).
  if (argc > 12) {
    AcceleratorSettings longer = fast;
    longer.tolerance = 0.0;
    longer.maxSteps = std::stoi(argv[12]);
    theta = start0;
    t0 = std::chrono::steady_clock::now();
    run = RunAdmixtureEm(m, theta, longer);
    Report("admixture em, no stop", m, theta, run.loglik, run.steps, Seconds(t0), sample);
  }

  // Another start: a flat Dirichlet Q, P the Q-weighted allele shares.
  RandomGenerator other(RunSeed(1, K, 1));
  std::vector<double> alt(start0.size(), 0.0);
  const std::vector<double> ones(K, 1.0);
  for (int32_t n = 0; n < X.N; ++n)
    DirichletDraw(other, ones, alt.data() + static_cast<size_t>(n) * K);
  const size_t alleles = m.alleleStart[X.L];
  double* P = alt.data() + static_cast<size_t>(X.N) * K;
  for (int32_t n = 0; n < X.N; ++n) {
    for (int32_t a = 0; a < X.A; ++a) {
      for (int32_t l = 0; l < X.L; ++l) {
        const uint32_t code = GenotypeCode(X, n, a, l);
        if (code >= static_cast<uint32_t>(J[l])) continue;
        for (int32_t k = 0; k < K; ++k)
          P[k * alleles + m.alleleStart[l] + code] += alt[static_cast<size_t>(n) * K + k];
      }
    }
  }
  ProjectAdmixture(m, alt.data(), 1e-5);
  fast.rule = StoppingRule::kAbsolute;
  fast.tolerance = 1e-4;
  t0 = std::chrono::steady_clock::now();
  run = RunAdmixtureEm(m, alt, fast);
  Report("dirichlet start, admixture em", m, alt, run.loglik, run.steps, Seconds(t0), sample);
  return 0;
}
