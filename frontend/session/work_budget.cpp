#include "session/work_budget.h"

#include <sys/wait.h>
#include <unistd.h>

#include <bit>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <map>
#include <mutex>

#include "engines/methods.h"
#include "session/load_model.h"
#include "language/text.h"

namespace tarvo::frontend {

namespace {

bool FixedStep(const std::string& m) {
  const MethodFacts* f = FactsForMethod(m);
  return f && f->fixed_steps;
}

// A method whose work only a run tells (an unknown name too: it is never spared the probe).
bool AdaptiveSteps(const std::string& m) {
  const MethodFacts* f = FactsForMethod(m);
  return !f || f->adaptive_steps;
}

int RateFormulas(const Prepared& p) {
  int n = 0;
  for (const auto& f : p.text.formulas)
    n += f.role == FormulaRole::Coefficient || f.role == FormulaRole::FreeTerm;
  return n;
}

// The interval whose points span the longest time, as "interval 2 (t = 12 .. 24)".
std::string LongestInterval(const Prepared& p) {
  const auto& pts = p.data.points;
  int best = 1;
  double best_span = -1, from = 0, to = 0;
  for (size_t j = 0; j < pts.size();) {
    size_t e = j;
    while (e + 1 < pts.size() && pts[e + 1].interval == pts[j].interval) ++e;
    const double start = j == 0 ? std::min(p.model.t0, pts[0].time) : pts[j].time;
    const double end = e + 1 < pts.size() ? pts[e + 1].time : pts[e].time;
    if (end - start > best_span) {
      best_span = end - start;
      best = pts[j].interval;
      from = start;
      to = end;
    }
    j = e + 1;
  }
  return "interval " + std::to_string(best) + " (t = " + Num(from) + " .. " + Num(to) + ")";
}

}  // namespace

double FixedStepWork(const Prepared& p, size_t points) {
  if (!FixedStep(p.model.method) || points < 2) return 0;
  const double steps = std::ceil(1 / std::sqrt(p.model.tolerance)) + 1;
  const double stages = p.model.method == "RUNGE-KUTTA 4" ? 4 : 5;
  return static_cast<double>(points - 1) * steps * stages * (RateFormulas(p) + 1);
}

std::string FixedStepBudgetProblem(const Prepared& p, size_t points) {
  const double work = FixedStepWork(p, points);
  if (work <= kMaxFormulaEvaluations) return "";
  return p.model.method + " at tolerance " + Num(p.model.tolerance) + " takes " +
         Num(std::ceil(1 / std::sqrt(p.model.tolerance))) + " steps between every two of the " +
         std::to_string(points) + " points, about " + Num(work, 3) +
         " formula evaluations per simulation, more than the budget of " +
         Num(kMaxFormulaEvaluations, 3) + " (a few seconds): raise the tolerance, or use "
         "\"RUNGE-KUTTA QC\"";
}

namespace {

// Everything the probed simulation's work depends on: formulas, method, tolerance, start
// values and the points' times (not the measured values, which it never reads).
std::string ProbeKey(const Prepared& p) {
  std::string key = p.model.method + '\n';
  auto add = [&key](double v) { key += std::to_string(std::bit_cast<uint64_t>(v)) + ','; };
  add(p.model.tolerance);
  add(p.model.t0);
  key += std::to_string(p.text.intervals) + '\n';
  for (const TranslatedFormula& f : p.text.formulas)
    key += std::to_string(static_cast<int>(f.role)) + ':' + std::to_string(f.row) + ':' +
           std::to_string(f.column) + '=' + f.text + '\n';
  for (const std::string& h : p.text.hidden_parameters) key += h + '\n';
  for (double v : p.values) add(v);
  for (const OutputDecl& o : p.model.outputs) add(o.offset);
  if (LeadPoints(p.model, p.data.points) > 0) {
    key += "1@";
    add(p.model.t0);
  }
  for (const DataPoint& pt : p.data.points) {
    key += std::to_string(pt.interval) + '@';
    add(pt.time);
  }
  return key;
}

std::string ForkedProbe(Session& s, const Prepared& p) {
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child < 0) return "";  // no probe possible: run unguarded
  if (child == 0) {
    alarm(kProbeSeconds);  // the default action ends the child
    RunSimulation(s);
    _exit(0);  // no destructors: the session belongs to the parent
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
  }
  if (!WIFSIGNALED(status) || WTERMSIG(status) != SIGALRM) return "";
  const auto& pts = p.data.points;
  const double first = std::min(p.model.t0, pts.front().time);
  return "one simulation did not finish within " + std::to_string(kProbeSeconds) +
         " s (the budget of a simulation); the data span t = " + Num(first) + " .. " +
         Num(pts.back().time) + ", the longest being " + LongestInterval(p) +
         ". Likely causes: times in a unit much smaller than the rates' (ms or s for rates "
         "per min), rates far faster than the spacing of the points, or tolerance = " +
         Num(p.model.tolerance) + " too small for " + p.model.method;
}

}  // namespace

// The verdict on a simulation is kept for the process: a batch fits one design over many data
// sets, and every fork costs the process's other threads a copy of each page they write next
// (in a Dask worker that made every fit a fifth slower).
std::string ProbeSimulation(Session& s, const Prepared& p) {
  static std::mutex mutex;
  static std::map<std::string, std::string> verdicts;
  constexpr size_t kMaxVerdicts = 256;
  const std::string key = ProbeKey(p);
  {
    const std::lock_guard<std::mutex> lock(mutex);
    if (const auto found = verdicts.find(key); found != verdicts.end()) return found->second;
  }
  std::string verdict = ForkedProbe(s, p);
  const std::lock_guard<std::mutex> lock(mutex);
  if (verdicts.size() >= kMaxVerdicts) verdicts.clear();
  verdicts.emplace(key, verdict);
  return verdict;
}

int LoadWithinBudget(Session& s, const Prepared& p, std::vector<std::string>& errors) {
  if (LoadModel(s, p, errors) != 0) return 2;
  if (std::string why = FixedStepBudgetProblem(
          p, p.data.points.size() + LeadPoints(p.model, p.data.points));
      !why.empty() ||
      (AdaptiveSteps(p.model.method) && !(why = ProbeSimulation(s, p)).empty())) {
    errors.push_back(p.model.path + ": " + why);
    return 2;
  }
  return 0;
}

}  // namespace tarvo::frontend
