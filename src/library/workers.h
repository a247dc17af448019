// The worker engine instances of one loaded model and the threads that run them.
//
// A fitting step differences the model once per free adjustable; those walks are independent,
// so they may run at once. When more than one thread is to be used, one worker instance per
// extra thread is made: an engine state of its own holding copies of the model's compiled
// formulas bound to its own value cells, its own rate table and its own scratch point table,
// so that no two threads ever write the same cell, with the pool's threads. They are made once
// per set-up: by the set-up itself, or, for an in-process caller that defers them
// (EngineState::defer_workers) and does not ask for threads itself (fit_threads), by the first
// fitting job worth sharing (ShareOut), so that a model whose walks are too short to share
// never pays for instances and threads it would not use (a tenth of a millisecond, on a small
// fit several percent). From then on a fitting call only hands them work (no thread is
// started, no memory is taken).
// StopWorkers (release, a set-up replacing the model, destruction) joins the threads and frees
// the instances; neither a set-up nor a release ever leaves a thread running.
//
// Threads used: std::thread::hardware_concurrency(), capped by the environment variable
// TARVO_THREADS (read at each set-up; 1 runs everything on the caller's thread, as without
// workers), or the engine state's fit_threads when set; never more than one per free
// adjustable. The walks give the same figures bit for bit whatever the count. A job whose
// walks are few and short stays on the caller's thread unless fit_threads is set (ShareOut):
// waking the others would cost more than it saves.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "library/state.h"

namespace tarvo {

// A fixed set of threads that run one job at a time. Run hands job(context, k) to every
// thread k = 1..size() and returns once all have returned; the caller runs its own share
// (k = 0) meanwhile through Run's own call. The job must not throw. Run allocates nothing.
class WorkerPool {
 public:
  using Job = void (*)(void* context, int32_t thread);

  explicit WorkerPool(int32_t threads);  // raises std::system_error when a thread cannot start
  ~WorkerPool();                         // joins every thread
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  int32_t size() const { return static_cast<int32_t>(threads_.size()); }
  void Run(Job job, void* context);

 private:
  void Loop(int32_t thread);
  void Stop();

  std::mutex mutex_;
  std::condition_variable start_;
  uint64_t generation_ = 0;
  std::atomic<int32_t> running_{0};
  bool stop_ = false;
  Job job_ = nullptr;
  void* context_ = nullptr;
  std::vector<std::thread> threads_;
};

struct Workers {
  // instances[k - 1] is the engine instance of pool thread k.
  std::vector<std::unique_ptr<EngineState>> instances;
  std::unique_ptr<WorkerPool> pool;
};

// TARVO_THREADS as a positive count (at most 1024); 0 when unset or not a positive number.
// The one reading of the variable: the library's fits and the front end's analyses cap their
// threads with it.
int32_t ThreadsFromEnvironment();

// Threads a fit of a model with `free_count` free adjustables uses (1: no workers).
int32_t FitThreads(const EngineState& st, int32_t free_count);

// Whether a fitting call hands a job to the workers: the set-up provided for them, and either
// the state asks for threads itself (fit_threads) or the work the others can take off the
// caller, `walks` times the model's last walk, is long enough that waking them costs less than
// it saves (on a machine whose other cores are busy a wake-up can take longer than a short
// walk itself). The first job that is worth it makes the workers (StartWorkers). A pass over
// the points' records counts as one walk; the difference walks of a step as all but the
// caller's first. The figures are the same either way.
bool ShareOut(EngineState& st, int32_t walks);

// rows(context, begin, end) over [0, count), in contiguous chunks that the threads of the
// pool (the caller's included) take in turn when the call shares out, on the caller's thread
// alone otherwise. The job must write only the rows of its range and read nothing another
// range writes, so that the result is the one-thread result bit for bit; it must not throw.
// Only the fitting calls hand the pool work: a simulation never does, since the front end's
// work budget may run one in a forked child, where the pool's threads do not exist and a job
// handed to them would never end.
using RowJob = void (*)(void* context, int32_t begin, int32_t end);
void ForRows(EngineState& st, int32_t count, RowJob rows, void* context);

// After a set-up that left the model ready: the threads to provide for (planned_threads), and
// the workers at once unless the state defers them (defer_workers without fit_threads).
void PlanWorkers(EngineState& st);
// The workers and their threads, when the set-up provided for more than one thread and none
// are made yet. Should memory or a thread be refused, the model runs without workers.
void StartWorkers(EngineState& st);
void StopWorkers(EngineState& st);

}  // namespace tarvo
