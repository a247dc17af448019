#include "analysis/fit_cycle.h"

#include <algorithm>
#include <cmath>

namespace tarvo::frontend {

namespace {

// The largest relative difference of the free values of two calls.
double Distance(const CallRecord& a, const CallRecord& b, const std::vector<int>& free_index) {
  double d = 0;
  for (int i : free_index) {
    const double x = a.values[i], y = b.values[i];
    const double scale = std::max(std::fabs(x), std::fabs(y));
    if (scale > 0) d = std::max(d, std::fabs(x - y) / scale);
  }
  return d;
}

bool Same(const CallRecord& a, const CallRecord& b, const std::vector<int>& free_index,
          double level) {
  for (int i : free_index) {
    const double x = a.values[i], y = b.values[i];
    if (std::fabs(x - y) > level * std::max(std::fabs(x), std::fabs(y))) return false;
  }
  return true;
}

// Whether the last call returns to the state `period` calls before it, the turn between
// having gone out far enough that this is no approach.
bool Returns(const std::vector<CallRecord>& history, const std::vector<int>& free_index,
             int period, double level) {
  const int n = static_cast<int>(history.size());
  const CallRecord& from = history[n - 1 - period];
  const double back = Distance(history[n - 1], from, free_index);
  if (!(back <= level)) return false;
  double reach = 0;
  for (int k = n - period; k < n - 1; ++k)
    reach = std::max(reach, Distance(history[k], from, free_index));
  return reach > level && back <= kReturnShare * reach;
}

// Whether the last `period` calls repeat the `period` before them within `level`; -1 when
// they do but the states of the turn agree too (a fit standing still).
int TurnRepeats(const std::vector<CallRecord>& history, const std::vector<int>& free_index,
                int period, double level) {
  const int n = static_cast<int>(history.size());
  if (2 * period > n) return 0;
  for (int k = n - period; k < n; ++k)
    if (!Same(history[k], history[k - period], free_index, level)) return 0;
  for (int k = n - period + 1; k < n; ++k)
    if (!Same(history[k], history[n - period], free_index, level)) return 1;
  return -1;
}

}  // namespace

double CycleLevel(double precision) {
  return std::min(1e-5, 0.1 * std::sqrt(precision));
}

Cycle FindCycle(const std::vector<CallRecord>& history, const std::vector<int>& free_index,
                const std::vector<CycleShown>& shown, double level) {
  Cycle c;
  const int n = static_cast<int>(history.size());
  for (int period = 2; period <= kMaxCyclePeriod && period < n; ++period) {
    double at = level;
    if (!Returns(history, free_index, period, level)) {
      at = level / 10;
      const int turn = TurnRepeats(history, free_index, period, at);
      if (turn < 0) return c;
      if (turn == 0) continue;
    }
    c.found = true;
    c.period = period;
    c.level = at;
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
