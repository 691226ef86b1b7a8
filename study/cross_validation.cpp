#include "study/cross_validation.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <iostream>
#include <limits>
#include <mutex>
#include <new>
#include <string>
#include <thread>

#include "data/messages.h"
#include "study/model.h"
#include "study/progress.h"
#include "study/run_schedule.h"
#include "study/run_seeds.h"

namespace {

// The per-individual part of CvFold's hash.
uint64_t RowKey(uint64_t seed, int32_t n) {
  return SeedMix(SeedMix(SeedMix(seed) ^ 0x6376ULL) ^
                 static_cast<uint64_t>(static_cast<uint32_t>(n)));
}

int32_t FoldOf(uint64_t rowKey, int32_t l, int32_t V) {
  const uint64_t h = SeedMix(rowKey ^ static_cast<uint64_t>(static_cast<uint32_t>(l)));
  return static_cast<int32_t>(((h >> 32) * static_cast<uint64_t>(V)) >> 32);
}

// The observed copies of genotype (n, l) of X as distinct codes (ascending) and their counts;
// returns how many distinct codes.
int32_t ObservedAlleles(const GenotypeTable& X, int32_t n, int32_t l, uint32_t* codes,
                        int32_t* counts) {
  const std::vector<int32_t>& values = X.alleleValues[l];
  int32_t distinct = 0;
  for (int32_t a = 0; a < X.A; ++a) {
    const uint32_t code = GenotypeCode(X, n, a, l);
    if (code >= values.size() || values[code] < 0) continue;
    int32_t i = 0;
    while (i < distinct && codes[i] < code) ++i;
    if (i < distinct && codes[i] == code) {
      ++counts[i];
      continue;
    }
    for (int32_t j = distinct; j > i; --j) {
      codes[j] = codes[j - 1];
      counts[j] = counts[j - 1];
    }
    codes[i] = code;
    counts[i] = 1;
    ++distinct;
  }
  return distinct;
}

// One fit of the cross-validation: the best run of summary i, fold v held out.
struct CvTask {
  size_t summary = 0;
  int32_t fold = 0;
};

// The deviance and held-out genotypes of every (K, fold), filled by the tasks.
struct CvScores {
  std::vector<std::vector<double>> deviance;
  std::vector<std::vector<int64_t>> genotypes;
};

void RunCvTask(const StudyRecord& study, const GenotypeTable& X, const StudyModel& model,
               const CvTask& task, int32_t engineThreads, CvScores& scores) {
  const SweepSettings& settings = study.settings;
  const int32_t V = settings.cvFolds;
  GenotypeTable masked = X;
  MaskFold(X, settings.seed, V, task.fold, masked);
  const RunRecord& best = study.runs[study.summaries[task.summary].best];
  RunRecord fit;
  fit.K = best.K;
  fit.replicate = best.replicate;
  fit.seed = best.seed;
  fit.Q = best.Q;
  fit.P = best.P;
  model.refit(masked, settings, engineThreads, fit);
  double deviance = 0.0;
  const int64_t genotypes = ScoreFold(X, settings.seed, V, task.fold, fit.Q, fit.P, deviance);
  scores.deviance[task.summary][task.fold] = deviance;
  scores.genotypes[task.summary][task.fold] = genotypes;
}

}  // namespace

int32_t CvFold(uint64_t seed, int32_t n, int32_t l, int32_t V) {
  return FoldOf(RowKey(seed, n), l, V);
}

double GenotypeDeviance(const int32_t* c, const double* h, int32_t alleles) {
  int32_t m = 0;
  for (int32_t i = 0; i < alleles; ++i) m += c[i];
  double deviance = 0.0;
  for (int32_t i = 0; i < alleles; ++i) {
    if (c[i] == 0) continue;
    const double share = std::max(h[i], kCvShareFloor);
    deviance += c[i] * std::log(c[i] / (m * share));
  }
  return 2.0 * deviance;
}

int64_t MaskFold(const GenotypeTable& X, uint64_t seed, int32_t V, int32_t v,
                 GenotypeTable& masked) {
  std::vector<uint32_t> codes(X.A);
  std::vector<int32_t> counts(X.A);
  int64_t held = 0;
  for (int32_t n = 0; n < X.N; ++n) {
    const uint64_t rowKey = RowKey(seed, n);
    for (int32_t l = 0; l < X.L; ++l) {
      if (FoldOf(rowKey, l, V) != v) continue;
      if (ObservedAlleles(X, n, l, codes.data(), counts.data()) == 0) continue;
      const uint32_t missing = static_cast<uint32_t>(X.alleleValues[l].size());
      for (int32_t a = 0; a < X.A; ++a) SetGenotypeCode(masked, n, a, l, missing);
      ++held;
    }
  }
  return held;
}

int64_t ScoreFold(const GenotypeTable& X, uint64_t seed, int32_t V, int32_t v,
                  const Vector2D<double>& Q, const Vector3D<double>& P, double& deviance) {
  const int32_t K = static_cast<int32_t>(P.size()), L = X.L;
  std::vector<uint32_t> codes(X.A);
  std::vector<int32_t> counts(X.A);
  std::vector<double> shares(X.A);
  // The copies every cluster saw at every locus outside the fold (k outer, l inner).
  std::vector<double> seen(static_cast<size_t>(K) * L, 0.0);
  for (int32_t n = 0; n < X.N; ++n) {
    const uint64_t rowKey = RowKey(seed, n);
    for (int32_t l = 0; l < L; ++l) {
      if (FoldOf(rowKey, l, V) == v) continue;
      int32_t m = 0;
      const int32_t alleles = ObservedAlleles(X, n, l, codes.data(), counts.data());
      for (int32_t i = 0; i < alleles; ++i) m += counts[i];
      for (int32_t k = 0; k < K; ++k) seen[static_cast<size_t>(k) * L + l] += Q[n][k] * m;
    }
  }
  int64_t held = 0;
  for (int32_t n = 0; n < X.N; ++n) {
    const uint64_t rowKey = RowKey(seed, n);
    const std::vector<double>& q = Q[n];
    for (int32_t l = 0; l < L; ++l) {
      if (FoldOf(rowKey, l, V) != v) continue;
      const int32_t alleles = ObservedAlleles(X, n, l, codes.data(), counts.data());
      if (alleles == 0) continue;
      const double J = static_cast<double>(X.alleleValues[l].size());
      for (int32_t i = 0; i < alleles; ++i) {
        double h = 0.0;
        for (int32_t k = 0; k < K; ++k) {
          const double c = seen[static_cast<size_t>(k) * L + l];
          h += q[k] * ((c * P[k][l][codes[i]] + 1.0) / (c + J));
        }
        shares[i] = h;
      }
      deviance += GenotypeDeviance(counts.data(), shares.data(), alleles);
      ++held;
    }
  }
  return held;
}

void CrossValidateStudy(StudyRecord& study, const GenotypeTable& X, bool terminal) {
  const SweepSettings& settings = study.settings;
  const int32_t V = settings.cvFolds;
  if (V < 2 || study.summaries.empty()) return;
  const StudyModel& model = *FindModel(settings.model);
  const auto began = std::chrono::steady_clock::now();

  // Every K's fits in a row, the largest K first (the longest fits start early).
  std::vector<CvTask> tasks;
  std::vector<size_t> byK(study.summaries.size());
  for (size_t i = 0; i < byK.size(); ++i) byK[i] = i;
  std::stable_sort(byK.begin(), byK.end(),
                   [&](size_t a, size_t b) { return study.summaries[a].K > study.summaries[b].K; });
  for (size_t i : byK) {
    for (int32_t v = 0; v < V; ++v) tasks.push_back({i, v});
  }
  CvScores scores;
  scores.deviance.assign(study.summaries.size(), std::vector<double>(V, 0.0));
  scores.genotypes.assign(study.summaries.size(), std::vector<int64_t>(V, 0));
  const ThreadPlan plan = PlanThreads(static_cast<int64_t>(X.N) * X.A * X.L,
                                      static_cast<int32_t>(tasks.size()), settings.threads);

  std::atomic<size_t> next{0};
  std::mutex mutex;
  std::condition_variable finishedSignal;
  std::deque<size_t> done;
  auto work = [&]() {
    for (size_t i = next++; i < tasks.size(); i = next++) {
      try {
        RunCvTask(study, X, model, tasks[i], plan.engineThreads, scores);
      } catch (const std::bad_alloc&) {
        FailRun("emclade-sweep: out of memory in the cross-validation of K " +
                std::to_string(study.summaries[tasks[i].summary].K));
      }
      {
        std::lock_guard<std::mutex> lock(mutex);
        done.push_back(i);
      }
      finishedSignal.notify_one();
    }
  };
  std::vector<std::thread> workers;
  for (int32_t t = 0; t < std::max(plan.parallelRuns, 1); ++t) workers.emplace_back(work);

  // The calling thread only counts and writes the progress.
  std::vector<int32_t> left(study.summaries.size(), V);
  size_t counted = 0;
  bool drawn = false;
  std::unique_lock<std::mutex> lock(mutex);
  while (counted < tasks.size()) {
    finishedSignal.wait_for(lock, std::chrono::milliseconds(250), [&]() { return !done.empty(); });
    while (!done.empty()) {
      const CvTask& task = tasks[done.front()];
      done.pop_front();
      ++counted;
      if (--left[task.summary] == 0 && !settings.quiet && !terminal) {
        std::cerr
            << "emclade-sweep: cross-validation of K " << study.summaries[task.summary].K
            << " done (" << V << " folds); " << counted << "/" << tasks.size() << " fits, "
            << FormatDuration(
                   std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count())
            << std::endl;
      }
    }
    if (!settings.quiet && terminal) {
      std::cerr
          << "\remclade-sweep: cross-validation: " << counted << "/" << tasks.size() << " fits ("
          << V << " folds per K), "
          << FormatDuration(
                 std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count())
          << " elapsed\x1b[K" << std::flush;
      drawn = true;
    }
  }
  lock.unlock();
  for (std::thread& worker : workers) worker.join();
  if (drawn) std::cerr << std::endl;

  // The folds' errors, each fold's deviance over its genotypes, combined v ascending (a fold
  // that drew no genotype, on a tiny table, is left out).
  for (size_t i = 0; i < study.summaries.size(); ++i) {
    KSummary& s = study.summaries[i];
    std::vector<double> errors;
    double sum = 0.0;
    for (int32_t v = 0; v < V; ++v) {
      const int64_t held = scores.genotypes[i][v];
      if (held == 0) continue;
      errors.push_back(scores.deviance[i][v] / static_cast<double>(held));
      sum += errors.back();
    }
    const double folds = static_cast<double>(errors.size());
    s.cvError = folds > 0 ? sum / folds : std::numeric_limits<double>::quiet_NaN();
    double squares = 0.0;
    for (double e : errors) squares += (e - s.cvError) * (e - s.cvError);
    s.cvSe = folds > 1 ? std::sqrt(squares / (folds - 1.0)) / std::sqrt(folds)
                       : std::numeric_limits<double>::quiet_NaN();
  }
}
