#include "analysis/fit_cycle.h"

#include <algorithm>
#include <cmath>

namespace tarvo::frontend {

namespace {

bool Same(const CallRecord& a, const CallRecord& b, const std::vector<int>& free_index,
          double level) {
  for (int i : free_index) {
    const double x = a.values[i], y = b.values[i];
    if (std::fabs(x - y) > level * std::max(std::fabs(x), std::fabs(y))) return false;
  }
  return true;
}

}  // namespace

double CycleLevel(double precision) {
  return std::min(1e-6, 0.01 * std::sqrt(precision));
}

Cycle FindCycle(const std::vector<CallRecord>& history, const std::vector<int>& free_index,
                const std::vector<CycleShown>& shown, double level) {
  Cycle c;
  const int n = static_cast<int>(history.size());
  for (int period = 2; period <= kMaxCyclePeriod && 2 * period <= n; ++period) {
    bool repeats = true;
    for (int k = n - period; k < n && repeats; ++k)
      repeats = Same(history[k], history[k - period], free_index, level);
    if (!repeats) continue;
    // A turn whose states all agree is a fit standing still, not a cycle.
    bool moves = false;
    for (int k = n - period + 1; k < n && !moves; ++k)
      moves = !Same(history[k], history[n - period], free_index, level);
    if (!moves) return c;
    c.found = true;
    c.period = period;
    c.level = level;
    c.first_call = history[n - period].call;
    c.last_call = history[n - 1].call;
    double lo = INFINITY, hi = -INFINITY;
    for (int k = n - period; k < n; ++k) {
      const double e = history[k].erreur_calc;
      if (e < lo) {
        lo = e;
        c.best_call = history[k].call;
      }
      hi = std::max(hi, e);
    }
    c.spread = lo > 0 ? (hi - lo) / lo : hi - lo;
    for (const CycleShown& s : shown) {
      double vlo = INFINITY, vhi = -INFINITY;
      for (int k = n - period; k < n; ++k) {
        vlo = std::min(vlo, history[k].values[s.index]);
        vhi = std::max(vhi, history[k].values[s.index]);
      }
      c.states += (c.states.empty() ? "" : ", ") + s.name + " " + Num(vlo) + " to " + Num(vhi);
    }
    return c;
  }
  return c;
}

bool CycleWithinNoise(const Cycle& c, int dof) {
  return c.found && dof > 0 && c.spread <= 0.01 / dof;
}

std::string CycleText(const Cycle& c, bool converged) {
  std::string t = "the fit is cycling between " + std::to_string(c.period) + " states (calls " +
                  std::to_string(c.first_call) + " to " + std::to_string(c.last_call) +
                  (c.states.empty() ? "" : ": " + c.states) + ") at the " + Num(c.level, 2) +
                  " level: it has reached the precision that its finite differences allow. ";
  t += "Their ErreurCalc differ by " + Num(c.spread, 2) + " (relative); ";
  if (converged)
    return t + "that is far below what the data can tell apart, so the best of them (call " +
           std::to_string(c.best_call) + ") is reported as converged at that precision " +
           "(the library's SD, computed only when its own rule is met, is left out)";
  return t + "that is more than the data's noise allows to ignore, so the fit is reported as "
             "not converged (try marquardt = 1, or a tighter tolerance)";
}

}  // namespace tarvo::frontend
