#include "analysis/fit_uncertainty.h"

#include <chrono>
#include <cstdio>


namespace tarvo::frontend {

std::vector<Profile> AssessFit(const Prepared& p, const std::vector<double>& best,
                               const std::vector<std::vector<double>>& ycalc, bool profiles,
                               const ProgressNote& note, Uncertainty& u) {
  u = AssessUncertainty(p, best, ycalc);
  std::vector<Profile> all;
  if (!profiles || !u.available) return all;
  using Clock = std::chrono::steady_clock;
  for (size_t i = 0; i < u.free_index.size(); ++i) {
    const auto t0 = Clock::now();
    all.push_back(ProfileAdjustable(p, best, u, i));
    u.intervals.push_back(all.back().interval);
    if (note) {
      char line[200];
      std::snprintf(line, sizeof line, "profile %-12s %3d refits %7.2fs", u.names[i].c_str(),
                    all.back().refits, std::chrono::duration<double>(Clock::now() - t0).count());
      note(line);
    }
  }
  return all;
}

}  // namespace tarvo::frontend
