// What no host input may do: freeze a simulation, report values outside the finite numbers as
// a success, carry state from an earlier walk or model into a new one, or leave a model usable
// after a set-up that failed.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "engines/engine.h"
#include "library/erreur_codes.h"
#include "platform/failure.h"
#include "support/host.h"
#include "support/library_models.h"

namespace tarvo::testhost {
namespace {

// y' = P1 * y from y = 1, output y, one replicate of 1 per point; P1 is the free adjustable k.
Model Growth(double k, const std::vector<double>& times) {
  Model m;
  m.species = {"y"};
  m.species_start = {{"1"}};
  m.parameters = {"r"};
  m.parameter_eqs = {{"A1"}};
  m.adjustables = {{"k", k, "", true}};
  m.rates = {{1, 1, "P1"}};
  m.outputs = {"F1"};
  for (double t : times) m.points.push_back({1, t, {{std::exp(t)}}, {}});
  return m;
}

// Tolerances that ask for about 1e15 steps per gap end at the step budget, in every engine
// that could otherwise take them, and the call comes back.
TEST(Hardening, StepBudgetEndsTheCall) {
  for (const char* method : {"RUNGE-KUTTA 4", "RUNGE-KUTTA 5"}) {
    SCOPED_TRACE(method);
    Model m = Growth(0.5, {0, 1});
    m.method = method;
    m.tolerance = 1e-30;
    Host h(m);
    h.CalculInitial();
    ASSERT_EQ(h.fitset.Erreur, 0);
    h.Simulate();
    EXPECT_EQ(h.fitset.Erreur, kStatusStepBudget);
    const auto file = h.ReadFile();
    ASSERT_EQ(file.size(), 2u);
    EXPECT_EQ(file[1].YCalc[0], kStatusStepBudget);
    h.Fin();
  }
}

TEST(Hardening, NonFiniteSimulationIsNeverASuccess) {
  // y' = 200 y up to t = 4 overflows: exp(800).
  Host h(Growth(200, {0, 1, 2, 3, 4}));
  h.CalculInitial();
  ASSERT_EQ(h.fitset.Erreur, 0);
  h.adjustables.Value[0] = 123;  // the host's copy must stay as it is
  h.Simulate();
  EXPECT_EQ(h.fitset.Erreur, kErreurNonFinite);
  EXPECT_EQ(h.adjustables.Value[0], 123);
  // The file keeps the values, so the host can see where they left the finite numbers.
  const auto file = h.ReadFile();
  EXPECT_TRUE(std::isfinite(file[1].YCalc[0]));
  EXPECT_FALSE(std::isfinite(file[4].YCalc[0]));
  for (int call = 0; call < 3; ++call) {
    h.fitset.Erreur = 0;
    h.Fit();
    EXPECT_GE(h.fitset.Erreur, kErreurNonFinite);
    EXPECT_EQ(h.fitset.Done, 0);
    EXPECT_TRUE(std::isfinite(h.adjustables.Value[0]));
  }
  h.Fin();
}

// A fit whose first step would lead out of the finite numbers keeps its adjustables.
TEST(Hardening, FitNeverStepsIntoNonFiniteValues) {
  // The data want k near 170, where exp(170 * 4) overflows; the start at 100 is finite.
  Model m = Growth(100, {0, 1, 2, 3, 4});
  for (size_t j = 0; j < m.points.size(); ++j) m.points[j].replicates = {{std::exp(170.0 * j)}};
  m.points.back().replicates = {{1e300}};
  Host h(m);
  h.CalculInitial();
  ASSERT_EQ(h.fitset.Erreur, 0);
  h.Simulate();
  ASSERT_EQ(h.fitset.Erreur, 0);
  for (int call = 0; call < 20 && h.fitset.Erreur == 0 && h.fitset.Done == 0; ++call) {
    h.Fit();
    EXPECT_TRUE(std::isfinite(h.adjustables.Value[0]));
    EXPECT_LT(h.adjustables.Value[0] * 4, 709.8);  // exp of it stays finite
  }
  h.Fin();
}

// Each walk starts from cleared species and parameter cells: a start formula that reads a
// species declared after it reads 0, on the first simulation and on every later one alike.
TEST(Hardening, WalksAndModelsStartFromClearedCells) {
  Model m;
  m.species = {"A", "B"};
  m.species_start = {{"F2+1"}, {"5"}};
  m.outputs = {"F1", "P1+10"};
  m.parameters = {"p"};
  m.parameter_eqs = {{""}};
  for (double t : {0.0, 1.0}) m.points.push_back({1, t, {{1.0}, {10.0}}, {}});
  Host h(m);
  h.CalculInitial();
  ASSERT_EQ(h.fitset.Erreur, 0);
  for (int run = 0; run < 3; ++run) {
    h.Simulate();
    const auto file = h.ReadFile();
    EXPECT_EQ(file[0].YCalc[0], 1.0) << "run " << run;
    EXPECT_EQ(file[0].YCalc[1], 10.0) << "run " << run;
  }
  h.Fin();

  // A parameter left at 7 by one model reads 0 in the next, which gives it no equation.
  Model first = m;
  first.parameter_eqs = {{"7"}};
  Host a(first);
  a.CalculInitial();
  a.Simulate();
  EXPECT_EQ(a.ReadFile()[0].YCalc[1], 17.0);
  a.Fin();
  Host b(m);
  b.CalculInitial();
  b.Simulate();
  EXPECT_EQ(b.ReadFile()[0].YCalc[1], 10.0);
  b.Fin();
}

// Intervals 1, 2, 1, 2: the walk would stop at the decrease and never simulate points 3 and 4.
TEST(Hardening, DecreasingIntervalsAreRefused) {
  Host h(RampModel({1, 2, 1, 2}, {0, 1, 2, 3}, {"0", "F1"}, {"1", "1"}));
  h.CalculInitial();
  EXPECT_EQ(h.fitset.Erreur, kErreurIntervalOrder);
  std::string message;
  EXPECT_EQ(Host::LastFailure(&message), static_cast<int32_t>(FailureKind::Refused));
  EXPECT_NE(message.find("point 3: Interval = 1 follows Interval = 2 of point 2"),
            std::string::npos)
      << message;
  h.fitset.Erreur = 0;
  h.Simulate();
  EXPECT_EQ(h.fitset.Erreur, kErreurIntervalOrder);
  h.Fin();
}

// A set-up that raises leaves no usable model, even where a good one was loaded before; Fin
// still releases it and erases its file.
TEST(Hardening, RaisedSetUpLeavesNoModel) {
  Host h(Growth(0.5, {0, 1, 2}));
  h.CalculInitial();
  h.Simulate();
  ASSERT_EQ(h.fitset.Erreur, 0);
  Calcul_initial(&h.initials, &h.fitset, nullptr, &h.adjustables, h.parametres.data(),
                 &h.sorties, h.derivees.data());
  EXPECT_EQ(Host::LastFailure(), static_cast<int32_t>(FailureKind::InvalidOperation));
  for (auto call : {&Host::Simulate, &Host::Fit}) {
    h.fitset.Erreur = 0;
    (h.*call)();
    EXPECT_EQ(h.fitset.Erreur, kErreurNoModel);
  }
  h.Fin();
  EXPECT_FALSE(h.FileExists());
}

}  // namespace
}  // namespace tarvo::testhost
