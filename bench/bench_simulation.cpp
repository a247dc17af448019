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
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "library/driver.h"
#include "library/exports.h"
#include "library/simulation.h"
#include "library/state.h"
#include "library/statistics.h"
#include "platform/variant.h"

namespace {

using namespace tarvo;

constexpr int kIntervals = 3;
constexpr int kPoints = 200;
constexpr int kOutputs = 4;
constexpr int kReplicates = 3;

void SetText(VARIANT& v, const std::string& utf8) {
  VariantClear(&v);
  const std::u16string text = FromUtf8(utf8);
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(text.c_str());
}

// The host's blocks and exchange file for the model.
struct BenchHost {
  std::string path;
  BInitials initials{};
  BFitSet fitset{};
  BAjustables adjustables{};
  BSorties sorties{};
  std::vector<VARIANT> especes, parametres, derivees;

  BenchHost() {
    path = (std::filesystem::temp_directory_path() / "tarvo-bench-simulation.dat").string();
    especes.resize(kEspecesRows * (kIntervals + 1));
    parametres.resize(kParametresRows * (kIntervals + 1));
    derivees.resize(kDeriveesRows * kDeriveesColumns);
    for (auto* t : {&especes, &parametres, &derivees})
      for (VARIANT& v : *t) VariantInit(&v);
    for (VARIANT& v : sorties.Formula) VariantInit(&v);
    for (int a = 1; a <= kMaxAdjustables; ++a) {
      VariantInit(AdjName(&adjustables, a));
      VariantInit(AdjEqualTo(&adjustables, a));
    }
    VariantInit(&initials.FileName);
    VariantInit(&fitset.Method);
    SetText(initials.FileName, path);
    SetText(fitset.Method, "RUNGE-KUTTA QC");
    fitset.Tolerance = 1e-6;
    fitset.TypeErreur = 2.0;
    initials.NEspeces = 6;
    initials.NInterrupts = kIntervals;
    initials.NParametres = 8;
    initials.NAjustables = 8;
    initials.NPoints = kPoints;
    initials.NSorties = kOutputs;

    const double values[8] = {0.8, 0.3, 0.5, 0.4, 0.25, 0.15, 0.05, 0.02};
    for (int a = 1; a <= 8; ++a) {
      SetText(*AdjName(&adjustables, a), "k" + std::to_string(a));
      adjustables.Value[a - 1] = values[a - 1];
      adjustables.Adjustable[a - 1] = kTrue;
    }
    // Parameters: each interval changes some of the rate constants.
    for (int p = 1; p <= 8; ++p) {
      const std::string a = "A" + std::to_string(p);
      SetText(parametres[p - 1], "k" + std::to_string(p));
      SetText(parametres[1 * kParametresRows + p - 1], a);
      SetText(parametres[2 * kParametresRows + p - 1], p % 2 ? a + "*2" : a);
      SetText(parametres[3 * kParametresRows + p - 1], p % 3 ? a + "/2" : a + "+P1");
    }
    // Species: start values, a dose added at interval 2, continued at interval 3.
    const char* starts[6] = {"1", "0", "0", "0.1", "0", "0"};
    for (int s = 1; s <= 6; ++s) {
      SetText(especes[s - 1], "S" + std::to_string(s));
      SetText(especes[1 * kEspecesRows + s - 1], starts[s - 1]);
      SetText(especes[2 * kEspecesRows + s - 1], s == 1 ? "F1+0.5" : "F" + std::to_string(s));
      SetText(especes[3 * kEspecesRows + s - 1], "F" + std::to_string(s));
    }
    // Rates in split form: cell (i, j) at (j-1)*30 + (i-1); column 31 is the free term.
    auto rate = [this](int i, int j, const std::string& text) {
      SetText(derivees[(j - 1) * kDeriveesRows + i - 1], text);
    };
    rate(1, 1, "-P1-P7*F2");
    rate(1, 2, "P2");
    rate(2, 1, "P1");
    rate(2, 2, "-P2-P3");
    rate(3, 2, "P3");
    rate(3, 3, "-P4*EX(-P8*T)");
    rate(4, 3, "P4*EX(-P8*T)");
    rate(4, 4, "-P5");
    rate(5, 4, "P5");
    rate(5, 5, "-P6");
    rate(6, 5, "P6");
    rate(6, 31, "P7*F1*F2");
    SetText(sorties.Formula[0], "F1+F2");
    SetText(sorties.Formula[1], "F3*(1+P8)");
    SetText(sorties.Formula[2], "F4/(F1+1)");
    SetText(sorties.Formula[3], "LN(F6+1)+F5^2");
  }

  ~BenchHost() {
    for (auto* t : {&especes, &parametres, &derivees})
      for (VARIANT& v : *t) VariantClear(&v);
    for (VARIANT& v : sorties.Formula) VariantClear(&v);
    for (int a = 1; a <= kMaxAdjustables; ++a) {
      VariantClear(AdjName(&adjustables, a));
      VariantClear(AdjEqualTo(&adjustables, a));
    }
    VariantClear(&initials.FileName);
    VariantClear(&fitset.Method);
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
  }

  // 200 points, 3 replicates of every output around a smooth level.
  void WriteFile() const {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    for (int j = 0; j < kPoints; ++j) {
      FileRecord r{};
      r.Interval = static_cast<SmallInt>(j * kIntervals / kPoints + 1);
      r.Time = 0.1 * j;
      for (int o = 0; o < kOutputs; ++o) {
        r.NRep[o] = kReplicates;
        const double level = 0.2 + 0.5 * std::exp(-0.01 * j) * (o + 1);
        for (int k = 0; k < kReplicates; ++k) r.YExp[o][k] = level * (0.95 + 0.05 * k);
      }
      std::fwrite(&r, sizeof r, 1, f);
    }
    std::fclose(f);
  }

  bool Load() {
    WriteFile();
    fitset.Erreur = 0;
    Calcul_initial(&initials, &fitset, especes.data(), &adjustables, parametres.data(), &sorties,
                   derivees.data());
    return fitset.Erreur == 0 && Tarvo_last_failure(nullptr, 0) == 0;
  }

  void Release() {
    int16_t mode = 0;
    Fin(&mode);
  }
};

BenchHost& Host() {
  static BenchHost host;
  return host;
}

// Loads the model for one benchmark and releases it when the benchmark ends.
struct Loaded {
  bool ok;
  explicit Loaded(benchmark::State& state) : ok(Host().Load()) {
    if (!ok) state.SkipWithError("the benchmark model did not load");
  }
  ~Loaded() { Host().Release(); }
};

void PerSimulation(benchmark::State& state) {
  state.counters["per_s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_Simulation_SetUp(benchmark::State& state) {
  BenchHost& h = Host();
  for (auto _ : state) {
    state.PauseTiming();
    h.WriteFile();
    state.ResumeTiming();
    h.fitset.Erreur = 0;
    Calcul_initial(&h.initials, &h.fitset, h.especes.data(), &h.adjustables, h.parametres.data(),
                   &h.sorties, h.derivees.data());
    h.Release();
  }
  if (h.fitset.Erreur != 0) state.SkipWithError("the benchmark model did not load");
  PerSimulation(state);
}
BENCHMARK(BM_Simulation_SetUp)->Unit(benchmark::kMillisecond);

void BM_Simulation_Whole(benchmark::State& state) {
  Loaded model(state);
  BenchHost& h = Host();
  for (auto _ : state) Simulation(&h.initials, &h.fitset, nullptr, &h.adjustables);
  if (h.fitset.Erreur != 0) state.SkipWithError("the simulation reported an error");
  PerSimulation(state);
}
BENCHMARK(BM_Simulation_Whole)->Unit(benchmark::kMillisecond);

void BM_Simulation_Walk(benchmark::State& state) {
  Loaded model(state);
  for (auto _ : state) {
    Refresh_adjustables();
    Run_points(*g_state.points);
  }
  PerSimulation(state);
}
BENCHMARK(BM_Simulation_Walk)->Unit(benchmark::kMillisecond);

// The output formulas alone, as often as one walk evaluates them.
void BM_Simulation_Outputs(benchmark::State& state) {
  Loaded model(state);
  PointTable& t = *g_state.points;
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
  Run_points(*g_state.points);
  PointTable& t = *g_state.points;
  const double type = g_state.fitset.TypeErreur;
  for (auto _ : state) {
    Weights(t, type);
    benchmark::DoNotOptimize(Coeff_estimate(t, type));
    benchmark::DoNotOptimize(Scatter_exp(t));
    benchmark::DoNotOptimize(Scatter_calc(t));
  }
  PerSimulation(state);
}
BENCHMARK(BM_Simulation_Statistics)->Unit(benchmark::kMicrosecond);

void BM_Simulation_FileRewrite(benchmark::State& state) {
  Loaded model(state);
  for (auto _ : state) WriteExchangeFile(&Host().initials);
  PerSimulation(state);
}
BENCHMARK(BM_Simulation_FileRewrite)->Unit(benchmark::kMicrosecond);

}  // namespace
