#include "analysis/fit_run.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "analysis/dependence.h"
#include "analysis/distributions.h"
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

// A free value that moved by this factor or more over a fit that then failed or stalled is
// named as the likely cause.
constexpr double kRunawayFactor = 1e3;
// Values held at a bound one after another (each hold may push another to its bound).
constexpr int kMaxBoundHolds = 4;

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
// sentence that names where it left them. y: rows to read the outputs into (a fit's calls
// reuse them).
std::string NonFiniteCheck(Session& s, const Prepared& p, int e,
                           std::vector<std::vector<double>>& y) {
  if (ReadResults(s, y) != 0) y.clear();
  int j = -1, o = -1;
  FirstNonFinite(y, j, o);
  // A fit always has data, so its ErreurCalc is a measure.
  if (j < 0 && !LeftFiniteNumbers(e, s.blocks.fitset.ErreurCalc)) return "";
  return NonFiniteText(p, y, Values(s, p.values.size()));
}

// Runs the calls; fills the history and the outcome. A fit that cycles (fit_cycle.h) is
// stopped where the cycle is recognised and the session is set to the best state of its
// turn with one simulation, so no fitting call is spent walking back to it; true then, with
// the outcome and erreur_text saying what was judged. With sd_every_call the SDs come only
// from a fitting call, so the calls go on until the fit stands at that state again (at
// most period - 1 more).
bool FitLoop(Session& s, const Prepared& p, const std::vector<bool>& free,
             const std::vector<CycleShown>& shown, const FitProgress& progress, FitResult& r) {
  std::vector<int> free_index;
  for (size_t a = 0; a < free.size(); ++a)
    if (free[a]) free_index.push_back(static_cast<int>(a));
  const double level = CycleLevel(p.model.precision);
  std::vector<std::vector<double>> outputs;  // each call's, for the finite check
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
    c.change = Change(before, c.values, free);
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
    if (const std::string nf = NonFiniteCheck(s, p, e, outputs); !nf.empty()) {
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
      if (!p.model.sd_every_call) break;
      settle = cycle.best_call == call ? call : cycle.best_call + cycle.period;
      if (settle == call) break;
    }
  }
  if (progress.end) progress.end();
  // With sd_every_call the fit stands where its calls left it, with that call's SDs.
  if (r.outcome.empty() && cycle.found && !p.model.sd_every_call &&
      r.history.back().call != cycle.best_call) {
    const bool given = SetValues(s, r.history[cycle.best_call - 1].values) == 0;
    if (!given) s.failure = "the values could not be given to the loaded model";
    const int e = given ? RunSimulation(s) : kRaised;
    if (e != 0) {
      r.outcome = "failed";
      r.erreur = e == kRaised ? 0 : e;
      r.erreur_text = "the simulation at the best state of a cycle failed: " +
                      (e == kRaised ? s.failure : SimulationErreurText(e, p.model.method));
      return false;
    }
  }
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
std::vector<CycleShown> ShownValues(const Prepared& p, const std::vector<Transform>& ts,
                                    const std::vector<bool>& free) {
  std::vector<CycleShown> shown;
  for (size_t a = 0; a < free.size(); ++a) {
    if (!free[a]) continue;
    CycleShown c{p.model.adjustables[a].name, static_cast<int>(a)};
    for (const Transform& t : ts)
      if (static_cast<size_t>(t.hidden) == a) c = {p.model.adjustables[t.user].name, t.user};
    shown.push_back(c);
  }
  return shown;
}

void CollectAdjustables(const Session& s, const Prepared& p, const std::vector<bool>& free,
                        FitResult& r) {
  const bool sds = r.outcome == "converged" || (p.model.sd_every_call && r.erreur == 0 &&
                                                r.calls > 0 && r.outcome != "failed");
  for (size_t a = 0; a < p.model.adjustables.size(); ++a) {
    const AdjustableDecl& d = p.model.adjustables[a];
    AdjustableResult x;
    x.name = d.name;
    x.value = AdjustableValue(s, static_cast<int>(a));
    x.status = d.bound ? "bound" : free[a] ? "free" : "fixed";
    if (d.bound) x.equal_to = d.equal_to.text;
    if (x.status == "free" && sds) {
      x.sd = AdjustableSD(s, static_cast<int>(a));
      x.has_sd = true;
    }
    r.adjustables.push_back(x);
  }
}

// The start values and free flags of p replaced, without a copy when they are p's own.
const Prepared& WithStart(const Prepared& p, const std::vector<double>& start,
                          const std::vector<bool>& free, Prepared& copy) {
  if (start == p.values && free == p.free) return p;
  copy = p;
  copy.values = start;
  copy.free = free;
  return copy;
}

// "5,000,000" for a factor below 1e9 (two significant digits), else "3e+12".
std::string Fold(double f) {
  if (!(f < 1e9)) return Num(f, 2);
  const double mag = std::pow(10.0, std::floor(std::log10(f)) - 1);
  std::string digits = std::to_string(static_cast<long long>(std::round(f / mag) * mag));
  for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3) digits.insert(i, ",");
  return digits;
}

// The sentence naming a free value that ran away over the history of a failed or stalled
// fit: the one that moved by the largest factor, when that is kRunawayFactor or more.
std::string RunawayText(const FitRun& run) {
  const FitResult& r = run.r;
  if (r.history.empty()) return "";
  const std::vector<double> first = UserValues(run, run.p.values);
  const std::vector<double> last = UserValues(run, r.history.back().values);
  double worst = 0;
  int who = -1;
  for (size_t a = 0; a < first.size(); ++a) {
    bool free = a < run.p.free.size() && run.p.free[a];
    for (const Transform& t : run.transforms) free = free || static_cast<size_t>(t.user) == a;
    if (!free || !(first[a] != 0) || !std::isfinite(last[a])) continue;
    const double f = std::fabs(last[a] / first[a]);
    const double factor = f >= 1 ? f : 1 / f;
    if (factor > worst) worst = factor, who = static_cast<int>(a);
  }
  if (who < 0 || !(worst >= kRunawayFactor)) return "";
  const std::string name = run.p.model.adjustables[who].name;
  const bool grew = std::fabs(last[who]) > std::fabs(first[who]);
  return name + (grew ? " grew " : " shrank ") + Fold(worst) + "-fold over " +
         std::to_string(r.calls) + " call" + (r.calls == 1 ? "" : "s") + " (from " +
         Num(first[who]) + " to " + Num(last[who]) + "): the data do not hold it there; " +
         "give it a " + (grew ? "max" : "min") + " in the model file, or damp the steps with a " +
         "larger marquardt (now " + Num(run.p.model.marquardt) + ")";
}

// A free value pushed to a bound, on the user's scale.
struct BoundHit {
  int user = 0;
  double bound = 0;
  bool upper = false;
};

std::vector<BoundHit> BoundHits(const FitRun& run, const std::vector<double>& values) {
  std::vector<BoundHit> hits;
  for (const Transform& t : run.transforms) {
    if (!run.p.free[t.hidden]) continue;
    const int side = AtBound(t, values[t.hidden]);
    if (side == 0) continue;
    const AdjustableDecl& d = run.user.model.adjustables[t.user];
    hits.push_back({t.user, side > 0 ? d.max : d.min, side > 0});
  }
  return hits;
}

std::string BoundSentence(const std::string& name, const BoundHit& h) {
  return name + " is at its " + (h.upper ? "upper" : "lower") + " bound " + Num(h.bound) +
         ": the data ask for " + (h.upper ? "more" : "less");
}

// The pass's result into the run's: the starts and max_calls stay, the calls add up.
void TakePass(FitRun& run, FitPass& pass, int calls_before) {
  FitResult& r = run.r;
  std::vector<StartRecord> starts = std::move(r.starts);
  const double tolerance = r.starts_tolerance;
  const int max_calls = r.max_calls;
  r = std::move(pass.r);
  r.starts = std::move(starts);
  r.starts_tolerance = tolerance;
  r.max_calls = max_calls;
  r.calls += calls_before;
  run.values = std::move(pass.values);
  run.ycalc = std::move(pass.ycalc);
  run.walk_seconds = pass.walk_seconds;
  run.session = std::move(pass.session);
}

// Holds the values the fit pushed to a bound there and fits the others again, until no free
// value stands at a bound. Returns the values held, in order.
std::vector<BoundHit> HoldAtBounds(FitRun& run, std::vector<std::string>& errors) {
  std::vector<BoundHit> held;
  for (int round = 0; round < kMaxBoundHolds; ++round) {
    const FitResult& r = run.r;
    if (r.outcome == "interrupted" || r.non_finite || r.history.empty()) break;
    const std::vector<BoundHit> hits = BoundHits(run, run.values);
    if (hits.empty()) break;
    held.insert(held.end(), hits.begin(), hits.end());
    std::vector<std::pair<int, double>> hold;
    for (const BoundHit& h : held) hold.push_back({h.user, h.bound});
    FitRun next;
    FitPass pass;
    std::vector<std::string> why;
    if (RefitHeld(run, hold, UserValues(run, run.values), {}, next, pass, why) != 0) {
      errors.insert(errors.end(), why.begin(), why.end());
      break;
    }
    const int before = run.r.calls;
    run.p = std::move(next.p);
    run.transforms = std::move(next.transforms);
    TakePass(run, pass, before);
  }
  return held;
}

// The interval of a value held at its bound: its profile on the user's scale from the bound
// inwards, each point a refit with the value held there.
Interval HeldInterval(const FitRun& run, const std::vector<BoundHit>& held, size_t i,
                      const Uncertainty& u) {
  const BoundHit& h = held[i];
  Interval c;
  const AdjustableDecl& d = run.user.model.adjustables[h.user];
  const double threshold = FQuantile(0.95, 1, u.dof);
  const double limit = h.upper ? (d.has_min ? d.min : -INFINITY) : (d.has_max ? d.max : INFINITY);
  const double dir = h.upper ? -1 : 1;
  double step = std::isfinite(limit) ? std::fabs(limit - h.bound) / 16
                                     : std::max(std::fabs(h.bound) / 4, 1e-3);
  std::vector<double> start = UserValues(run, run.values);
  double x_in = h.bound, z_in = 0, x_out = NAN, z_out = NAN;
  int failures = 0;
  for (int n = 0; n < 24 && std::isnan(x_out); ++n) {
    double x = x_in + dir * step;
    const bool at_limit = std::isfinite(limit) && dir * (x - limit) >= 0;
    if (at_limit) x = limit;
    if (d.scale == "log" && !(x > 0)) break;
    FitRun refit;
    FitPass pass;
    std::vector<std::string> errors;
    std::vector<std::pair<int, double>> hold;
    for (const BoundHit& other : held) hold.push_back({other.user, other.bound});
    hold[i].second = x;
    const int status = RefitHeld(run, hold, start, {}, refit, pass, errors);
    if (status != 0 || pass.r.outcome == "failed" || pass.ycalc.empty()) {
      if (++failures > 3) break;
      step /= 4;
      continue;
    }
    const double z = ProfileZ(refit.p, pass.ycalc, u);
    if (z > threshold) {
      x_out = x, z_out = z;
      break;
    }
    x_in = x, z_in = z;
    start = UserValues(refit, pass.values);
    if (at_limit) break;
    step *= 2;
  }
  c.computed = true;
  double inner = x_in;
  bool open = std::isnan(x_out);
  if (!open) {  // the crossing, where sqrt(z) is close to linear
    const double ra = std::sqrt(std::max(z_in, 0.0)), rb = std::sqrt(z_out);
    inner = x_in + (std::sqrt(threshold) - ra) / (rb - ra) * (x_out - x_in);
  }
  const bool inner_cut = open && std::isfinite(limit) && x_in == limit;
  (h.upper ? c.lower : c.upper) = inner;
  (h.upper ? c.upper : c.lower) = h.bound;
  (h.upper ? c.upper_cut : c.lower_cut) = true;
  (h.upper ? c.lower_cut : c.upper_cut) = inner_cut;
  (h.upper ? c.lower_open : c.upper_open) = open && !inner_cut;
  if (open && !inner_cut)
    c.note = "the profile stays below the threshold out to " + d.name + " = " + Num(x_in, 3);
  return c;
}

// Every message of the run in the user's names.
void ShowUserNames(FitRun& run) {
  FitResult& r = run.r;
  auto show = [&](std::string& text) { text = UserNames(run.p, run.transforms, text); };
  show(r.erreur_text);
  Uncertainty& u = r.uncertainty;
  show(u.why_not);
  for (std::string& n : u.notes) show(n);
  for (Interval& c : u.intervals) show(c.note);
  for (BoundValue& b : u.at_bound) show(b.interval.note);
  for (Profile& pr : run.profiles) show(pr.interval.note);
  for (StartRecord& st : r.starts) show(st.outcome);
}

}  // namespace

int FitFrom(const Prepared& p0, const std::vector<Transform>& ts, const std::vector<double>& start,
            const std::vector<bool>& free, const FitProgress& progress, FitPass& pass,
            std::vector<std::string>& errors) {
  Prepared copy;
  const Prepared& p = WithStart(p0, start, free, copy);
  FitResult& r = pass.r;
  r = FitResult{};
  pass.values.clear();
  pass.ycalc.clear();
  r.max_calls = p.model.max_calls;
  for (bool f : free) r.free_count += f;
  bool cycled = false;
  auto session = std::make_shared<Session>();
  Session& s = *session;
  if (LoadWithinBudget(s, p, errors) != 0) return 2;
  // The fit's first step starts from the outputs of a simulation at the current values.
  const int e = RunSimulation(s);
  std::vector<std::vector<double>> outputs;
  const std::string first_nf = e == kRaised ? "" : NonFiniteCheck(s, p, e, outputs);
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
  } else if (r.free_count == 0) {
    r.outcome = "converged";
  } else {
    cycled = FitLoop(s, p, free, ShownValues(p, ts, free), progress, r);
  }
  // The exchange file holds the last simulation inside the fit; after an error its values
  // may be error codes, so simulate once more at the values reached.
  int last = r.history.empty() ? e : r.history.back().erreur;
  if (last != 0 && last != kRaised) last = RunSimulation(s);
  if (last == 0 && !r.non_finite && ReadResults(s, pass.ycalc) == 0) pass.session = session;
  const BFitSet& f = s.blocks.fitset;
  r.figures = Figures{f.ErreurCalc, f.ErreurExp, f.Coeff, DataValues(p.data)};
  CollectAdjustables(s, p, free, r);
  // The library computes its SDs only when its own rule is met (or at every call).
  if (cycled && !p.model.sd_every_call)
    for (AdjustableResult& a : r.adjustables) a.has_sd = false;
  pass.values = Values(s, p.values.size());
  pass.walk_seconds = LastWalkSeconds(s);
  return 0;
}

int SetUpFit(FitControl& control, FitRun& run, std::vector<std::string>& errors) {
  Prepared& p = run.p;
  ApplyFitControl(control, p, errors);
  run.declared = p.model.adjustables.size();
  run.user = p;
  if (errors.empty()) ExpandTransforms(p, run.transforms, errors);
  CheckFreeValues(p, errors);
  return errors.empty() ? 0 : 2;
}

std::vector<double> UserValues(const FitRun& run, const std::vector<double>& values) {
  std::vector<double> v(values.begin(),
                        values.begin() + static_cast<long>(std::min(run.declared, values.size())));
  for (const Transform& t : run.transforms)
    if (static_cast<size_t>(t.user) < v.size() && static_cast<size_t>(t.hidden) < values.size())
      v[t.user] = UserValue(t, values[t.hidden]);
  return v;
}

int RefitHeld(const FitRun& run, const std::vector<std::pair<int, double>>& held,
              const std::vector<double>& start_user, const FitProgress& progress, FitRun& out,
              FitPass& pass, std::vector<std::string>& errors) {
  out = FitRun{};
  out.p = run.user;
  out.user = run.user;
  out.declared = run.declared;
  Prepared& p = out.p;
  for (size_t a = 0; a < start_user.size() && a < p.values.size(); ++a) {
    if (!p.free[a]) continue;
    // Strictly inside the bounds, where the transforms start.
    const AdjustableDecl& d = p.model.adjustables[a];
    double v = start_user[a];
    const double room = (d.has_min && d.has_max ? d.max - d.min : std::fabs(v) + 1) * 1e-9;
    if (d.has_min && !(v > d.min)) v = d.min + room;
    if (d.has_max && !(v < d.max)) v = d.max - room;
    p.values[a] = v;
  }
  for (const auto& [a, v] : held) {
    p.values[a] = v;
    p.free[a] = false;
  }
  // A held adjustable's per-experiment copies are held with it.
  for (size_t a = 0; a < p.copy_of.size(); ++a)
    if (p.copy_of[a] >= 0 && !p.free[p.copy_of[a]]) p.free[a] = false;
  if (ExpandTransforms(p, out.transforms, errors) != 0) return 2;
  return FitFrom(p, out.transforms, p.values, p.free, progress, pass, errors);
}

int RunFitOn(FitRun& run, const FitOptions& options, const FitProgress& progress,
             std::vector<std::string>& errors) {
  Prepared& p = run.p;
  FitResult& r = run.r;
  // The loaded session serves the SE differences; a result kept by a caller holds none.
  struct LetGo {
    std::shared_ptr<Session>& session;
    ~LetGo() { session.reset(); }
  } let_go{run.session};
  if (options.control.start_count > 1) {
    // The main fit below starts at the best start's optimum, so the report is that fit's.
    const std::vector<double> best =
        RunStarts(p, run.transforms, run.declared, options.control.start_count,
                  options.control.start_seed, progress.note, r);
    for (size_t a = 0; a < p.values.size(); ++a)
      if (p.free[a]) p.values[a] = best[a];
  }
  int free_count = 0;
  for (bool f : p.free) free_count += f;
  if (free_count == 0) {
    errors.push_back(p.model.path + ": no adjustable is free: mark the ones to fit with "
                     "free = true");
    return 2;
  }
  FitPass pass;
  r.max_calls = p.model.max_calls;
  if (FitFrom(p, run.transforms, p.values, p.free, progress, pass, errors) != 0) return 2;
  TakePass(run, pass, 0);
  if (r.outcome == "failed" && r.erreur_text.find("singular") != std::string::npos) {
    const std::string culprits = SingularCulprits(p, run.values);
    if (!culprits.empty()) r.erreur_text += ". At the values reached: " + culprits;
  }
  if (r.outcome != "converged" && r.outcome != "interrupted")
    if (const std::string runaway = RunawayText(run); !runaway.empty())
      r.erreur_text = runaway + (r.erreur != 0 ? " (Erreur " + std::to_string(r.erreur) + ")"
                                               : "");
  const std::vector<BoundHit> held = HoldAtBounds(run, errors);
  if (!errors.empty()) return 2;
  std::vector<BoundValue> at_bound;
  for (const BoundHit& h : held) {
    BoundValue b;
    b.name = run.user.model.adjustables[h.user].name;
    if (const auto it = p.shown_as.find(b.name); it != p.shown_as.end()) b.name = it->second;
    b.bound = h.bound;
    b.upper = h.upper;
    b.text = BoundSentence(b.name, h);
    at_bound.push_back(b);
    r.erreur_text = b.text + (r.erreur_text.empty() ? "" : "; " + r.erreur_text);
  }
  if (r.outcome == "converged" && !run.ycalc.empty()) {
    run.profiles = AssessFit(p, run.values, run.ycalc, options.profiles, progress.note,
                             r.uncertainty, run.walk_seconds, std::move(run.session));
    for (size_t i = 0; i < held.size(); ++i)
      if (options.profiles && r.uncertainty.s2 > 0)
        at_bound[i].interval = HeldInterval(run, held, i, r.uncertainty);
  }
  r.uncertainty.at_bound = at_bound;
  ToUserScale(run.transforms, run.values, run.declared, r, run.profiles);
  for (const BoundHit& h : held) r.adjustables[h.user].status = "free";
  ShowExperimentNames(p, r, run.profiles);
  ShowUserNames(run);
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
