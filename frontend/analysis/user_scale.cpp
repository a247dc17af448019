#include "analysis/user_scale.h"

#include <cctype>

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

std::string UserNames(const Prepared& p, const std::vector<Transform>& ts, const std::string& text) {
  auto shown = [&](const std::string& name) {
    const auto it = p.shown_as.find(name);
    return it == p.shown_as.end() ? name : it->second;
  };
  auto user = [&](const std::string& name) -> std::string {
    for (const Transform& t : ts)
      if (static_cast<size_t>(t.hidden) < p.model.adjustables.size() &&
          p.model.adjustables[t.hidden].name == name)
        return shown(p.model.adjustables[t.user].name);
    if (p.shown_as.count(name)) return shown(name);
    const std::string now = "__now";
    if (name.size() > now.size() && name.compare(name.size() - now.size(), now.size(), now) == 0)
      return name.substr(0, name.size() - now.size());
    if (name == "T__offset") return "T";
    return name;
  };
  auto word = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; };
  std::string out;
  for (size_t i = 0; i < text.size();) {
    if (!word(text[i]) || (i > 0 && word(text[i - 1]))) {
      out += text[i++];
      continue;
    }
    size_t j = i;
    while (j < text.size() && word(text[j])) ++j;
    out += user(text.substr(i, j - i));
    i = j;
  }
  return out;
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
