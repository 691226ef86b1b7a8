#include "study/run_schedule.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <new>
#include <string>
#include <thread>

#include "data/messages.h"
#include "study/alignment.h"
#include "study/model.h"
#include "study/progress.h"
#include "study/run_seeds.h"
#include "study/supervised_run.h"
#include "study/sweep_run.h"

ThreadPlan PlanThreads(int64_t copies, int32_t runCount, int32_t threads) {
  ThreadPlan plan;
  threads = std::max(threads, 1);
  if (copies > kLargeTableCopies || runCount <= 0) {
    plan.engineThreads = threads;
    return plan;
  }
  plan.parallelRuns = std::min(threads, runCount);
  plan.engineThreads = threads / plan.parallelRuns;
  return plan;
}

std::vector<RunRecord> PlanRuns(const SweepSettings& settings) {
  std::vector<RunRecord> runs;
  for (int32_t K : settings.clusterCounts) {
    for (int32_t r = 1; r <= settings.replicates; ++r) {
      RunRecord run;
      run.K = K;
      run.replicate = r;
      run.seed = RunSeed(settings.seed, K, r);
      run.start = settings.start;
      runs.push_back(run);
    }
  }
  return runs;
}

void MakeRuns(const StartContext& context, const StartMethod& start, const SweepSettings& settings,
              int32_t A, const std::vector<int32_t>& J, const ThreadPlan& plan, bool terminal,
              std::vector<RunRecord>& runs, const std::function<void(RunRecord& run)>& finished) {
  SweepProgress progress;
  BeginProgress(progress, runs, terminal);
  const StudyModel& model = *FindModel(settings.model);

  // Workers take the next run of the queue and hand its index back; the calling thread only
  // counts and draws the progress, so every console line comes from one thread.
  // The largest K first: the runs that take longest start early, and the short ones fill the
  // threads at the end, so that no thread waits long for the last run.
  std::vector<size_t> queue(runs.size());
  for (size_t i = 0; i < queue.size(); ++i) queue[i] = i;
  std::stable_sort(queue.begin(), queue.end(),
                   [&](size_t a, size_t b) { return runs[a].K > runs[b].K; });
  std::atomic<size_t> next{0};
  std::mutex mutex;
  std::condition_variable finishedSignal;
  std::deque<size_t> done;
  auto work = [&]() {
    for (size_t taken = next++; taken < queue.size(); taken = next++) {
      const size_t i = queue[taken];
      const RunRecord& planned = runs[i];
      RunRecord result;
      try {
        const ModelRunRoutine routine =
            settings.referenceCluster.empty() ? model.run : &RunSupervisedRun;
        result = routine(context, start, planned, settings, A, J, plan.engineThreads);
      } catch (const std::bad_alloc&) {
        FailRun("emclade-sweep: out of memory in run K " + std::to_string(planned.K) +
                ", replicate " + std::to_string(planned.replicate));
      }
      {
        std::lock_guard<std::mutex> lock(mutex);
        runs[i] = std::move(result);
        done.push_back(i);
      }
      finishedSignal.notify_one();
    }
  };
  std::vector<std::thread> workers;
  for (int32_t t = 0; t < std::max(plan.parallelRuns, 1); ++t) workers.emplace_back(work);

  // The frequencies of a run are kept only while no finished replicate of its K outranks it:
  // only the best replicate's are written, and on large tables they are most of a run's
  // memory. bestOfK[K] is the index of the best finished run of K so far.
  std::map<int32_t, size_t> bestOfK;
  size_t counted = 0;
  std::unique_lock<std::mutex> lock(mutex);
  while (counted < runs.size()) {
    finishedSignal.wait_for(lock, std::chrono::milliseconds(250), [&]() { return !done.empty(); });
    while (!done.empty()) {
      const size_t i = done.front();
      done.pop_front();
      ++counted;
      if (finished) {
        // Outside the lock: the workers go on while the run is handed over.
        lock.unlock();
        finished(runs[i]);
        lock.lock();
      }
      if (!settings.quiet) CountFinishedRun(progress, runs[i]);
      auto best = bestOfK.find(runs[i].K);
      if (best == bestOfK.end()) {
        bestOfK.emplace(runs[i].K, i);
      } else if (Outranks(runs[i], runs[best->second])) {
        Vector3D<double>().swap(runs[best->second].P);
        best->second = i;
      } else {
        Vector3D<double>().swap(runs[i].P);
      }
    }
    if (!settings.quiet) RedrawProgress(progress);
  }
  lock.unlock();
  for (std::thread& worker : workers) worker.join();
  EndProgress(progress);
}
