#include "language/model_warnings.h"

#include <algorithm>
#include <cmath>
#include <set>

#include "engines/methods.h"
#include "language/method_choice.h"
#include "language/text.h"

namespace tarvo::frontend {

namespace {

// Above this many steps per pair of points the walk is not replayed (the overshoot is then
// at most one ten-millionth of the gap anyway).
constexpr double kMaxReplayedSteps = 1e7;
// A relative overshoot below this is rounding, not a misplaced point.
constexpr double kNegligible = 1e-9;

struct Overshoot {
  double worst = 0;  // relative to the gap between the two points
  double amount = 0;
  size_t point = 0;  // index of the point overshot
  int affected = 0;
};

Overshoot WorstOvershoot(const Dataset& data, double tol) {
  Overshoot o;
  for (size_t j = 0; j + 1 < data.points.size(); ++j) {
    const double t0 = data.points[j].time, t1 = data.points[j + 1].time;
    const double amount = FixedStepOvershoot(t0, t1, tol);
    const double relative = amount / (t1 - t0);
    if (relative <= kNegligible) continue;
    ++o.affected;
    if (relative > o.worst) o = {relative, amount, j + 1, o.affected};
  }
  return o;
}

// The smallest tolerance at or below tol of the form 1/n^2 whose steps land on every point.
double LandingTolerance(const Dataset& data, double tol) {
  const double first = std::ceil(1 / std::sqrt(tol) - 1e-9);
  for (double n = first; n < first + 60 && n < 3000; ++n) {
    const double candidate = 1 / (n * n);
    if (WorstOvershoot(data, candidate).affected == 0) return candidate;
  }
  return 0;
}

void FixedStepWarning(const Prepared& p, std::vector<std::string>& out) {
  const Model& m = p.model;
  const MethodFacts* facts = FactsForMethod(m.method);
  if (!facts || !facts->fixed_steps) return;
  const Overshoot o = WorstOvershoot(p.data, m.tolerance);
  if (o.affected == 0) return;
  const DataPoint& pt = p.data.points[o.point];
  std::string w = m.method + " takes fixed steps of (gap between points) x sqrt(tolerance) and "
                  "returns the state at the first step boundary past each point: at the point "
                  "of " + p.data.path + " line " + std::to_string(pt.line) + " (time " +
                  Num(pt.time) + ") the last step ends " + Num(o.amount, 4) + " later (" +
                  Num(100 * o.worst, 3) + "% of the gap); " + std::to_string(o.affected) +
                  " of " + std::to_string(p.data.points.size() - 1) +
                  " steps between points overshoot. Use \"RUNGE-KUTTA QC\"";
  const double landing = LandingTolerance(p.data, m.tolerance);
  if (landing > 0) w += ", or tolerance = " + Num(landing, 10) + ", whose steps land on the points";
  out.push_back(w);
}

void AdjustableWarnings(const Prepared& p, std::vector<std::string>& out) {
  std::set<std::string> used;
  bool all_read = true;  // usage is known only when every formula translated
  for (const auto& f : p.text.formulas) {
    used.insert(f.refs.begin(), f.refs.end());
    all_read = all_read && f.ok;
  }
  for (size_t a = 0; a < p.model.adjustables.size(); ++a) {
    const AdjustableDecl& d = p.model.adjustables[a];
    const std::string where = p.model.path + ":" + std::to_string(d.line) + ": adjustable '" +
                              d.name + "'";
    if (p.free[a] && p.values[a] < 0)
      out.push_back(where + " is free with a negative value: the fit's steps then point "
                    "against the solved direction; write the model so the value is positive");
    if (all_read && !used.count("A" + std::to_string(a + 1)))
      out.push_back(where + " is used by no formula" +
                    (p.free[a] ? " (as a free adjustable it makes the fit singular)" : ""));
  }
}

// An offset that lifts every value of an output above 0: a round number above twice the
// deepest dip (or a hundredth of the largest value when the dip is exactly 0).
double SuggestedOffset(double lowest, double highest) {
  const double lift = std::max(-2 * lowest, 0.01 * std::fabs(highest));
  return lift > 0 ? std::pow(10.0, std::ceil(std::log10(lift))) : 1.0;
}

void DataWarnings(const Prepared& p, std::vector<std::string>& out) {
  const Dataset& d = p.data;
  for (size_t o = 0; o < p.model.outputs.size(); ++o) {
    const OutputDecl& decl = p.model.outputs[o];
    int values = 0, low = 0;
    double lowest = HUGE_VAL, highest = -HUGE_VAL;
    std::string lines;
    for (const auto& pt : d.points) {
      values += static_cast<int>(pt.values[o].size());
      bool listed = false;
      for (double v : pt.values[o]) {
        lowest = std::min(lowest, v + decl.offset);
        highest = std::max(highest, v + decl.offset);
        if (v + decl.offset > 0) continue;
        ++low;
        if (!listed && std::count(lines.begin(), lines.end(), ',') < 5)
          lines += (lines.empty() ? "" : ", ") + std::to_string(pt.line);
        listed = true;
      }
    }
    if (values == 0)
      out.push_back(p.model.path + ":" + std::to_string(decl.line) + ": output '" + decl.name +
                    "' has no data in " + d.path +
                    ": no data constrains it (it is only simulated and plotted)");
    if (low > 0)
      out.push_back(d.path + ": output '" + decl.name + "': " + std::to_string(low) + " of " +
                    std::to_string(values) + " measured values are 0 or below (lines " + lines +
                    (std::count(lines.begin(), lines.end(), ',') >= 5 ? ", ..." : "") +
                    "); the library counts only positive values: it stores these as 0 and "
                    "gives them no weight, which biases the fit. For a signal that may be "
                    "signed, add offset = " + Num(SuggestedOffset(lowest, highest)) +
                    " to the output (added to the data and to the formula; with error_type = 0 "
                    "nothing else changes)");
  }
  if (d.last_interval < p.text.intervals)
    out.push_back(p.model.path + ": the model has " + std::to_string(p.text.intervals) +
                  " intervals but the data reach only interval " + std::to_string(d.last_interval));
  const size_t n = d.points.size();
  for (size_t j = 0; j < n; ++j) {
    const int k = d.points[j].interval;
    const bool alone = (j == 0 || d.points[j - 1].interval != k) &&
                       (j + 1 == n || d.points[j + 1].interval != k);
    if (!alone || (k == 1 && LeadPoints(p.model, d.points) > 0)) continue;
    out.push_back(d.path + ":" + std::to_string(d.points[j].line) + ": interval " +
                  std::to_string(k) + " has a single point" +
                  (j + 1 == n ? ": the last point alone opens it, so nothing is integrated in "
                                "that interval"
                              : ": only the state right at its start is measured"));
  }
}

void ParameterOrderWarnings(const Prepared& p, std::vector<std::string>& out) {
  std::set<std::string> said;
  for (const auto& f : p.text.formulas) {
    if (f.role != FormulaRole::ParameterEquation) continue;
    for (const auto& r : f.refs) {
      if (r.size() < 2 || r[0] != 'P' || std::stoi(r.substr(1)) - 1 <= f.row) continue;
      const std::string& later = p.model.parameters[std::stoi(r.substr(1)) - 1].name;
      const std::string w = Where(p.model, f.source) + ": reads parameter '" + later +
                            "', declared after it, which still holds its value from the "
                            "previous interval (0 in interval 1); declare '" + later +
                            "' first";
      if (said.insert(w).second) out.push_back(w);
    }
  }
}

// CHU-BERMAN's step test sums the relative correction of every species: species still near 0
// make each correction large relative to their value, so steps shrink while they stay there
// (30 species growing from 0 took minutes per fit). One or two such species cost little (the
// bundled two-compartment example fits in a second): the warning is for networks, from five.
constexpr int kSlowZeroSpecies = 5;

void SlowStepTestWarning(const Prepared& p, std::vector<std::string>& out) {
  if (p.model.method != "CHU-BERMAN") return;
  std::vector<double> start;
  if (!StartValues(p, start)) return;
  std::string names;
  int zero = 0;
  for (size_t i = 0; i < start.size(); ++i) {
    if (start[i] != 0) continue;
    if (++zero <= 4) names += (names.empty() ? "" : ", ") + p.model.species[i].name;
  }
  if (zero < kSlowZeroSpecies) return;
  if (zero > 4) names += " and " + std::to_string(zero - 4) + " more";
  const std::string at = p.model.path + (p.model.method_line > 0
                                             ? ":" + std::to_string(p.model.method_line) : "");
  out.push_back(at + ": \"CHU-BERMAN\" sums the relative correction of every species in its "
                "step test, and " + names + (zero == 1 ? " starts" : " start") + " at 0: while "
                "a species is near 0 its relative correction stays large and the steps tiny, so "
                "a simulation may take very long (minutes for a network growing from one "
                "species); \"RUNGE-KUTTA QC\", or \"BDF\" for a stiff model, has no such test");
}

}  // namespace

double FixedStepOvershoot(double t0, double t1, double tol) {
  if (!(t1 > t0) || !(tol > 0)) return 0;
  const double h = (t1 - t0) * std::sqrt(tol);
  if ((t1 - t0) / h > kMaxReplayedSteps) return 0;
  double t = t0;
  while (t1 > t) {
    const double next = t + h;
    if (!(next > t)) break;
    t = next;
  }
  return t - t1;
}

std::vector<std::string> ModelWarnings(const Prepared& p) {
  std::vector<std::string> out = p.model.reaction_warnings;
  FixedStepWarning(p, out);
  SlowStepTestWarning(p, out);
  AdjustableWarnings(p, out);
  DataWarnings(p, out);
  ParameterOrderWarnings(p, out);
  return out;
}

}  // namespace tarvo::frontend
