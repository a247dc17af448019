// A long-lived host: a hundred load / simulate / fit / release cycles over models of every
// engine, one and two intervals, bound adjustables, a refused set-up and one that raises (the
// exchange file is missing), with the calls a careless host makes out of order woven in
// between. Every cycle of a model must reproduce that model's first cycle bit for bit (nothing
// of the model before carries over), every call out of order must have its documented outcome,
// and every Fin must leave nothing loaded.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "library/state.h"
#include "support/fit_models.h"
#include "support/host.h"
#include "support/library_models.h"

namespace tarvo::testhost {
namespace {

struct Kind {
  const char* what;
  Model model;
  int16_t setup_erreur;  // what Calcul_initial reports
  int16_t run_erreur;    // what Simulation and Ajustement then report
  int fits;              // Ajustement calls after the first simulation
  bool moves;            // the fit starts away from the data's truth: adjustable 1 moves
  bool file_missing;     // the host forgot the exchange file: set-up and Fin raise kind 1
};

Model Consecutive(const char* method, double tolerance, bool bound) {
  ConsecutiveSpec s;
  s.method = method;
  s.tolerance = tolerance;
  s.bound = bound;
  s.times = {0, 0.5, 1, 2, 4, 8};
  s.replicates = 2;
  return ConsecutiveModel(s);
}

std::vector<Kind> Kinds() {
  Model unknown_method = FirstOrderModel({0, 1, 2});
  unknown_method.method = "RUNGE-KUTTA";
  return {
      {"first order, RUNGE-KUTTA 4", FirstOrderModel({0, 0.5, 1, 2, 4}), 0, 0, 1, false, false},
      {"consecutive, RUNGE-KUTTA QC", Consecutive("RUNGE-KUTTA QC", 1e-7, false), 0, 0, 1, true,
       false},
      {"ramp over two intervals", RampModel({1, 1, 2, 2}, {0, 1, 2, 3}, {"0", "F1+1"}, {"1", "2"}),
       0, 0, 0, false, false},
      {"consecutive, CHU-BERMAN, bound", Consecutive("CHU-BERMAN", 1e-7, true), 0, 0, 1, true,
       false},
      {"unknown method", unknown_method, kErreurMethod, kErreurMethod, 1, false, false},
      {"exchange file missing", FirstOrderModel({0, 1, 2}), 0, kErreurNoModel, 1, false, true},
      {"consecutive, RUNGE-KUTTA 5", Consecutive("RUNGE-KUTTA 5", 1.0 / 4096, false), 0, 0, 1,
       true, false},
  };
}

std::vector<unsigned char> Bytes(const void* p, size_t n) {
  const auto* b = static_cast<const unsigned char*>(p);
  return {b, b + n};
}

// What a cycle hands the host: the exchange file's simulated values, the statistics and the
// adjustables after every call, as raw bytes, so that equal means bit-identical.
struct Results {
  std::vector<unsigned char> bytes;
  void Add(const void* p, size_t n) {
    const auto b = Bytes(p, n);
    bytes.insert(bytes.end(), b.begin(), b.end());
  }
  void AddCall(const Host& h) {
    Add(&h.fitset.Erreur, sizeof h.fitset.Erreur);
    Add(&h.fitset.Coeff, sizeof h.fitset.Coeff);
    Add(&h.fitset.ErreurExp, sizeof h.fitset.ErreurExp);
    Add(&h.fitset.ErreurCalc, sizeof h.fitset.ErreurCalc);
    Add(&h.fitset.Done, sizeof h.fitset.Done);
    Add(h.adjustables.Value, sizeof h.adjustables.Value);
    Add(h.adjustables.SD, sizeof h.adjustables.SD);
    for (const FileRecord& r : h.ReadFile()) Add(r.YCalc, sizeof r.YCalc);
  }
};

// The host's BFitSet apart from Erreur, its adjustables and its exchange file, as bytes.
std::vector<unsigned char> HostBytes(const Host& h) {
  auto out = Bytes(reinterpret_cast<const unsigned char*>(&h.fitset) + sizeof h.fitset.Erreur,
                   sizeof h.fitset - sizeof h.fitset.Erreur);
  const auto adj = Bytes(&h.adjustables, sizeof h.adjustables);
  out.insert(out.end(), adj.begin(), adj.end());
  for (const FileRecord& r : h.ReadFile()) {
    const auto b = Bytes(&r, sizeof r);
    out.insert(out.end(), b.begin(), b.end());
  }
  return out;
}

// Simulation or Ajustement without a model: Erreur becomes kErreurNoModel and nothing else
// of the host's changes.
void ExpectRefused(Host& h, bool fit, const char* when) {
  SCOPED_TRACE(std::string(fit ? "Ajustement " : "Simulation ") + when);
  h.fitset.Erreur = 0;
  const auto before = HostBytes(h);
  fit ? h.Fit() : h.Simulate();
  EXPECT_EQ(h.fitset.Erreur, kErreurNoModel);
  EXPECT_EQ(HostBytes(h), before);
}

// Nothing of a model is left: no point table, no compiled formula behind any handle.
void ExpectNothingLoaded() {
  EXPECT_EQ(ProcessState().points, nullptr);
  EXPECT_FALSE(ProcessState().loaded);
  int handles = 0;
  for (const compilptr c : ProcessState().rates.formula) handles += c != nullptr;
  for (const PEspece& s : ProcessState().species)
    for (const compilptr c : s.Formula) handles += c != nullptr;
  for (const PParam& p : ProcessState().parameters)
    for (const compilptr c : p.Equation) handles += c != nullptr;
  for (const PAjustable& a : ProcessState().adjustables) handles += a.Equation != nullptr;
  EXPECT_EQ(handles, 0);
}

// One cycle; the out-of-order calls woven in depend on the cycle number.
Results Cycle(const Kind& k, int cycle) {
  Host h(k.model);
  Results r;
  if (cycle % 4 == 0) {
    ExpectRefused(h, false, "before Calcul_initial");
    ExpectRefused(h, true, "before Calcul_initial");
  }
  if (k.file_missing) std::filesystem::remove(h.path);
  const int32_t raised = k.file_missing ? 1 : 0;
  h.fitset.Erreur = 0;  // set-up adds to what the host passes
  h.CalculInitial();
  if (cycle % 4 == 1) {  // a second set-up of the same model, without Fin in between
    EXPECT_EQ(h.fitset.Erreur, k.setup_erreur);
    h.fitset.Erreur = 0;
    h.CalculInitial();
  }
  EXPECT_EQ(Host::LastFailure(), raised);
  EXPECT_EQ(h.fitset.Erreur, k.setup_erreur);
  EXPECT_EQ(h.fitset.Done, kFalse);
  h.Simulate();
  EXPECT_EQ(h.fitset.Erreur, k.run_erreur);  // after a failed set-up: its sum again
  r.AddCall(h);
  for (int f = 0; f < k.fits; ++f) {
    h.Fit();
    EXPECT_EQ(h.fitset.Erreur, k.run_erreur);
    r.AddCall(h);
  }
  if (k.moves) {
    EXPECT_NE(h.adjustables.Value[0], k.model.adjustables[0].value);
  }
  h.Fin();
  EXPECT_EQ(Host::LastFailure(), raised);  // a missing file cannot be erased
  EXPECT_FALSE(h.FileExists());
  ExpectNothingLoaded();
  if (cycle % 4 == 2) {
    h.WriteFile();
    ExpectRefused(h, true, "after Fin");
    ExpectRefused(h, false, "after Fin");
  }
  if (cycle % 4 == 3) {  // a second Fin does nothing: the file the host wrote since stays
    h.WriteFile();
    h.Fin();
    EXPECT_EQ(Host::LastFailure(), 0);
    EXPECT_TRUE(h.FileExists());
  }
  return r;
}

TEST(LifecycleCycles, HundredCyclesWithCallsOutOfOrder) {
  int16_t mode = 0;
  ::Fin(&mode);  // whatever an earlier test left loaded
  const std::vector<Kind> kinds = Kinds();
  std::map<size_t, Results> first;
  for (int cycle = 0; cycle < 100; ++cycle) {
    const size_t i = static_cast<size_t>(cycle) % kinds.size();
    SCOPED_TRACE("cycle " + std::to_string(cycle) + ": " + kinds[i].what);
    const Results r = Cycle(kinds[i], cycle);
    const auto [it, added] = first.emplace(i, r);
    if (!added) {
      ASSERT_EQ(r.bytes, it->second.bytes) << "results differ from the first cycle";
    }
    if (::testing::Test::HasFailure()) break;
  }
}

}  // namespace
}  // namespace tarvo::testhost
