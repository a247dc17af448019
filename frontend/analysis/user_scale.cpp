#include "analysis/user_scale.h"

namespace tarvo::frontend {

void ToUserScale(const std::vector<Transform>& ts, const std::vector<double>& values,
                 size_t declared, FitResult& r, std::vector<Profile>& profiles) {
  Uncertainty& u = r.uncertainty;
  for (const Transform& t : ts) {
    const double hv = values[t.hidden], slope = UserSlope(t, hv);
    AdjustableResult& user = r.adjustables[t.user];
    const AdjustableResult& hidden = r.adjustables[t.hidden];
    user.status = "free";
    user.equal_to.clear();
    user.value = UserValue(t, hv);
    user.has_sd = hidden.has_sd;
    user.sd = hidden.sd * slope;
    for (size_t i = 0; i < u.free_index.size(); ++i) {
      if (u.free_index[i] != t.hidden) continue;
      u.free_index[i] = t.user;
      u.names[i] = user.name;
      u.values[i] = user.value;
      u.se[i] *= slope;
      for (size_t j = 0; j < u.covariance.size(); ++j) {
        u.covariance[i][j] *= slope;
        u.covariance[j][i] *= slope;
      }
      if (i < u.intervals.size()) {
        u.intervals[i].lower = UserValue(t, u.intervals[i].lower);
        u.intervals[i].upper = UserValue(t, u.intervals[i].upper);
      }
    }
    for (Profile& pr : profiles) {
      if (pr.name != hidden.name) continue;
      pr.name = user.name;
      pr.estimate = UserValue(t, pr.estimate);
      for (auto& pt : pr.points) pt.value = UserValue(t, pt.value);
    }
  }
  if (r.adjustables.size() > declared) r.adjustables.resize(declared);
}

void ShowExperimentNames(const Prepared& p, FitResult& r, std::vector<Profile>& profiles) {
  auto show = [&](std::string& name) {
    const auto it = p.shown_as.find(name);
    if (it != p.shown_as.end()) name = it->second;
  };
  for (auto& a : r.adjustables) show(a.name);
  for (auto& n : r.uncertainty.names) show(n);
  for (auto& pr : profiles) show(pr.name);
}

}  // namespace tarvo::frontend
