#include "analysis/parallel.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "api/threads.h"
#include "session/library_session.h"

namespace tarvo::frontend {

namespace {

// Set on the threads of a RunTasks with more than one: a RunTasks inside a task runs its
// tasks one after another (the cores are taken already).
thread_local bool t_in_task = false;

}  // namespace

int TaskThreads(int n) {
  int k = std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
  if (const int cap = ThreadsFromEnvironment(); cap > 0) k = std::min(k, cap);
  return std::max(1, std::min(k, n));
}

void RunTasks(int n, const std::function<void(int)>& task, const std::function<void(int)>& done) {
  const int threads = t_in_task ? 1 : TaskThreads(n);
  if (threads <= 1) {
    for (int i = 0; i < n; ++i) {
      task(i);
      if (done) done(i);
    }
    return;
  }
  std::mutex mutex;                       // guards what follows, and the calls of done
  std::vector<char> ended(n, 0);
  std::vector<std::exception_ptr> errors(n);
  int reported = 0;                       // tasks 0 .. reported-1 were handed to done
  std::atomic<int> next{0};
  std::atomic<int> stop_at{n};            // no task from here on is started (a failure's index)

  auto work = [&] {
    const FitThreadsScope one_thread(1);
    const bool was_in_task = t_in_task;
    t_in_task = true;
    struct Restore {
      bool& flag;
      bool saved;
      ~Restore() { flag = saved; }
    } restore{t_in_task, was_in_task};
    for (;;) {
      const int i = next.fetch_add(1);
      if (i >= n || i >= stop_at.load()) return;
      std::exception_ptr error;
      try {
        task(i);
      } catch (...) {
        error = std::current_exception();
      }
      std::lock_guard<std::mutex> lock(mutex);
      ended[i] = 1;
      if (error) {
        errors[i] = error;
        int s = stop_at.load();
        while (i < s && !stop_at.compare_exchange_weak(s, i)) {}
      }
      while (reported < n && ended[reported] && !errors[reported]) {
        if (done) {
          try {
            done(reported);
          } catch (...) {
            errors[reported] = std::current_exception();
            int s = stop_at.load();
            while (reported + 1 < s && !stop_at.compare_exchange_weak(s, reported + 1)) {}
            break;
          }
        }
        ++reported;
      }
    }
  };

  std::vector<std::thread> pool;
  try {
    for (int k = 1; k < threads; ++k) pool.emplace_back(work);
  } catch (...) {
    // A thread refused: the threads started and the caller's own share the tasks.
  }
  work();
  for (std::thread& t : pool) t.join();
  for (const std::exception_ptr& e : errors)
    if (e) std::rethrow_exception(e);
}

}  // namespace tarvo::frontend
