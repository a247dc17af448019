// Independent tasks of one analysis run side by side: the difference columns of the
// residual-based SEs (one free adjustable each), the profiles (one adjustable each) and the
// starts of a multi-start fit (one start each). Each task writes only its own slot of the
// caller's results and sets up sessions of its own (runs in different threads share nothing,
// fit_run.h), so the figures are the same bit for bit whatever the number of threads.
//
// Threads: std::thread::hardware_concurrency(), at most one per task, capped by the
// environment variable TARVO_THREADS (read at each call; 1 runs the tasks one after another on
// the caller's thread, exactly as a plain loop; so does a RunTasks inside a task). While tasks
// run side by side, the sessions they start keep each fit on its own thread
// (session/library_session.h, FitThreadsScope): the library's own worker threads would only
// crowd the cores the tasks already use.
#pragma once

#include <functional>

namespace tarvo::frontend {

// Threads RunTasks uses for n tasks (at least 1).
int TaskThreads(int n);

// Runs task(i) for i = 0 .. n-1 and returns once every task has ended. done(i), when given, is
// called once task i and every task before it have ended, in task order and one call at a
// time (on whichever thread ended last): progress lines read as from the plain loop. A task or
// a done that throws ends the run as the plain loop would: no task after it is started, none
// after it is reported done, and once the threads have stopped its exception (the first in
// task order) is thrown again on the caller's thread.
void RunTasks(int n, const std::function<void(int)>& task,
              const std::function<void(int)>& done = {});

}  // namespace tarvo::frontend
