// How well each start of the study command does: on samples simulated with known populations
// (Balding-Nichols frequencies at several F_ST, microsatellite-like and SNP-like, uneven
// population sizes, 2 % missing genotypes), every strategy runs R replicates at the true K
// (the seeds the sweep derives from --seed 1), each a start and then the sweep's own EM
// (RunSweepRun: --tolerance 1e-4, --max-iterations 10000). One line per run on standard
// output: case, strategy, replicate, seed, seconds of the start, seconds of the run (start
// and EM), iterations, converged, log-likelihood, adjusted Rand index of the run's assignment
// against the truth. bench/starts_table.py turns the lines into the table of bench/README.md.
//
//   starts_compare [--cases a,b] [--strategies a,b] [--replicates R] [--threads T]
//                  [--accelerations none,squarem] [--stop absolute|per-copy] [--tolerance X]
//                  [--confusion 1]
//
// --accelerations runs every strategy's replicates once with each EM after the annealing
// (the same seeds, so the same starts), the acceleration in its own column (default none);
// --stop and --tolerance as the study command's (default absolute, 1e-4); --confusion 1 writes
// every strategy's best run on standard error as the table of true populations (rows)
// against clusters (columns).
//
// Besides the study command's own starts (ward-anneal, kmeans, ward, random, dirichlet),
// strategies measured here only: the Ward cut without its perturbation (ward-plain), the
// k-means start followed by the default's annealing (kmeans-anneal), ten EM iterations with a
// pseudo-count of 0.01 on every allele count before plain EM (ward+pc, kmeans+pc,
// ward-anneal+pc, whose annealing follows the pseudo-count), K started from the best run of
// K - 1 with one of its clusters split in two (split; runs K = 1 .. K), and EM started from
// the true populations (truth; a reference, not a start); the default start on the classic
// dissimilarity (ward-anneal-classic); and starts followed by a search (suffix +ra: --search
// reassign, +sm: --search split-merge).
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "cluster/allele_counts.h"
#include "cluster/hclustering.h"
#include "cluster/kmeans_start.h"
#include "data/population_sample.h"
#include "data/random.h"
#include "study/alignment.h"
#include "study/rand_index.h"
#include "study/run_seeds.h"
#include "study/starts.h"
#include "study/sweep_run.h"

namespace {

struct Case {
  std::string name;
  PopulationSampleSettings settings;
  unsigned long seed = 1;  // of the simulated sample
};

Case Microsatellites(const char* shape, int32_t N, int32_t L, int32_t K, double F) {
  Case c;
  char name[64];
  std::snprintf(name, sizeof(name), "%s-F%g", shape, F);
  c.name = name;
  c.settings.N = N, c.settings.L = L, c.settings.K = K, c.settings.Fst = F;
  return c;
}

Case Snps(const char* shape, int32_t N, int32_t L, int32_t K, double F) {
  Case c = Microsatellites(shape, N, L, K, F);
  c.settings.fewestAlleles = c.settings.mostAlleles = 2;
  return c;
}

// The table's cases first (samples seeded 1000, 1001, ...), then for checking a choice: two
// more samples of each ("-s2", "-s3"), samples of other shapes, and samples larger than the
// default start's Ward tree holds.
std::vector<Case> Cases() {
  std::vector<Case> cases;
  for (double F : {0.01, 0.03, 0.1}) {
    cases.push_back(Microsatellites("ms200x10", 200, 10, 3, F));
    cases.push_back(Microsatellites("ms1000x30", 1000, 30, 5, F));
    cases.push_back(Snps("snp200x1000", 200, 1000, 3, F));
    cases.push_back(Snps("snp1000x10000", 1000, 10000, 4, F));
    cases.push_back(Snps("snp500x20000", 500, 20000, 3, F));
  }
  const size_t table = cases.size();
  for (size_t i = 0; i < table; ++i) cases[i].seed = 1000 + i;
  for (unsigned long other : {2, 3}) {
    for (size_t i = 0; i < table; ++i) {
      Case c = cases[i];
      c.name += "-s" + std::to_string(other);
      c.seed = 1000 * other + i;
      cases.push_back(c);
    }
  }
  for (double F : {0.02, 0.05}) {
    for (unsigned long other : {1, 2, 3}) {
      const std::string tag = other == 1 ? "" : "-s" + std::to_string(other);
      std::vector<Case> shapes = {
          Microsatellites("ms100x8", 100, 8, 2, F), Microsatellites("ms500x15k8", 500, 15, 8, F),
          Snps("snp100x500", 100, 500, 2, F), Snps("snp400x2000k6", 400, 2000, 6, F)};
      for (size_t i = 0; i < shapes.size(); ++i) {
        shapes[i].name += tag;
        shapes[i].seed = 5000 * other + 100 * i + static_cast<unsigned long>(F * 100);
        cases.push_back(shapes[i]);
      }
    }
  }
  // Uneven missingness that follows 10 sampling batches (most individuals miss 1-5 % of their
  // genotypes, 5 % miss 30-60 %): microsatellite-like 1000 x 300 (5-30 alleles) and SNP-like.
  const struct {
    const char* shape;
    int32_t K;
    double F;
    bool snp;
  } uneven[] = {{"msmiss1000x300k5", 5, 0.03, false},
                {"msmiss1000x300k8", 8, 0.02, false},
                {"msmiss1000x300k6", 6, 0.05, false},
                {"snpmiss1000x3000k5", 5, 0.02, true}};
  for (size_t i = 0; i < std::size(uneven); ++i) {
    const auto& u = uneven[i];
    Case c =
        u.snp ? Snps(u.shape, 1000, 3000, u.K, u.F) : Microsatellites(u.shape, 1000, 300, u.K, u.F);
    if (!u.snp) c.settings.fewestAlleles = 5, c.settings.mostAlleles = 30;
    c.settings.batches = 10;
    c.seed = 7000 + i;
    cases.push_back(c);
  }
  for (double F : {0.01, 0.03}) {
    cases.push_back(Microsatellites("ms20000x20", 20000, 20, 5, F));
    cases.push_back(Snps("snp20000x1000", 20000, 1000, 4, F));
    cases.back().seed = cases[cases.size() - 2].seed = 9000 + static_cast<unsigned long>(F * 100);
  }
  return cases;
}

// ---- A plain EM with a pseudo-count, for the measurement of pseudo-counts.
struct Slots {
  int32_t N = 0, A = 0, L = 0, S = 0;
  std::vector<int32_t> J, start;
  std::vector<int32_t> slot;  // N A L, copy (n, a, l); -1 for a missing copy
};

Slots MakeSlots(const GenotypeTable& X) {
  Slots s;
  s.N = X.N, s.A = X.A, s.L = X.L;
  for (int32_t l = 0; l < X.L; ++l) {
    s.start.push_back(s.S);
    s.J.push_back(static_cast<int32_t>(X.alleleValues[l].size()));
    s.S += s.J.back();
  }
  s.slot.resize(static_cast<size_t>(X.N) * X.A * X.L);
  size_t i = 0;
  for (int32_t n = 0; n < X.N; ++n) {
    for (int32_t a = 0; a < X.A; ++a) {
      for (int32_t l = 0; l < X.L; ++l) {
        const uint32_t c = GenotypeCode(X, n, a, l);
        s.slot[i++] = c < static_cast<uint32_t>(s.J[l]) ? s.start[l] + static_cast<int32_t>(c) : -1;
      }
    }
  }
  return s;
}

// T EM iterations from Q with eps added to every allele count of every cluster and locus.
void PseudoCountEm(const Slots& s, int32_t K, int32_t T, double eps, Vector2D<double>& Q) {
  std::vector<double> F, logP(static_cast<size_t>(s.S) * K), logPi(K), g(K);
  for (int32_t t = 0; t < T; ++t) {
    F.assign(static_cast<size_t>(s.S) * K, 0.0);
    std::vector<double> pi(K, 0.0);
    for (int32_t n = 0; n < s.N; ++n) {
      for (int32_t k = 0; k < K; ++k) pi[k] += Q[n][k];
      const int32_t* slot = s.slot.data() + static_cast<size_t>(n) * s.A * s.L;
      for (int32_t c = 0; c < s.A * s.L; ++c) {
        if (slot[c] < 0) continue;
        for (int32_t k = 0; k < K; ++k) F[static_cast<size_t>(slot[c]) * K + k] += Q[n][k];
      }
    }
    for (int32_t k = 0; k < K; ++k) logPi[k] = std::log(std::max(pi[k] / s.N, 1e-300));
    for (int32_t l = 0; l < s.L; ++l) {
      for (int32_t k = 0; k < K; ++k) {
        double total = eps * s.J[l];
        for (int32_t j = 0; j < s.J[l]; ++j)
          total += F[static_cast<size_t>(s.start[l] + j) * K + k];
        for (int32_t j = 0; j < s.J[l]; ++j) {
          const size_t at = static_cast<size_t>(s.start[l] + j) * K + k;
          logP[at] = std::log((F[at] + eps) / total);
        }
      }
    }
    for (int32_t n = 0; n < s.N; ++n) {
      g = logPi;
      const int32_t* slot = s.slot.data() + static_cast<size_t>(n) * s.A * s.L;
      for (int32_t c = 0; c < s.A * s.L; ++c) {
        if (slot[c] < 0) continue;
        for (int32_t k = 0; k < K; ++k) g[k] += logP[static_cast<size_t>(slot[c]) * K + k];
      }
      const double top = *std::max_element(g.begin(), g.end());
      double sum = 0.0;
      for (int32_t k = 0; k < K; ++k) sum += (Q[n][k] = std::exp(g[k] - top));
      for (int32_t k = 0; k < K; ++k) Q[n][k] /= sum;
    }
  }
}

// ---- What the measuring-only strategies share (set per case).
const Slots* gSlots = nullptr;
const std::vector<int32_t>* gTruth = nullptr;
const Vector2D<double>* gPrevious = nullptr;  // split: the best run of K - 1
int32_t gReplicate = 1;                       // split: the replicate being started

void OneHot(const std::vector<int32_t>& labels, Vector2D<double>& Q) {
  for (size_t n = 0; n < Q.size(); ++n) {
    std::fill(Q[n].begin(), Q[n].end(), 0.0);
    Q[n][labels[n]] = 1.0;
  }
}

std::vector<int32_t> Assigned(const Vector2D<double>& Q) {
  std::vector<int32_t> labels(Q.size());
  for (size_t n = 0; n < Q.size(); ++n) {
    labels[n] = static_cast<int32_t>(std::max_element(Q[n].begin(), Q[n].end()) - Q[n].begin());
  }
  return labels;
}

void StartWardPlain(const StartContext& c, int32_t K, RandomGenerator&, int32_t,
                    Vector2D<double>& Q) {
  OneHot(HClusteringCut(c.kept, c.absorbed, K), Q);
}

template <const char* base>
void StartThenPseudoCount(const StartContext& c, int32_t K, RandomGenerator& rng, int32_t t,
                          Vector2D<double>& Q) {
  FindStart(base)->routine(c, K, rng, t, Q);
  PseudoCountEm(*gSlots, K, 10, 0.01, Q);
}
constexpr char kWard[] = "ward", kKmeans[] = "kmeans";

void StartTruth(const StartContext&, int32_t, RandomGenerator&, int32_t, Vector2D<double>& Q) {
  OneHot(*gTruth, Q);
}

// The best run of K - 1, hard-assigned; replicate r splits its cluster of rank (r - 1) mod
// (K - 1) by within-cluster sum of squares (the most spread-out first) in two by k-means.
void StartSplit(const StartContext& c, int32_t K, RandomGenerator& rng, int32_t threads,
                Vector2D<double>& Q) {
  if (K == 1 || gPrevious == nullptr) {
    for (auto& row : Q) row[0] = 1.0;
    return;
  }
  std::vector<int32_t> labels = Assigned(*gPrevious);
  auto membersOf = [&](int32_t k) {
    std::vector<int32_t> members;
    for (int32_t n = 0; n < c.N; ++n) {
      if (labels[n] == k) members.push_back(n);
    }
    return members;
  };
  std::vector<std::pair<double, int32_t>> spread;
  for (int32_t k = 0; k < K - 1; ++k) {
    const std::vector<int32_t> members = membersOf(k);
    AlleleCountSpace space;
    const GenotypeTable Y = SelectIndividuals(*c.X, members);
    PrepareAlleleCountSpace(Y, 1, space);
    spread.push_back(
        {WithinClusterSquares(space, std::vector<int32_t>(members.size(), 0), 1, 1), k});
  }
  std::sort(spread.begin(), spread.end(), [](auto a, auto b) {
    return a.first > b.first || (a.first == b.first && a.second < b.second);
  });
  const std::vector<int32_t> members = membersOf(spread[(gReplicate - 1) % (K - 1)].second);
  if (members.size() >= 2) {
    const GenotypeTable Y = SelectIndividuals(*c.X, members);
    AlleleCountSpace space;
    PrepareAlleleCountSpace(Y, 1, space);
    std::vector<int32_t> halves;
    KmeansLabels(space, 2, KmeansSettings(), rng, threads, halves);
    for (size_t i = 0; i < members.size(); ++i) {
      if (halves[i] == 1) labels[members[i]] = K - 1;
    }
  }
  OneHot(labels, Q);
}

struct Strategy {
  std::string name;
  StartMethod method;
  bool sweep = false;           // needs the runs of K - 1
  bool fullTree = false;        // the Ward tree of every individual, however many
  bool classic = false;         // the tree on the classic dissimilarity (missing code as an allele)
  std::string search = "none";  // --search after the run converges
};

std::vector<Strategy> Strategies() {
  const StartMethod& ward = *FindStart("ward");
  const StartMethod& kmeans = *FindStart("kmeans");
  const StartMethod& annealed = *FindStart("ward-anneal");
  std::vector<Strategy> s;
  for (const StartMethod& m : StartMethods()) s.push_back({m.name, m});
  s.push_back({"ward-plain", {"ward-plain", true, false, StartWardPlain, {0, 0}, 0, ""}});
  s.push_back({"kmeans-anneal", kmeans});
  s.back().method.annealing[0] = annealed.annealing[0];
  s.back().method.annealing[1] = annealed.annealing[1];
  s.push_back({"ward+pc", ward});
  s.back().method.routine = StartThenPseudoCount<kWard>;
  s.push_back({"kmeans+pc", kmeans});
  s.back().method.routine = StartThenPseudoCount<kKmeans>;
  s.push_back({"ward-anneal+pc", annealed});
  s.back().method.routine = StartThenPseudoCount<kWard>;
  s.push_back({"split", {"split", false, true, StartSplit, {0, 0}, 0, ""}, true});
  s.push_back({"truth", {"truth", false, false, StartTruth, {0, 0}, 0, ""}});
  s.push_back({"ward-full-anneal", annealed, false, true});
  // The default start before the dissimilarity blind to missing data (full tree: the cases
  // measured have at most kWardAnnealIndividuals individuals), and the split-and-merge search.
  s.push_back({"ward-anneal-classic", annealed, false, true, true});
  s.push_back({"ward-anneal+sm", annealed, false, false, false, "split-merge"});
  s.push_back({"kmeans+sm", kmeans, false, false, false, "split-merge"});
  s.push_back({"ward-anneal+ra", annealed, false, false, false, "reassign"});
  s.push_back({"ward-anneal-classic+ra", annealed, false, true, true, "reassign"});
  s.push_back({"kmeans+ra", kmeans, false, false, false, "reassign"});
  return s;
}

std::vector<std::string> SplitList(const std::string& text) {
  std::vector<std::string> items;
  size_t begin = 0;
  while (begin <= text.size()) {
    const size_t comma = std::min(text.find(',', begin), text.size());
    if (comma > begin) items.push_back(text.substr(begin, comma - begin));
    begin = comma + 1;
  }
  return items;
}

double Seconds(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

struct Result {
  RunRecord run;
  double startSeconds = 0.0, ari = 0.0, missing = 0.0;
};

// Every individual's share of missing genotypes (copy 0 missing).
std::vector<double> MissingShares(const GenotypeTable& X) {
  std::vector<double> share(X.N, 0.0);
  for (int32_t n = 0; n < X.N; ++n) {
    int32_t missing = 0;
    for (int32_t l = 0; l < X.L; ++l)
      missing += GenotypeCode(X, n, 0, l) >= X.alleleValues[l].size();
    share[n] = static_cast<double>(missing) / X.L;
  }
  return share;
}
const std::vector<double>* gMissing = nullptr;

// The largest mean missing share of a cluster's members (hard assignment), over the sample's.
double MissingRatio(const std::vector<int32_t>& labels, int32_t K) {
  std::vector<double> sum(K, 0.0);
  std::vector<int32_t> size(K, 0);
  double total = 0.0;
  for (size_t n = 0; n < labels.size(); ++n) {
    sum[labels[n]] += (*gMissing)[n];
    ++size[labels[n]];
    total += (*gMissing)[n];
  }
  double worst = 0.0;
  for (int32_t k = 0; k < K; ++k) {
    if (size[k] > 0) worst = std::max(worst, sum[k] / size[k]);
  }
  return total > 0.0 ? worst / (total / labels.size()) : 0.0;
}

// The EM after the annealing and the tolerance of the runs (--accelerations, --stop,
// --tolerance).
RunEmSettings gEm;
double gTolerance = 1e-4;

// R replicates of one strategy at K, `threads` runs at a time (one when serial).
std::vector<Result> RunReplicates(const StartContext& context, const StartMethod& method, int32_t K,
                                  int32_t R, int32_t A, const std::vector<int32_t>& J,
                                  int32_t threads, bool serial,
                                  const std::string& search = "none") {
  std::vector<Result> results(R);
  std::atomic<int32_t> next{0};
  auto work = [&]() {
    for (int32_t r = next++; r < R; r = next++) {
      if (serial) gReplicate = r + 1;
      const uint32_t seed = RunSeed(1, K, r + 1);
      // The start alone, timed (RunSweepRun makes it again, the same from the same seed).
      Vector2D<double> Q;
      InitVctr2D(Q, context.N, K, 0.0);
      RandomGenerator rng(seed);
      const auto t0 = std::chrono::steady_clock::now();
      method.routine(context, K, rng, 1, Q);
      results[r].startSeconds = Seconds(t0);
      results[r].run =
          RunSweepRun(context, method, K, r + 1, seed, 10000, gTolerance, A, J, 1, gEm, search);
      results[r].ari = AdjustedRandIndex(Assigned(results[r].run.Q), *gTruth);
      results[r].missing = MissingRatio(Assigned(results[r].run.Q), K);
      Vector3D<double>().swap(results[r].run.P);
    }
  };
  std::vector<std::thread> pool;
  for (int32_t t = 0; t < (serial ? 1 : threads); ++t) pool.emplace_back(work);
  for (auto& t : pool) t.join();
  return results;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> caseNames, strategyNames, accelerations = {"none"};
  int32_t R = 10, threads = 2;
  bool confusion = false;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i], value = argv[i + 1];
    if (option == "--cases") caseNames = SplitList(value);
    if (option == "--strategies") strategyNames = SplitList(value);
    if (option == "--replicates") R = std::stoi(value);
    if (option == "--threads") threads = std::stoi(value);
    if (option == "--accelerations") accelerations = SplitList(value);
    if (option == "--stop") ParseStoppingRule(value, gEm.rule);
    if (option == "--tolerance") gTolerance = std::stod(value);
    if (option == "--confusion") confusion = value == "1";
  }
  auto wanted = [](const std::vector<std::string>& list, const std::string& name) {
    return list.empty() || std::find(list.begin(), list.end(), name) != list.end();
  };
  std::cout << "case\tstrategy\treplicate\tseed\tstart_s\trun_s\titerations\tconverged\tloglik"
               "\tari\ttree_s\tmissing_ratio\tacceleration"
            << std::endl;
  for (const Case& c : Cases()) {
    if (!wanted(caseNames, c.name)) continue;
    RandomGenerator rng(c.seed);
    PopulationSample sample;
    SimulatePopulationSample(c.settings, rng, sample);
    const GenotypeTable& X = sample.X;
    const int32_t K = c.settings.K;
    std::vector<int32_t> J;
    for (const auto& v : X.alleleValues) J.push_back(static_cast<int32_t>(v.size()));
    const Slots slots = MakeSlots(X);
    gSlots = &slots;
    gTruth = &sample.population;
    const std::vector<double> missingShares = MissingShares(X);
    gMissing = &missingShares;
    // Contexts by the Ward tree they hold: none, the default start's (at most
    // kWardAnnealIndividuals individuals) and every individual's.
    StartContext plain, capped, full;
    double cappedSeconds = -1.0, fullSeconds = -1.0, classicSeconds = 0.0;
    for (StartContext* context : {&plain, &capped, &full}) {
      context->X = &X;
      context->N = X.N;
      context->L = X.L;
    }
    for (StartContext* context : {&plain, &capped, &full}) {
      context->observedCopies = 0.0;
      for (int32_t n = 0; n < X.N; ++n) {
        for (int32_t a = 0; a < X.A; ++a) {
          for (int32_t l = 0; l < X.L; ++l) {
            context->observedCopies += GenotypeCode(X, n, a, l) < static_cast<uint32_t>(J[l]);
          }
        }
      }
    }
    gEm.observedCopies = plain.observedCopies;
    PrepareAlleleCountSpace(X, threads, plain.counts);
    capped.counts = full.counts = plain.counts;
    for (const Strategy& s : Strategies()) {
      if (!wanted(strategyNames, s.name)) continue;
      StartContext* context = &plain;
      if (s.method.needsWardTree) {
        const bool whole =
            s.fullTree || s.method.wardIndividuals == 0 || X.N <= s.method.wardIndividuals;
        context = whole ? &full : &capped;
        double& seconds = whole ? fullSeconds : cappedSeconds;
        if (s.classic) {
          // Its own context: the full tree on the classic dissimilarity.
          static StartContext classic;
          classic = StartContext();
          classic.X = &X;
          classic.N = X.N;
          classic.L = X.L;
          classic.counts = plain.counts;
          const auto t0 = std::chrono::steady_clock::now();
          CondensedDistances D = HClusteringDistance(X, true, threads);
          HClusteringEngine(X.N, D, 6, classic.kept, classic.absorbed);
          context = &classic;
          classicSeconds = Seconds(t0);
        } else if (seconds < 0.0) {
          const auto t0 = std::chrono::steady_clock::now();
          PrepareWardTree(*context, whole ? *FindStart("ward") : s.method, {K}, 1, 0.0, threads,
                          c.name);
          seconds = Seconds(t0);
        }
      }
      double treeSeconds = !s.method.needsWardTree ? 0.0
                           : context == &full      ? fullSeconds
                                                   : cappedSeconds;
      if (s.classic) treeSeconds = classicSeconds;
      for (const std::string& acceleration : accelerations) {
        ParseAcceleration(acceleration, gEm.acceleration);
        const auto t0 = std::chrono::steady_clock::now();
        std::vector<Result> results;
        if (s.sweep) {
          // K = 1 .. K, each K started from the best run of K - 1.
          Vector2D<double> previous;
          for (int32_t k = 1; k <= K; ++k) {
            gPrevious = k > 1 ? &previous : nullptr;
            results = RunReplicates(*context, s.method, k, k == 1 ? 1 : R, X.A, J, threads, true);
            size_t best = 0;
            for (size_t i = 1; i < results.size(); ++i) {
              if (Outranks(results[i].run, results[best].run)) best = i;
            }
            previous = results[best].run.Q;
          }
          gPrevious = nullptr;
        } else {
          results = RunReplicates(*context, s.method, K, R, X.A, J, threads, false, s.search);
        }
        if (confusion) {
          size_t best = 0;
          for (size_t i = 1; i < results.size(); ++i)
            if (results[i].run.loglik > results[best].run.loglik) best = i;
          const std::vector<int32_t> got = Assigned(results[best].run.Q);
          std::vector<std::vector<int>> table(K, std::vector<int>(K, 0));
          for (size_t n = 0; n < got.size(); ++n) ++table[sample.population[n]][got[n]];
          std::cerr << s.name << " best rep " << results[best].run.replicate << " ll "
                    << results[best].run.loglik << "\n";
          for (auto& row : table) {
            for (int v : row) std::cerr << v << "\t";
            std::cerr << "\n";
          }
        }
        for (const Result& r : results) {
          std::printf("%s\t%s\t%d\t%u\t%.4f\t%.3f\t%d\t%d\t%.4f\t%.4f\t%.3f\t%.2f\t%s\n",
                      c.name.c_str(), s.name.c_str(), r.run.replicate, r.run.seed, r.startSeconds,
                      r.run.seconds, r.run.iterations, r.run.converged ? 1 : 0, r.run.loglik, r.ari,
                      treeSeconds, r.missing, acceleration.c_str());
        }
        std::fflush(stdout);
        std::cerr << c.name << " " << s.name << " " << acceleration << ": " << Seconds(t0)
                  << " s\n";
      }
    }
  }
  return 0;
}
