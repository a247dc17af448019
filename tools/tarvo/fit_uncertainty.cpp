#include "tarvo/fit_uncertainty.h"

#include <chrono>
#include <cstdio>
#include <filesystem>

#include "tarvo/profile_plot.h"

namespace tarvo::tool {

std::vector<Profile> AssessFit(const Prepared& p, const std::vector<double>& best,
                               const std::vector<std::vector<double>>& ycalc, bool profiles,
                               bool quiet, Uncertainty& u) {
  u = AssessUncertainty(p, best, ycalc);
  std::vector<Profile> all;
  if (!profiles || !u.available) return all;
  using Clock = std::chrono::steady_clock;
  for (size_t i = 0; i < u.free_index.size(); ++i) {
    const auto t0 = Clock::now();
    all.push_back(ProfileAdjustable(p, best, u, i));
    u.intervals.push_back(all.back().interval);
    if (!quiet)
      std::fprintf(stderr, "profile %-12s %3d refits %7.2fs\n", u.names[i].c_str(),
                   all.back().refits,
                   std::chrono::duration<double>(Clock::now() - t0).count());
  }
  return all;
}

void WriteProfilePlots(const std::vector<Profile>& profiles, const std::string& folder,
                       std::vector<std::string>& written, std::vector<std::string>& warnings) {
  if (profiles.empty()) return;
  std::string why;
  const std::string base = (std::filesystem::path(folder) / "profiles").string();
  if (DrawProfiles(profiles, base, written, why) != 0) warnings.push_back("no profile plot: " + why);
}

}  // namespace tarvo::tool
