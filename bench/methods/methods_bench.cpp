// EXACT, BDF and RUNGE-KUTTA QC side by side on one linear network, through engine instances:
// 30 species in a chain S1 -> S2 -> ... -> S30, every fifth step reversible, rate constants
// spread over three decades (0.01 to 10 per unit time), 1000 points 0.05 apart in one
// interval, outputs S1, S15 and S30.
//
// Per method: the walk alone (Run_points: integration and outputs at every point, what a
// simulation spends in the engine) and the whole Simulation call (statistics and the rewrite
// of the 3.6 MB exchange file included), in ms per simulation, the walk's ratio to EXACT's, and
// the largest deviation of the outputs from EXACT's (EXACT is exact up to rounding).
//
// Usage: methods_bench [tolerance for BDF and QC, default 1e-8] [seconds per figure, 0.5]
//                      [the only method to run, for a profile]
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "api/instance.h"
#include "engines/external/method_library.h"
#include "library/driver.h"
#include "api/linked_host.h"

namespace {

using namespace tarvo;
using Clock = std::chrono::steady_clock;

constexpr int kSpecies = 30;
constexpr int kPoints = 1000;

HostSheet Network(const std::string& method, double tol) {
  HostSheet m;
  m.method = method;
  m.tolerance = tol;
  m.type_erreur = 0;
  for (int s = 1; s <= kSpecies; ++s) {
    m.species.push_back("S" + std::to_string(s));
    m.species_start.push_back({s == 1 ? "1" : "0"});
  }
  // Forward constants k_i = 0.01 x 1000^((i-1)/28), in a shuffled order so that fast and
  // slow steps alternate along the chain; a reversible step's backward constant is half its
  // forward one.
  for (int i = 1; i < kSpecies; ++i) {
    const int slot = (i * 11) % (kSpecies - 1);  // 11 is prime to 29: a permutation
    const double k = 0.01 * std::pow(1000.0, slot / 28.0);
    m.parameters.push_back("k" + std::to_string(i));
    char text[64];
    std::snprintf(text, sizeof text, "%.6g", k);
    m.parameter_eqs.push_back({text});
  }
  std::vector<std::string> diag(kSpecies + 1);
  auto add = [&](int i, const std::string& term) { diag[i] += term; };
  for (int i = 1; i < kSpecies; ++i) {
    const std::string k = "P" + std::to_string(i);
    add(i, "-" + k);
    m.rates.push_back({i + 1, i, k});
    if (i % 5 == 0) {
      add(i + 1, "-" + k + "/2");
      m.rates.push_back({i, i + 1, k + "/2"});
    }
  }
  for (int i = 1; i <= kSpecies; ++i)
    if (!diag[i].empty()) m.rates.push_back({i, i, diag[i]});
  m.outputs = {"F1", "F15", "F30"};
  for (int j = 0; j < kPoints; ++j) m.points.push_back({1, 0.05 * j, {{1}, {1}, {1}}, {}});
  return m;
}

struct Figures {
  double walk_ms = 0, simulation_ms = 0;
  std::vector<double> outputs;  // YCalc of every point after the last walk
  int16_t erreur = 0;
};

template <class F>
double MsPerCall(F&& f, double seconds) {
  f();  // warm: the first walk fills caches (EXACT's exponentials, BDF's solver memory)
  int calls = 0;
  const auto start = Clock::now();
  double elapsed = 0;
  do {
    f();
    ++calls;
    elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  } while (elapsed < seconds || calls < 3);
  return 1e3 * elapsed / calls;
}

Figures Measure(const std::string& method, double tol, double seconds) {
  LinkedHost host(Network(method, tol));
  auto in = std::make_unique<Instance>();
  Figures f;
  Instance_setup(*in, &host.initials, &host.fitset, host.especes.data(), &host.adjustables,
                 host.parametres.data(), &host.sorties, host.derivees.data());
  if (host.fitset.Erreur != 0) {
    std::fprintf(stderr, "%s: set-up Erreur %d: %s\n", method.c_str(), host.fitset.Erreur,
                 in->failure.c_str());
    std::exit(1);
  }
  EngineState& st = in->state;
  f.walk_ms = MsPerCall(
      [&] {
        Refresh_adjustables(st);
        Run_points(st, *st.points);
      },
      seconds);
  f.simulation_ms = MsPerCall(
      [&] { Instance_simulate(*in, &host.initials, &host.fitset, &host.adjustables); },
      seconds);
  f.erreur = host.fitset.Erreur;
  for (int j = 0; j < kPoints; ++j)
    for (int o = 0; o < 3; ++o) f.outputs.push_back(st.points->Points[j].YCalc[o]);
  Instance_release(*in, nullptr);
  return f;
}

}  // namespace

int main(int argc, char** argv) {
  const double tol = argc > 1 ? std::atof(argv[1]) : 1e-8;
  const double seconds = argc > 2 ? std::atof(argv[2]) : 0.5;
  RegisterMethodLibrary();
  struct Row {
    const char* method;
    double tol;
  };
  const Row rows[] = {{"EXACT", tol}, {"BDF", tol}, {"RUNGE-KUTTA QC", tol}};
  std::printf("Linear network: %d species (chain, every fifth step reversible, constants "
              "0.01..10), %d points 0.05 apart, 3 outputs\n", kSpecies, kPoints);
  std::printf("%-16s %9s %14s %16s %12s %16s %7s\n", "method", "tolerance", "walk ms/sim",
              "Simulation ms", "walk/EXACT", "max |y - EXACT|", "Erreur");
  std::vector<double> exact;
  double exact_walk = 0;
  const std::string only = argc > 3 ? argv[3] : "";
  for (const Row& r : rows) {
    if (!only.empty() && only != r.method) continue;
    const Figures f = Measure(r.method, r.tol, seconds);
    if (exact.empty()) {
      exact = f.outputs;
      exact_walk = f.walk_ms;
    }
    double dev = 0;
    for (size_t k = 0; k < exact.size(); ++k) dev = std::fmax(dev, std::fabs(f.outputs[k] - exact[k]));
    std::printf("%-16s %9.0e %14.4f %16.4f %12.1f %16.2e %7d\n", r.method,
                r.method == std::string("EXACT") ? 0.0 : r.tol, f.walk_ms, f.simulation_ms,
                f.walk_ms / exact_walk, dev, f.erreur);
  }
  return 0;
}
