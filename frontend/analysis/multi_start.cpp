#include "analysis/multi_start.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>

#include "analysis/fit_run.h"
#include "analysis/parallel.h"
#include "analysis/residual_sums.h"

namespace tarvo::frontend {

namespace {

const Transform* TransformOf(const std::vector<Transform>& ts, size_t hidden) {
  for (const Transform& t : ts)
    if (static_cast<size_t>(t.hidden) == hidden) return &t;
  return nullptr;
}

// Declared adjustables as reports name them, bound ones at the library's value.
std::vector<std::pair<std::string, double>> Named(const Prepared& p, const std::vector<Transform>& ts,
                                                  const std::vector<double>& values,
                                                  size_t declared) {
  std::vector<std::pair<std::string, double>> out;
  for (size_t a = 0; a < declared && a < values.size(); ++a) {
    std::string name = p.model.adjustables[a].name;
    if (const auto it = p.shown_as.find(name); it != p.shown_as.end()) name = it->second;
    double v = values[a];
    for (const Transform& t : ts)
      if (static_cast<size_t>(t.user) == a) v = UserValue(t, values[t.hidden]);
    out.push_back({name, v});
  }
  return out;
}

}  // namespace

std::vector<double> DrawStart(const Prepared& p, const std::vector<Transform>& ts, int k,
                              uint64_t seed) {
  std::vector<double> v = p.values;
  if (k <= 1) return v;
  std::mt19937_64 rng(seed * 1000003u + static_cast<uint64_t>(k));
  std::uniform_real_distribution<double> unit(0, 1);
  for (size_t a = 0; a < v.size(); ++a) {
    if (!p.free[a]) continue;
    const double r = unit(rng);
    const Transform* t = TransformOf(ts, a);
    if (t && t->has_min && t->has_max) {
      const double f = 0.02 + 0.96 * r;  // the whole range, a hair from the bounds
      const double w = t->wmin + f * (t->wmax - t->wmin);
      v[a] = HiddenValue(*t, t->log ? std::exp(w) : t->slope * w);
    } else {
      v[a] *= std::pow(10.0, 2 * r - 1);
    }
  }
  return v;
}

std::vector<double> RunStarts(const Prepared& p, const std::vector<Transform>& ts, size_t declared,
                              int n, uint64_t seed, const ProgressNote& note, FitResult& r) {
  using Clock = std::chrono::steady_clock;
  // One start per task, side by side, each filling its own slot; the lines and the choice of
  // the best follow the starts' order, as in the plain loop.
  std::vector<std::vector<double>> ends(n);
  std::vector<StartRecord> records(n);
  std::vector<int> status(n, 2);
  std::vector<char> simulated(n, 0);  // ended with simulated outputs, hence an SSR
  std::vector<double> seconds(n, 0);
  RunTasks(
      n,
      [&](int i) {
        const int k = i + 1;
        const auto began = Clock::now();
        const std::vector<double> start = DrawStart(p, ts, k, seed);
        FitPass fit;
        std::vector<std::string> errors;
        const bool ran = FitFrom(p, ts, start, p.free, {}, fit, errors) == 0;
        const std::string& outcome = fit.r.outcome;
        StartRecord& st = records[i];
        st.number = k;
        st.calls = fit.r.calls;
        st.start = Named(p, ts, start, declared);
        st.outcome = !ran ? "failed: " + errors.front()
                     : outcome == "failed" ? "failed: " + fit.r.erreur_text
                                           : outcome;
        status[i] = !ran || outcome == "failed" ? 2 : outcome == "converged" ? 0 : 1;
        if (status[i] != 2 && !fit.ycalc.empty()) {
          st.ssr = SumResiduals(p, fit.ycalc).ssr;
          st.end = Named(p, ts, fit.values, declared);
          ends[i] = fit.values;
          simulated[i] = 1;
        }
        seconds[i] = std::chrono::duration<double>(Clock::now() - began).count();
      },
      [&](int i) {
        if (!note) return;
        // The outcome in full; a start without simulated outputs has no SSR.
        const StartRecord& st = records[i];
        char ssr[40] = "";
        if (simulated[i]) std::snprintf(ssr, sizeof ssr, "SSR %-12.6g ", st.ssr);
        char line[120];
        std::snprintf(line, sizeof line, "start %3d/%d  %-14s %s%3d calls %7.2fs", i + 1, n,
                      status[i] == 2 ? "failed" : st.outcome.c_str(), ssr, st.calls, seconds[i]);
        note(line + (status[i] == 2 ? ": " + st.outcome.substr(st.outcome.find(": ") + 2)
                                    : std::string()));
      });
  int best = -1;
  for (int i = 0; i < n; ++i) {
    if (status[i] == 0 && simulated[i] && (best < 0 || records[i].ssr < records[best].ssr))
      best = i;
    r.starts.push_back(records[i]);
  }
  r.starts_tolerance = kStartsTolerance;
  if (best < 0) return p.values;
  for (StartRecord& st : r.starts)
    st.reached_best = st.outcome == "converged" &&
                      st.ssr <= r.starts[best].ssr * (1 + kStartsTolerance);
  return ends[best];
}

}  // namespace tarvo::frontend
