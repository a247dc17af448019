// A whole fit through the exported calls, from the start values to Done: consecutive
// first-order reactions A -> B -> C (k1 = 1, k2 = 0.5), both constants free and started 50 %
// away, outputs A, B and C with three replicates carrying 2 % multiplicative noise,
// TypeErreur 2, "RUNGE-KUTTA 4" with steps of 1/64 of each span. The argument is the number
// of points (8 as in the tests, 200 to show how the copies scale).
//
// Figures per fit: Ajustement calls, walks over the points (every integration of the model:
// the perturbed walks of the sensitivities and those of the simulations), simulations, and
// the processor time from the first Ajustement to Done (the Time column is wall-clock time,
// set-up and release excluded). Then a breakdown from the parts timed alone on
// the same model, multiplied by how often the fit ran them: the sensitivities (their walks and
// the scratch copy), the scratch copy alone, the simulations (walk, statistics and rewrite),
// the exchange file rewrite alone, and the normal equations with their solve, each as a
// percentage of the time per fit (the sensitivities include the copy, the simulations the
// rewrite).
#include <benchmark/benchmark.h>

#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "fitting/normal_equations.h"
#include "fitting/sensitivities.h"
#include "fitting/solvers.h"
#include "library/simulation.h"
#include "api/exports.h"
#include "library/state.h"
#include "api/linked_host.h"
#include "library/workers.h"

namespace {

using namespace tarvo;

constexpr int kReplicates = 3;
constexpr int kMaxCalls = 30;

// Times 0, 1/16, 2/16, ... for 200 points; the 8 of the tests otherwise.
double PointTime(int points, int j) {
  static const double eight[8] = {0, 0.5, 1, 2, 3, 4, 6, 8};
  return points == 8 ? eight[j] : j / 16.0;
}

// The model as the host describes it, with its noisy measurements.
HostSheet FitModel(int points) {
  HostSheet m;
  m.method = "RUNGE-KUTTA 4";
  m.type_erreur = 2.0;
  m.tolerance = 1.0 / 4096;
  m.marquard = 0.01;
  m.precision = 1e-8;
  m.max_iter = kMaxCalls;
  m.intervals = 1;
  m.species = {"A", "B", "C"};
  m.species_start = {{"1"}, {"0"}, {"0"}};
  m.outputs = {"F1", "F2", "F3"};
  for (const char* name : {"k1", "k2"}) {
    HostSheet::Adjustable adj;
    adj.name = name;
    m.adjustables.push_back(adj);
  }
  m.rates = {{1, 1, "-A1"}, {2, 1, "A1"}, {2, 2, "-A2"}, {3, 2, "A2"}};

  std::mt19937_64 engine(1);
  auto gauss = [&engine] {
    const double u1 = (static_cast<double>(engine() >> 11) + 1.0) * 0x1.0p-53;
    const double u2 = (static_cast<double>(engine() >> 11) + 1.0) * 0x1.0p-53;
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(6.283185307179586 * u2);
  };
  for (int j = 0; j < points; ++j) {
    HostPoint pt;
    pt.interval = 1;
    pt.time = PointTime(points, j);
    const double a = std::exp(-pt.time);
    const double b = 1.0 / (0.5 - 1.0) * (std::exp(-pt.time) - std::exp(-0.5 * pt.time));
    const double y[3] = {a, b, 1 - a - b};
    for (int o = 0; o < 3; ++o) {
      std::vector<double> reps;
      for (int k = 0; k < kReplicates; ++k) reps.push_back(y[o] * (1 + 0.02 * gauss()));
      pt.replicates.push_back(reps);
    }
    m.points.push_back(pt);
  }
  return m;
}

// Set-up and the host's first Simulation at the start values: the blocks the fit changed
// are put back as the model gives them.
bool Load(LinkedHost& h) {
  const HostSheet& m = h.model;
  h.WriteFile();
  h.fitset.Erreur = 0;
  h.fitset.TypeErreur = m.type_erreur;
  h.fitset.Tolerance = m.tolerance;
  h.fitset.Marquard = m.marquard;
  h.fitset.Precision = m.precision;
  h.fitset.MaxIter = m.max_iter;
  h.adjustables.Value[0] = 1.5;
  h.adjustables.Value[1] = 0.75;
  h.adjustables.Adjustable[0] = kTrue;
  h.adjustables.Adjustable[1] = kTrue;
  h.CalculInitial();
  if (h.fitset.Erreur != 0) return false;
  h.Simulate();
  return h.fitset.Erreur == 0;
}

// Counts the engine calls of the loaded model: a walk over n points makes n - 1 of them.
Engine_proc g_engine = nullptr;
long g_engine_calls = 0;
void CountingEngine(RateTable& rates, int32_t n, double t0, double t1, double tol,
                    const double* y_in, double* y_out, int16_t& status) {
  ++g_engine_calls;
  g_engine(rates, n, t0, t1, tol, y_in, y_out, status);
}

// Processor time of this thread (user and system), which other processes on a busy machine
// do not inflate as they inflate the wall clock.
double CpuSeconds() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

// Mean processor seconds of one run of body, over enough runs to last about 50 ms.
template <class Body>
double SecondsPerRun(Body&& body) {
  long runs = 0;
  const double start = CpuSeconds();
  double now = start;
  do {
    body();
    ++runs;
    now = CpuSeconds();
  } while (now - start < 0.05);
  return (now - start) / static_cast<double>(runs);
}

void BM_Fit_ToDone(benchmark::State& state) {
  const int points = static_cast<int>(state.range(0));
  LinkedHost h(FitModel(points));
  // The breakdown counts the walks of one thread: the perturbed walks stay on this one.
  ProcessState().fit_threads = 1;
  long calls = 0, fits = 0, walks = 0;
  double fit_seconds = 0;
  bool converged = true;
  for (auto _ : state) {
    state.PauseTiming();
    if (!Load(h)) {
      h.Fin();
      state.ResumeTiming();
      state.SkipWithError("the benchmark model did not load");
      break;
    }
    g_engine = ProcessState().engine;
    ProcessState().engine = CountingEngine;
    g_engine_calls = 0;
    state.ResumeTiming();
    const double start = CpuSeconds();
    int n = 0;
    while (n < kMaxCalls) {
      h.Fit();
      ++n;
      if (h.fitset.Erreur != 0 || h.fitset.Done != 0) break;
    }
    fit_seconds += CpuSeconds() - start;
    state.PauseTiming();
    converged = converged && h.fitset.Done != 0;
    calls += n;
    walks += g_engine_calls / (points - 1);
    ++fits;
    ProcessState().engine = g_engine;
    h.Fin();
    state.ResumeTiming();
  }
  if (fits == 0) return;
  if (!converged) {
    state.SkipWithError("the fit did not reach Done");
    return;
  }
  const double calls_per_fit = static_cast<double>(calls) / fits;
  const double walks_per_fit = static_cast<double>(walks) / fits;
  // Every call differences the model once (NFree walks); the call that converges once more
  // for the standard deviations. The other walks belong to simulations (the host's first one
  // is not counted: it ran before the first Ajustement).
  const double nfree = 2;
  const double sensitivities = calls_per_fit + 1;
  const double simulations = walks_per_fit - nfree * sensitivities;

  // The parts alone, on the model loaded afresh at its start values.
  if (!Load(h)) {
    h.Fin();
    return;
  }
  EngineState& st = ProcessState();
  const double t_sens = SecondsPerRun([&st] { Sensibilites(st); });
  const double t_copy = SecondsPerRun([&st] {
    CopyForSimulation(st, *st.points, *st.scratch);
    benchmark::DoNotOptimize(st.scratch);
  });
  const double t_sim =
      SecondsPerRun([&h, &st] { SimulateModel(st, &h.initials, &h.fitset, &h.adjustables); });
  const double t_file = SecondsPerRun([&h, &st] { WriteExchangeFile(st, &h.initials); });
  for (PAjustable& a : ProcessState().adjustables) a.dP = 0;  // the secant pass then changes nothing
  const double t_solve = SecondsPerRun([&st] {
    FitMatrix M;
    FitVector g, x;
    Equations_normales(st, 1, M, g);
    benchmark::DoNotOptimize(Resolution(2, M, g, x));
  });
  h.Fin();

  const double fit_s = fit_seconds / static_cast<double>(fits);
  auto percent = [fit_s](double seconds) { return 100.0 * seconds / fit_s; };
  state.counters["calls"] = calls_per_fit;
  state.counters["walks"] = walks_per_fit;
  state.counters["sims"] = simulations;
  state.counters["fit_cpu_ms"] = 1e3 * fit_s;
  state.counters["sens_%"] = percent(sensitivities * t_sens);
  state.counters["copy_%"] = percent(sensitivities * t_copy);
  state.counters["sim_%"] = percent(simulations * t_sim);
  state.counters["file_%"] = percent(simulations * t_file);
  state.counters["solve_%"] = percent(2 * calls_per_fit * t_solve);
}
BENCHMARK(BM_Fit_ToDone)->Arg(8)->Arg(200)->Unit(benchmark::kMillisecond);

double WallSeconds() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

// The same model with its perturbed walks on one thread and on every core (at most one per
// free adjustable), side by side: the sensitivities alone (Sensibilites at the start values,
// the part the threads share) and the fit from the start values to Done (set-up excluded),
// each on the wall clock, alternating between the two settings at every iteration so that a
// busy machine's drifts fall on both. Counters: milliseconds per run with one thread and with
// all, and one/all, the ratio of the medians; threads is the number used.
void BM_Fit_Threads(benchmark::State& state) {
  const int points = static_cast<int>(state.range(0));
  LinkedHost h(FitModel(points));
  std::vector<double> sens[2], fit[2];
  bool same = true;
  double values[2][2] = {};
  int threads = 1;
  for (auto _ : state) {
    for (int k = 0; k < 2; ++k) {
      ProcessState().fit_threads = k == 0 ? 1 : 0;
      if (!Load(h)) {
        h.Fin();
        state.SkipWithError("the benchmark model did not load");
        return;
      }
      if (k == 1) threads = ProcessState().workers ? 1 + static_cast<int>(ProcessState().workers->instances.size()) : 1;
      EngineState& st = ProcessState();
      double t0 = WallSeconds();
      constexpr int kRuns = 5;
      for (int r = 0; r < kRuns; ++r) Sensibilites(st);
      sens[k].push_back((WallSeconds() - t0) / kRuns);
      t0 = WallSeconds();
      for (int n = 0; n < kMaxCalls; ++n) {
        h.Fit();
        if (h.fitset.Erreur != 0 || h.fitset.Done != 0) break;
      }
      fit[k].push_back(WallSeconds() - t0);
      same = same && h.fitset.Done != 0;
      values[k][0] = h.adjustables.Value[0];
      values[k][1] = h.adjustables.Value[1];
      h.Fin();
    }
  }
  ProcessState().fit_threads = 0;
  if (!same || std::memcmp(values[0], values[1], sizeof values[0]) != 0) {
    state.SkipWithError("the fits differ, or one did not reach Done");
    return;
  }
  auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  state.counters["threads"] = threads;
  state.counters["sens_1_ms"] = 1e3 * median(sens[0]);
  state.counters["sens_all_ms"] = 1e3 * median(sens[1]);
  state.counters["sens_1/all"] = median(sens[0]) / median(sens[1]);
  state.counters["fit_1_ms"] = 1e3 * median(fit[0]);
  state.counters["fit_all_ms"] = 1e3 * median(fit[1]);
  state.counters["fit_1/all"] = median(fit[0]) / median(fit[1]);
}
BENCHMARK(BM_Fit_Threads)->Arg(200)->Iterations(15)->Unit(benchmark::kMillisecond);

}  // namespace
