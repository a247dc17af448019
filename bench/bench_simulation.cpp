// End-to-end Simulation of a realistic model through the exported calls: 6 species (a chain
// with a reversible first step, a second-order loss and a time-dependent coefficient),
// 8 parameters from 8 adjustables, 3 intervals, 4 outputs, 200 points with 3 replicates each,
// "RUNGE-KUTTA QC" at tolerance 1e-6.
//
// Figures: the set-up once (Calcul_initial + Fin), a whole Simulation call (simulations per
// second), and its parts on the same loaded model: the walk (integration and outputs), the
// outputs alone (every output formula at every point), the statistics, and the rewrite of the
// exchange file. Every benchmark loads the model itself and releases it at its end, since
// other benchmarks of this program use the derivative formula table too.
#include <benchmark/benchmark.h>

#include <cmath>
#include <string>
#include <vector>

#include "library/driver.h"
#include "library/simulation.h"
#include "api/exports.h"
#include "library/state.h"
#include "library/statistics.h"
#include "api/linked_host.h"

namespace {

using namespace tarvo;

constexpr int kIntervals = 3;
constexpr int kPoints = 200;
constexpr int kOutputs = 4;
constexpr int kReplicates = 3;

// The model as the host describes it.
HostSheet SimulationModel() {
  HostSheet m;
  m.method = "RUNGE-KUTTA QC";
  m.tolerance = 1e-6;
  m.type_erreur = 2.0;
  m.marquard = 0;
  m.precision = 0;
  m.max_iter = 0;
  m.intervals = kIntervals;

  const double values[8] = {0.8, 0.3, 0.5, 0.4, 0.25, 0.15, 0.05, 0.02};
  for (int a = 1; a <= 8; ++a) {
    HostSheet::Adjustable adj;
    adj.name = "k" + std::to_string(a);
    adj.value = values[a - 1];
    m.adjustables.push_back(adj);
  }
  // Parameters: each interval changes some of the rate constants.
  for (int p = 1; p <= 8; ++p) {
    const std::string a = "A" + std::to_string(p);
    m.parameters.push_back("k" + std::to_string(p));
    m.parameter_eqs.push_back({a, p % 2 ? a + "*2" : a, p % 3 ? a + "/2" : a + "+P1"});
  }
  // Species: start values, a dose added at interval 2, continued at interval 3.
  const char* starts[6] = {"1", "0", "0", "0.1", "0", "0"};
  for (int s = 1; s <= 6; ++s) {
    const std::string f = "F" + std::to_string(s);
    m.species.push_back("S" + std::to_string(s));
    m.species_start.push_back({starts[s - 1], s == 1 ? "F1+0.5" : f, f});
  }
  // Rates in split form; column 31 is the free term.
  m.rates = {{1, 1, "-P1-P7*F2"}, {1, 2, "P2"},          {2, 1, "P1"},
             {2, 2, "-P2-P3"},    {3, 2, "P3"},          {3, 3, "-P4*EX(-P8*T)"},
             {4, 3, "P4*EX(-P8*T)"}, {4, 4, "-P5"},      {5, 4, "P5"},
             {5, 5, "-P6"},       {6, 5, "P6"},          {6, kFreeTermColumn, "P7*F1*F2"}};
  m.outputs = {"F1+F2", "F3*(1+P8)", "F4/(F1+1)", "LN(F6+1)+F5^2"};

  // 200 points, 3 replicates of every output around a smooth level.
  for (int j = 0; j < kPoints; ++j) {
    HostPoint pt;
    pt.interval = static_cast<int16_t>(j * kIntervals / kPoints + 1);
    pt.time = 0.1 * j;
    for (int o = 0; o < kOutputs; ++o) {
      const double level = 0.2 + 0.5 * std::exp(-0.01 * j) * (o + 1);
      std::vector<double> reps;
      for (int k = 0; k < kReplicates; ++k) reps.push_back(level * (0.95 + 0.05 * k));
      pt.replicates.push_back(reps);
    }
    m.points.push_back(pt);
  }
  return m;
}

LinkedHost& TheHost() {
  static LinkedHost host(SimulationModel());
  return host;
}

bool Load() {
  LinkedHost& h = TheHost();
  h.WriteFile();
  h.fitset.Erreur = 0;
  h.CalculInitial();
  return h.fitset.Erreur == 0 && h.Failure() == 0;
}

// Loads the model for one benchmark and releases it when the benchmark ends.
struct Loaded {
  bool ok;
  explicit Loaded(benchmark::State& state) : ok(Load()) {
    if (!ok) state.SkipWithError("the benchmark model did not load");
  }
  ~Loaded() { TheHost().Fin(); }
};

void PerSimulation(benchmark::State& state) {
  state.counters["per_s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_Simulation_SetUp(benchmark::State& state) {
  LinkedHost& h = TheHost();
  for (auto _ : state) {
    state.PauseTiming();
    h.WriteFile();
    state.ResumeTiming();
    h.fitset.Erreur = 0;
    h.CalculInitial();
    h.Fin();
  }
  if (h.fitset.Erreur != 0) state.SkipWithError("the benchmark model did not load");
  PerSimulation(state);
}
BENCHMARK(BM_Simulation_SetUp)->Unit(benchmark::kMillisecond);

void BM_Simulation_Whole(benchmark::State& state) {
  Loaded model(state);
  LinkedHost& h = TheHost();
  for (auto _ : state) h.Simulate();
  if (h.fitset.Erreur != 0) state.SkipWithError("the simulation reported an error");
  PerSimulation(state);
}
BENCHMARK(BM_Simulation_Whole)->Unit(benchmark::kMillisecond);

void BM_Simulation_Walk(benchmark::State& state) {
  Loaded model(state);
  for (auto _ : state) {
    Refresh_adjustables(ProcessState());
    Run_points(ProcessState(), *ProcessState().points);
  }
  PerSimulation(state);
}
BENCHMARK(BM_Simulation_Walk)->Unit(benchmark::kMillisecond);

// The output formulas alone, as often as one walk evaluates them.
void BM_Simulation_Outputs(benchmark::State& state) {
  Loaded model(state);
  PointTable& t = *ProcessState().points;
  for (auto _ : state) {
    double sum = 0;
    for (int j = 0; j < kPoints; ++j)
      for (int o = 0; o < kOutputs; ++o) sum += Evaluate(t.Outputs[o]);
    benchmark::DoNotOptimize(sum);
  }
  PerSimulation(state);
}
BENCHMARK(BM_Simulation_Outputs)->Unit(benchmark::kMicrosecond);

void BM_Simulation_Statistics(benchmark::State& state) {
  Loaded model(state);
  EngineState& st = ProcessState();
  Run_points(st, *st.points);
  PointTable& t = *st.points;
  const double type = st.fitset.TypeErreur;
  for (auto _ : state) {
    benchmark::DoNotOptimize(Statistics(st, t, type));
  }
  PerSimulation(state);
}
BENCHMARK(BM_Simulation_Statistics)->Unit(benchmark::kMicrosecond);

void BM_Simulation_FileRewrite(benchmark::State& state) {
  Loaded model(state);
  for (auto _ : state) WriteExchangeFile(ProcessState(), &TheHost().initials);
  PerSimulation(state);
}
BENCHMARK(BM_Simulation_FileRewrite)->Unit(benchmark::kMicrosecond);

}  // namespace
