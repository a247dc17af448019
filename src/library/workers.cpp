#include "library/workers.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <new>

#include "Symbolic/compil.h"
#include "library/record_copy.h"

namespace tarvo {

WorkerPool::WorkerPool(int32_t threads) {
  threads_.reserve(static_cast<size_t>(std::max(threads, 0)));
  try {
    for (int32_t k = 1; k <= threads; ++k) threads_.emplace_back([this, k] { Loop(k); });
  } catch (...) {
    Stop();
    throw;
  }
}

WorkerPool::~WorkerPool() { Stop(); }

void WorkerPool::Stop() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  start_.notify_all();
  for (std::thread& t : threads_)
    if (t.joinable()) t.join();
  threads_.clear();
}

void WorkerPool::Loop(int32_t thread) {
  uint64_t seen = 0;
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    start_.wait(lock, [&] { return stop_ || generation_ != seen; });
    if (stop_) return;
    seen = generation_;
    const Job job = job_;
    void* const context = context_;
    lock.unlock();
    job(context, thread);
    running_.fetch_sub(1, std::memory_order_release);
    lock.lock();
  }
}

void WorkerPool::Run(Job job, void* context) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    job_ = job;
    context_ = context;
    running_.store(size(), std::memory_order_relaxed);
    ++generation_;
  }
  start_.notify_all();
  job(context, 0);
  // The caller's share is done; the others finish a walk each at most. Sleeping on a
  // condition would add the time the scheduler takes to wake this thread again (on a busy
  // machine, a time slice), so the caller gives way to other threads until they are done.
  while (running_.load(std::memory_order_acquire) != 0) std::this_thread::yield();
}

int32_t ThreadsFromEnvironment() {
  const char* text = std::getenv("TARVO_THREADS");
  if (!text || !*text) return 0;
  char* end = nullptr;
  const long n = std::strtol(text, &end, 10);
  if (*end != '\0' || n < 1) return 0;
  return static_cast<int32_t>(std::min<long>(n, 1024));
}

namespace {

// TARVO_THREADS, at most one thread per adjustable.
int32_t EnvironmentCap() {
  return std::min<int32_t>(ThreadsFromEnvironment(), kMaxAdjustables);
}

// A worker instance: the model's formulas copied onto its own cells, the settings and counts
// the walks read, and a scratch table of its own whose output handles are its copies.
void CopyModel(const EngineState& st, EngineState& w) {
  w.cells = st.cells;
  w.rates = st.rates;
  w.rates.cells = &w.cells;
  for (compilptr& c : w.rates.formula) c = nullptr;
  w.loaded = true;  // from here on, its destructor releases whatever was copied
  const BInitials& m = st.initials;
  CopyCounts(w.initials, m);
  CopySettings(w.fitset, st.fitset);
  w.engine = st.engine;
  // An external method's solver memory serves one walk at a time: each worker gets its own.
  w.external = st.external;
  if (st.external) {
    w.work = st.external->create();
    if (!w.work) throw std::bad_alloc();
  }
  w.NFree = st.NFree;
  std::copy(std::begin(st.output_varying), std::end(st.output_varying), w.output_varying);
  std::copy(std::begin(st.output_value), std::end(st.output_value), w.output_value);
  for (int i = 0; i < kDerivativeSlots; ++i)
    w.rates.formula[i] = CloneCompil(st.rates.formula[i], st.cells, w.cells);
  for (int s = 0; s < kMaxSpecies; ++s)
    for (int k = 0; k < kMaxIntervals; ++k)
      w.species[s].Formula[k] = CloneCompil(st.species[s].Formula[k], st.cells, w.cells);
  for (int p = 0; p < kMaxParameters; ++p)
    for (int k = 0; k < kMaxIntervals; ++k)
      w.parameters[p].Equation[k] = CloneCompil(st.parameters[p].Equation[k], st.cells, w.cells);
  for (int a = 0; a < kMaxAdjustables; ++a) {
    const PAjustable& from = st.adjustables[a];
    PAjustable& to = w.adjustables[a];
    to.Value = from.Value;
    to.SD = from.SD;
    to.dP = from.dP;
    to.Adjustable = from.Adjustable;
    to.Equation = CloneCompil(from.Equation, st.cells, w.cells);
  }
  // The worker's walks use its point table as their scratch table. A walk reads and writes
  // the output handles and the walked fields of the records of the model's points (record 1
  // too when there are none) and nothing else, so the table ends after those records and
  // only those fields are cleared (clearing whole records took most of a small fit's set-up:
  // a block the heap hands back again is not fresh from the system).
  const int32_t records = std::clamp<int32_t>(m.NPoints, 1, kMaxPoints);
  w.points = static_cast<PointTable*>(
      std::malloc(offsetof(PointTable, Points) + sizeof(PointRecord) * static_cast<size_t>(records)));
  if (!w.points) throw std::bad_alloc();
  ClearWalked(w.points->Points, records);
  w.table_records = records;
  for (int o = 0; o < kMaxOutputs; ++o) {
    w.points->Outputs[o] = CloneCompil(st.points->Outputs[o], st.cells, w.cells);
    LayOut(st.output_sums[o].source ? w.points->Outputs[o] : nullptr, w.output_sums[o]);
  }
}

}  // namespace

int32_t FitThreads(const EngineState& st, int32_t free_count) {
  int32_t n = static_cast<int32_t>(std::thread::hardware_concurrency());
  n = std::max(n, 1);
  if (const int32_t cap = EnvironmentCap(); cap > 0) n = std::min(n, cap);
  if (st.fit_threads > 0) n = st.fit_threads;
  return std::clamp(std::min(n, free_count), 1, static_cast<int32_t>(kMaxAdjustables));
}

void PlanWorkers(EngineState& st) {
  StopWorkers(st);
  st.planned_threads = FitThreads(st, st.NFree);
  if (st.fit_threads > 0 || !st.defer_workers) StartWorkers(st);
}

void StartWorkers(EngineState& st) {
  const int32_t threads = st.planned_threads;
  if (threads <= 1 || st.workers || !st.points) return;
  st.planned_threads = 1;  // made once: a refusal below is not met again at every call
  try {
    auto workers = std::make_unique<Workers>();
    for (int32_t k = 1; k < threads; ++k) {
      workers->instances.push_back(std::make_unique<EngineState>());
      CopyModel(st, *workers->instances.back());
    }
    workers->pool = std::make_unique<WorkerPool>(threads - 1);
    st.workers = std::move(workers);
    st.planned_threads = threads;
  } catch (...) {
    // Without memory or threads for them, the walks run one after another on the caller's.
  }
}

void StopWorkers(EngineState& st) { st.workers.reset(); }

bool ShareOut(EngineState& st, int32_t walks) {
  constexpr double kThreadedWorkSeconds = 200e-6;
  const bool worth = st.fit_threads > 0 || st.walk_seconds * walks >= kThreadedWorkSeconds;
  if (worth && !st.workers && st.planned_threads > 1) StartWorkers(st);
  return worth && st.workers;
}

namespace {

struct RowRanges {
  RowJob rows;
  void* context;
  int32_t count;
  int32_t chunk;
  std::atomic<int32_t> next{0};
};

// Each thread takes the next chunk of rows not yet taken: a worker wakes later than the caller
// and may find the records colder, so halves fixed in advance left the caller waiting.
void RunRange(void* context, int32_t) {
  RowRanges& r = *static_cast<RowRanges*>(context);
  for (;;) {
    const int32_t begin = r.next.fetch_add(r.chunk, std::memory_order_relaxed);
    if (begin >= r.count) return;
    r.rows(r.context, begin, std::min(begin + r.chunk, r.count));
  }
}

}  // namespace

void ForRows(EngineState& st, int32_t count, RowJob rows, void* context) {
  if (count <= 0) return;
  if (!ShareOut(st, 1)) {
    rows(context, 0, count);
    return;
  }
  // About eight chunks a thread, none too small to be worth its turn.
  constexpr int32_t kFewestRows = 16;
  const int32_t threads = st.workers->pool->size() + 1;
  RowRanges ranges{rows, context, count, std::max(kFewestRows, count / (8 * threads))};
  st.workers->pool->Run(RunRange, &ranges);
}

}  // namespace tarvo
