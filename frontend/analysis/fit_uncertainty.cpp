#include "analysis/fit_uncertainty.h"

#include <chrono>
#include <cstdio>

#include "analysis/parallel.h"

namespace tarvo::frontend {

std::vector<Profile> AssessFit(const Prepared& p, const std::vector<double>& best,
                               const std::vector<std::vector<double>>& ycalc, bool profiles,
                               const ProgressNote& note, Uncertainty& u, double walk_seconds,
                               std::shared_ptr<Session> loaded) {
  u = AssessUncertainty(p, best, ycalc, walk_seconds, loaded.get());
  loaded.reset();
  if (!profiles || !u.available) return {};
  using Clock = std::chrono::steady_clock;
  const size_t n = u.free_index.size();
  std::vector<Profile> all(n);
  std::vector<double> seconds(n, 0);
  // One profile per task, side by side; each line once its profile and those before it are
  // done, so they come in the order of the plain loop.
  RunTasks(
      static_cast<int>(n),
      [&](int i) {
        const auto t0 = Clock::now();
        all[i] = ProfileAdjustable(p, best, u, static_cast<size_t>(i));
        seconds[i] = std::chrono::duration<double>(Clock::now() - t0).count();
      },
      [&](int i) {
        if (!note) return;
        char line[200];
        std::snprintf(line, sizeof line, "profile %-12s %3d refits %4d calls %7.2fs",
                      u.names[i].c_str(), all[i].refits, all[i].calls, seconds[i]);
        note(line);
      });
  for (const Profile& prof : all) u.intervals.push_back(prof.interval);
  return all;
}

}  // namespace tarvo::frontend
