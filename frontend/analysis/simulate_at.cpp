#include "analysis/simulate_at.h"

#include <algorithm>
#include <cmath>

#include "session/erreur_text.h"
#include "session/non_finite.h"
#include "language/text.h"
#include "session/work_budget.h"

namespace tarvo::frontend {

std::vector<DataPoint> DenseGrid(const Dataset& data, int outputs, int total, double t0) {
  std::vector<double> starts;  // start time of each interval 1, 2, ...
  for (const DataPoint& p : data.points)
    if (static_cast<int>(starts.size()) < p.interval) starts.push_back(p.time);
  starts.front() = std::min(starts.front(), t0);
  const double end = data.points.back().time;
  const double span = end - starts.front();
  std::vector<DataPoint> grid;
  for (size_t k = 0; k < starts.size(); ++k) {
    const bool last = k + 1 == starts.size();
    const double a = starts[k];
    const double b = last ? end : starts[k + 1];
    const int n = std::max(10, static_cast<int>(std::lround(total * (b - a) / span)));
    auto add = [&](double t) {
      DataPoint p;
      p.interval = static_cast<int>(k) + 1;
      p.time = t;
      p.values.assign(static_cast<size_t>(outputs), {});
      grid.push_back(std::move(p));
    };
    if (!(b > a)) {  // the last point opens the last interval: nothing to integrate there
      add(a);
      continue;
    }
    for (int i = 0; i < n; ++i) add(a + (b - a) * i / n);
    if (last) add(end);
    else add(b - (b - a) * 1e-6);
  }
  return grid;
}

GridSimulator::GridSimulator(const Prepared& p, const std::vector<DataPoint>& grid,
                             Session* loaded, int lane)
    : p_(p), grid_(grid), session_(loaded), lane_(loaded ? lane : -1) {}
GridSimulator::~GridSimulator() = default;

int GridSimulator::At(const std::vector<double>& values, std::vector<std::vector<double>>& ycalc,
                      std::string& message) {
  message.clear();
  int e = 0;
  if (lane_ >= 0) {
    e = WalkSessionLane(*session_, lane_, values, ycalc, message);
    if (e > 0) message = SimulationErreurText(e, p_.model.method);
    if (e != 0) return 2;
    return FiniteOutputs(ycalc, message);
  }
  if (session_) {
    if (SetValues(*session_, values) != 0) {
      message = "the values could not be given to the loaded model";
      return 2;
    }
  } else {
    message = FixedStepBudgetProblem(p_, grid_.size());
    if (!message.empty()) return 2;
    auto s = std::make_unique<Session>();
    const std::vector<bool> none(values.size(), false);
    e = StartSession(*s, p_.model, p_.text, grid_, values, none);
    if (e > 0) {
      const SetupFacts facts{p_.model.method, 0, 0, s->failure};
      for (const auto& m : SetupErreurText(e, facts)) message += (message.empty() ? "" : "; ") + m;
      return 2;
    }
    if (e != 0) {  // a raised failure
      message = s->failure;
      return 2;
    }
    own_ = std::move(s);
    session_ = own_.get();
  }
  Session& s = *session_;
  e = RunSimulation(s);
  if (e > 0) {
    message = SimulationErreurText(e, p_.model.method);
    return 2;
  }
  if (e != 0 || ReadResults(s, ycalc) != 0) {
    message = s.failure;
    return 2;
  }
  return FiniteOutputs(ycalc, message);
}

int GridSimulator::FiniteOutputs(const std::vector<std::vector<double>>& ycalc,
                                 std::string& message) const {
  int j = -1, o = -1;
  FirstNonFinite(ycalc, j, o);
  if (j >= 0) {  // no data on the grid, so ErreurCalc tells nothing here
    message = "output '" + p_.model.outputs[static_cast<size_t>(o)].name +
              "' left the finite numbers at t = " + Num(grid_[static_cast<size_t>(j)].time);
    return 2;
  }
  return 0;
}

int SimulateAt(const Prepared& p, const std::vector<double>& values,
               const std::vector<DataPoint>& grid, std::vector<std::vector<double>>& ycalc,
               std::string& message) {
  GridSimulator sim(p, grid);
  return sim.At(values, ycalc, message);
}

int DenseCurve(const Prepared& p, const std::vector<double>& values,
               std::vector<DataPoint>& grid, std::vector<std::vector<double>>& curve,
               std::string& message) {
  // A fixed-step method's work grows with the number of grid points: fewer when needed.
  const int outputs = static_cast<int>(p.model.outputs.size());
  grid = DenseGrid(p.data, outputs, 600, p.model.t0);
  const double work = FixedStepWork(p, grid.size());
  if (work > kMaxFormulaEvaluations)
    grid = DenseGrid(p.data, outputs, static_cast<int>(600 * kMaxFormulaEvaluations / work),
                     p.model.t0);
  curve.clear();
  if (SimulateAt(p, values, grid, curve, message) == 0) return 0;
  curve.clear();
  return 2;
}

}  // namespace tarvo::frontend
