#include "results/uncertainty_report.h"

#include <cmath>

#include "results/report.h"

namespace tarvo::frontend {

namespace {

using nlohmann::json;

std::string Bound(const Interval& c, bool lower) {
  const double v = lower ? c.lower : c.upper;
  const bool open = lower ? c.lower_open : c.upper_open;
  return open ? (lower ? "<" : ">") + Num(v, 4) : Num(v, 6);
}

void PrintTable(std::FILE* out, const Uncertainty& u) {
  std::fprintf(out, "%-14s %14s %14s %8s %14s %14s\n", "adjustable", "value", "SE", "SE %",
               "95% lower", "95% upper");
  for (size_t i = 0; i < u.names.size(); ++i) {
    const double se = u.se[i];
    const std::string rel = u.values[i] != 0 && std::isfinite(se)
                                ? Num(100 * se / std::fabs(u.values[i]), 3) : "-";
    std::string lo = "", hi = "";
    if (i < u.intervals.size() && u.intervals[i].computed) {
      lo = Bound(u.intervals[i], true);
      hi = Bound(u.intervals[i], false);
    }
    std::fprintf(out, "%-14s %14s %14s %8s %14s %14s\n", u.names[i].c_str(),
                 Num(u.values[i]).c_str(), Num(se).c_str(), rel.c_str(), lo.c_str(), hi.c_str());
  }
  // Held at a bound: no SE; the interval runs from the bound inwards, '|' marks the cut side.
  for (const BoundValue& b : u.at_bound) {
    const Interval& c = b.interval;
    std::string lo = "", hi = "";
    if (c.computed) {
      lo = c.lower_cut ? "|" + Num(c.lower, 6) : Bound(c, true);
      hi = c.upper_cut ? Num(c.upper, 6) + "|" : Bound(c, false);
    }
    std::fprintf(out, "%-14s %14s %14s %8s %14s %14s\n", b.name.c_str(), Num(b.bound).c_str(),
                 "at bound", "-", lo.c_str(), hi.c_str());
  }
}

void PrintCorrelation(std::FILE* out, const Uncertainty& u) {
  if (u.names.size() < 2) return;
  std::fprintf(out, "\nCorrelation\n%-14s", "");
  for (const auto& n : u.names) std::fprintf(out, " %8.8s", n.c_str());
  std::fprintf(out, "\n");
  for (size_t i = 0; i < u.names.size(); ++i) {
    std::fprintf(out, "%-14s", u.names[i].c_str());
    for (size_t j = 0; j <= i; ++j) std::fprintf(out, " %8.4f", u.correlation[i][j]);
    std::fprintf(out, "\n");
  }
}

void PrintLackOfFit(std::FILE* out, const LackOfFit& l) {
  if (!l.available) {
    std::fprintf(out, "Lack of fit  no test: it needs replicates and more pairs than adjustables\n");
    return;
  }
  std::fprintf(out, "Lack of fit  F = %s on (%d, %d) dof, p = %s: %s\n", Num(l.f, 4).c_str(),
               l.dof_lack, l.dof_pure, Num(l.p_value, 3).c_str(),
               l.p_value < 0.01 ? "the residuals scatter more than the replicates: the model, "
                                  "not the noise, limits the fit"
                                : "the residuals scatter as the replicates do");
}

json Matrix(const Uncertainty& u, const std::vector<std::vector<double>>& m) {
  return json{{"names", u.names}, {"matrix", m}};
}

json Number(double v) { return std::isfinite(v) ? json(v) : json(nullptr); }

json IntervalJson(const Interval& c) {
  if (!c.computed) return nullptr;
  json j{{"level", c.level},          {"lower", Number(c.lower)},
         {"upper", Number(c.upper)},  {"method", "profile"},
         {"lower_open", c.lower_open}, {"upper_open", c.upper_open},
         {"flat", c.flat}};
  if (c.lower_cut) j["lower_cut"] = true;
  if (c.upper_cut) j["upper_cut"] = true;
  if (!c.note.empty()) j["note"] = c.note;
  return j;
}

}  // namespace

std::vector<std::string> UncertaintyWarnings(const Uncertainty& u) {
  std::vector<std::string> w;
  for (const BoundValue& b : u.at_bound) w.push_back(b.text);
  if (!u.available) return w;
  const size_t n = u.names.size();
  for (size_t i = 0; i < n; ++i)
    for (size_t j = i + 1; j < n; ++j)
      if (std::fabs(u.correlation[i][j]) > 0.99)
        w.push_back(u.names[i] + " and " + u.names[j] + " cannot be told apart by these data "
                    "(correlation " + Num(u.correlation[i][j], 4) + "): fix one of them or "
                    "measure what separates them");
  for (size_t i = 0; i < n; ++i)
    if (u.se[i] > std::fabs(u.values[i]))
      w.push_back("the SE of " + u.names[i] + " (" + Num(u.se[i], 3) + ") exceeds its value (" +
                  Num(u.values[i], 3) + "): the data hardly determine it");
  for (size_t i = 0; i < u.intervals.size() && i < n; ++i) {
    const Interval& c = u.intervals[i];
    if (!c.computed) continue;
    if (c.flat)
      w.push_back("the profile of " + u.names[i] + " is flat: " + u.names[i] +
                  " is not identifiable from these data");
    else if (c.lower_open || c.upper_open)
      w.push_back("the 95 % interval of " + u.names[i] + " is open " +
                  (c.lower_open && c.upper_open ? "on both sides"
                   : c.lower_open                ? "below"
                                                 : "above") +
                  ": " + c.note);
  }
  return w;
}

void PrintUncertainty(std::FILE* out, const Uncertainty& u) {
  std::fprintf(out, "\nResidual-based uncertainty\n");
  if (!u.available) {
    std::fprintf(out, "none: %s\n", u.why_not.c_str());
    return;
  }
  PrintTable(out, u);
  std::fprintf(out,
               "SE and the intervals scale with s^2 = %s, the weighted residual sum over n - p = "
               "%d degrees of freedom;\nthe SD above scales with Coeff, from the replicates' "
               "scatter alone, and runs low with few replicates: quote SE and the intervals.\n",
               Num(u.s2, 4).c_str(), u.dof);
  if (!u.intervals.empty())
    std::fprintf(out, "Intervals: profile likelihood, F(0.95; 1, %d) threshold; '<' or '>' "
                      "marks an open side%s.\n", u.dof,
                 u.at_bound.empty() ? "" : ", '|' a side cut by the adjustable's bound");
  PrintCorrelation(out, u);
  std::fprintf(out, "\nAIC %s   AICc %s   BIC %s   (n = %d, p = %zu, dof = %d)\n",
               Num(u.criteria.aic, 8).c_str(), Num(u.criteria.aicc, 8).c_str(),
               Num(u.criteria.bic, 8).c_str(), u.sums.values, u.names.size(), u.dof);
  PrintLackOfFit(out, u.lack_of_fit);
  for (const auto& n : u.notes) std::fprintf(out, "Note: %s\n", n.c_str());
  for (const auto& w : UncertaintyWarnings(u)) std::fprintf(out, "WARNING: %s\n", w.c_str());
}

void AddUncertaintyJson(json& j, const Uncertainty& u) {
  for (json& e : j["adjustables"]) {
    e["se"] = nullptr;
    e["ci"] = nullptr;
    for (size_t i = 0; i < u.names.size(); ++i) {
      if (e["name"] != u.names[i]) continue;
      if (u.available) e["se"] = Number(u.se[i]);
      if (i < u.intervals.size()) e["ci"] = IntervalJson(u.intervals[i]);
    }
    for (const BoundValue& b : u.at_bound)
      if (e["name"] == b.name) {
        e["at_bound"] = b.upper ? "upper" : "lower";
        e["ci"] = IntervalJson(b.interval);
      }
  }
  j["covariance"] = u.available ? Matrix(u, u.covariance) : json(nullptr);
  j["correlation"] = u.available ? Matrix(u, u.correlation) : json(nullptr);
  j["aic"] = Number(u.criteria.aic);
  j["aicc"] = Number(u.criteria.aicc);
  j["bic"] = Number(u.criteria.bic);
  j["dof"] = u.dof;
  j["s2"] = Number(u.s2);
  const LackOfFit& l = u.lack_of_fit;
  j["lack_of_fit"] = l.available ? json{{"f", l.f}, {"p_value", l.p_value},
                                        {"dof_lack", l.dof_lack}, {"dof_pure", l.dof_pure}}
                                 : json(nullptr);
  j["uncertainty_warnings"] = UncertaintyWarnings(u);
  if (!u.available) j["uncertainty_note"] = u.why_not;
}

}  // namespace tarvo::frontend
