#include "analysis/fit_run.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "analysis/dependence.h"
#include "api/fit_rules.h"
#include "results/report.h"
#include "language/text.h"
#include "session/erreur_text.h"
#include "analysis/residual_sums.h"
#include "analysis/user_scale.h"
#include "language/experiments.h"
#include "analysis/fit_cycle.h"
#include "analysis/fit_uncertainty.h"
#include "session/load_model.h"
#include "analysis/multi_start.h"
#include "session/non_finite.h"
#include "session/work_budget.h"

namespace tarvo::frontend {

namespace {

std::vector<double> Values(const Session& s, size_t n) {
  std::vector<double> v(n);
  for (size_t a = 0; a < n; ++a) v[a] = AdjustableValue(s, static_cast<int>(a));
  return v;
}

// The library's convergence measure of one call, over the free adjustables.
double Change(const std::vector<double>& before, const std::vector<double>& after,
              const std::vector<bool>& free) {
  std::vector<int32_t> index;
  for (size_t a = 0; a < before.size(); ++a)
    if (free[a]) index.push_back(static_cast<int32_t>(a));
  return api::ConvergenceMeasure(static_cast<int32_t>(index.size()), index.data(), before.data(),
                            after.data());
}

// Empty when the session's last simulation stayed within the finite numbers; else the
// sentence that names where it left them.
std::string NonFiniteCheck(Session& s, const Prepared& p, int e) {
  std::vector<std::vector<double>> y;
  if (ReadResults(s, y) != 0) y.clear();
  int j = -1, o = -1;
  FirstNonFinite(y, j, o);
  // A fit always has data, so its ErreurCalc is a measure.
  if (j < 0 && !LeftFiniteNumbers(e, s.blocks.fitset.ErreurCalc)) return "";
  return NonFiniteText(p, y, Values(s, p.values.size()));
}

// Runs the calls; fills the history and the outcome. A fit that cycles (fit_cycle.h) is
// stopped once it stands at the best state of its turn (at most period - 1 calls more);
// true then, with the outcome and erreur_text saying what was judged.
bool FitLoop(Session& s, const Prepared& p, const std::vector<CycleShown>& shown,
             const FitProgress& progress, FitResult& r) {
  std::vector<int> free_index;
  for (size_t a = 0; a < p.free.size(); ++a)
    if (p.free[a]) free_index.push_back(static_cast<int>(a));
  const double level = CycleLevel(p.model.precision);
  Cycle cycle;
  int settle = 0;  // the call at which the cycle is back at its best state
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  std::vector<double> before = Values(s, p.values.size());
  if (progress.begin) progress.begin();
  for (int call = 1; call <= p.model.max_calls; ++call) {
    const auto t0 = Clock::now();
    const int e = RunFitCall(s);
    const auto t1 = Clock::now();
    CallRecord c;
    c.call = call;
    c.seconds = std::chrono::duration<double>(t1 - t0).count();
    c.erreur = e;
    c.erreur_calc = s.blocks.fitset.ErreurCalc;
    c.done = s.blocks.fitset.Done != 0;
    c.values = Values(s, p.values.size());
    c.change = Change(before, c.values, p.free);
    before = c.values;
    r.history.push_back(c);
    r.calls = call;
    if (progress.call) progress.call(c, std::chrono::duration<double>(t1 - start).count());
    if (e == kRaised) {
      r.outcome = "failed";
      r.erreur_text = "the library raised a failure: " + s.failure;
      break;
    }
    // Checked before the error code: an overflow must not be reported as singular equations.
    if (const std::string nf = NonFiniteCheck(s, p, e); !nf.empty()) {
      r.outcome = "failed";
      r.erreur = e;
      r.erreur_text = nf;
      r.non_finite = true;
      break;
    }
    if (e != 0) {
      r.outcome = "failed";
      r.erreur = e;
      r.erreur_text = FitErreurText(e, p.model.method, r.free_count);
      break;
    }
    if (c.done) {
      r.outcome = "converged";
      break;
    }
    if (progress.stop && progress.stop()) {
      r.outcome = "interrupted";
      break;
    }
    if (cycle.found) {
      if (call >= settle) break;
      continue;
    }
    cycle = FindCycle(r.history, free_index, shown, level);
    if (cycle.found) {
      settle = cycle.best_call == call ? call : cycle.best_call + cycle.period;
      if (settle == call) break;
    }
  }
  if (progress.end) progress.end();
  if (r.outcome.empty() && cycle.found) {
    const bool converged = CycleWithinNoise(cycle, DataValues(p.data) - r.free_count);
    r.outcome = converged ? "converged" : "not converged";
    r.erreur_text = CycleText(cycle, converged);
    return true;
  }
  if (r.outcome.empty()) r.outcome = "not converged";
  return false;
}

// How the message of a cycling fit names the free values: the user's adjustable for a
// hidden one.
std::vector<CycleShown> ShownValues(const FitRun& run) {
  std::vector<CycleShown> shown;
  for (size_t a = 0; a < run.p.free.size(); ++a) {
    if (!run.p.free[a]) continue;
    CycleShown c{run.p.model.adjustables[a].name, static_cast<int>(a)};
    for (const Transform& t : run.transforms)
      if (static_cast<size_t>(t.hidden) == a) c = {run.p.model.adjustables[t.user].name, t.user};
    shown.push_back(c);
  }
  return shown;
}

void CollectAdjustables(const Session& s, const Prepared& p, FitResult& r) {
  const bool sds = r.outcome == "converged" || (p.model.sd_every_call && r.erreur == 0 &&
                                                r.calls > 0 && r.outcome != "failed");
  for (size_t a = 0; a < p.model.adjustables.size(); ++a) {
    const AdjustableDecl& d = p.model.adjustables[a];
    AdjustableResult x;
    x.name = d.name;
    x.value = AdjustableValue(s, static_cast<int>(a));
    x.status = d.bound ? "bound" : p.free[a] ? "free" : "fixed";
    if (d.bound) x.equal_to = d.equal_to.text;
    if (x.status == "free" && sds) {
      x.sd = AdjustableSD(s, static_cast<int>(a));
      x.has_sd = true;
    }
    r.adjustables.push_back(x);
  }
}

// The first simulation, then the calls; the session is ended with run.values, run.ycalc and
// the figures read. 0, or 2 with errors filled.
int FitSession(FitRun& run, const FitProgress& progress, std::vector<std::string>& errors) {
  const Prepared& p = run.p;
  FitResult& r = run.r;
  bool cycled = false;
  Session s;
  if (LoadWithinBudget(s, p, errors) != 0) return 2;
  // The fit's first step starts from the outputs of a simulation at the current values.
  const int e = RunSimulation(s);
  const std::string first_nf = e == kRaised ? "" : NonFiniteCheck(s, p, e);
  if (!first_nf.empty()) {
    r.outcome = "failed";
    r.erreur = e;
    r.erreur_text = "at the start values: " + first_nf;
    r.non_finite = true;
  } else if (e != 0) {
    r.outcome = "failed";
    r.erreur = e == kRaised ? 0 : e;
    r.erreur_text = e == kRaised ? "the first simulation raised a failure: " + s.failure
                                 : "the first simulation failed: " +
                                       SimulationErreurText(e, p.model.method);
  } else {
    cycled = FitLoop(s, p, ShownValues(run), progress, r);
  }
  // The exchange file holds the last simulation inside the fit; after an error its values
  // may be error codes, so simulate once more at the values reached.
  int last = r.history.empty() ? e : r.history.back().erreur;
  if (last != 0 && last != kRaised) last = RunSimulation(s);
  if (last == 0 && !r.non_finite) ReadResults(s, run.ycalc);
  const BFitSet& f = s.blocks.fitset;
  r.figures = Figures{f.ErreurCalc, f.ErreurExp, f.Coeff, DataValues(p.data)};
  CollectAdjustables(s, p, r);
  // The library computes its SDs only when its own rule is met (or at every call).
  if (cycled && !p.model.sd_every_call)
    for (AdjustableResult& a : r.adjustables) a.has_sd = false;
  run.values = Values(s, p.values.size());
  return 0;
}

}  // namespace

int SetUpFit(FitControl& control, FitRun& run, std::vector<std::string>& errors) {
  Prepared& p = run.p;
  ApplyFitControl(control, p, errors);
  run.declared = p.model.adjustables.size();
  if (errors.empty()) ExpandTransforms(p, run.transforms, errors);
  CheckFreeValues(p, errors);
  return errors.empty() ? 0 : 2;
}

int RunFitOn(FitRun& run, const FitOptions& options, const FitProgress& progress,
             std::vector<std::string>& errors) {
  Prepared& p = run.p;
  FitResult& r = run.r;
  if (options.control.start_count > 1) {
    // The main fit below starts at the best start's optimum, so the report is that fit's.
    const std::vector<double> best =
        RunStarts(p, run.transforms, run.declared, options.control.start_count,
                  options.control.start_seed, progress.note, r);
    for (size_t a = 0; a < p.values.size(); ++a)
      if (p.free[a]) p.values[a] = best[a];
  }
  r.max_calls = p.model.max_calls;
  for (bool f : p.free) r.free_count += f;
  if (r.free_count == 0) {
    errors.push_back(p.model.path + ": no adjustable is free: mark the ones to fit with "
                     "free = true");
    return 2;
  }
  if (FitSession(run, progress, errors) != 0) return 2;
  if (r.outcome == "failed" && r.erreur_text.find("singular") != std::string::npos) {
    const std::string culprits = SingularCulprits(p, run.values);
    if (!culprits.empty()) r.erreur_text += ". At the values reached: " + culprits;
  }
  if (r.outcome == "converged" && !run.ycalc.empty())
    run.profiles = AssessFit(p, run.values, run.ycalc, options.profiles, progress.note,
                             r.uncertainty);
  ToUserScale(run.transforms, run.values, run.declared, r, run.profiles);
  ShowExperimentNames(p, r, run.profiles);
  return 0;
}

std::string ProgressHeader() {
  char line[128];
  std::snprintf(line, sizeof line, "%5s  %-14s %-12s %9s\n", "call", "ErreurCalc", "change",
                "elapsed");
  return line;
}

std::string ProgressLine(const CallRecord& c, double elapsed_seconds) {
  char line[160];
  std::snprintf(line, sizeof line, "%5d  %-14s %-12s %8.2fs%s\n", c.call,
                Num(c.erreur_calc, 8).c_str(), Num(c.change, 3).c_str(), elapsed_seconds,
                c.done ? "  done" : "");
  return line;
}

std::string FitReportText(const FitRun& run) {
  return FitReportText(run.p, run.r, ExperimentSums(run.p, run.ycalc));
}

}  // namespace tarvo::frontend
