// The four engines against closed-form solutions: first-order decay, consecutive first-order
// reactions A -> B -> C and a second-order 2A -> P written as free terms, each at tolerances
// 1e-4, 1e-6 and 1e-8. The error must fall with the tolerance as each method should.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>

#include "engines/chu_berman.h"
#include "engines/rk_qc.h"
#include "engines/runge_kutta.h"
#include "support/engine_models.h"

namespace tarvo {
namespace {

using testing::DerivativeModel;
using testing::RunEngine;

// [0, 1.8] is covered exactly by 100, 1000 and 10000 accumulated fixed steps, so the
// fixed-step engines end on t1 up to rounding instead of a step past it.
constexpr double kT0 = 0.0;
constexpr double kT1 = 1.8;
constexpr double kTolerances[3] = {1e-4, 1e-6, 1e-8};

struct Model {
  const char* name;
  int32_t n;
  SpeciesVector y0;
  std::function<void(DerivativeModel&)> build;
  std::function<SpeciesVector(double)> exact;
};

constexpr double kDecayRate = 4.0;
constexpr double kK1 = 3.0, kK2 = 1.5;
constexpr double kSecondOrder = 2.0;  // d[A]/dt = -2 k [A]^2, d[P]/dt = k [A]^2

const Model kModels[] = {
    {"decay", 1, {1.0},
     [](DerivativeModel& m) { m.Coefficient(1, 1, -kDecayRate); },
     [](double t) { return SpeciesVector{std::exp(-kDecayRate * t)}; }},
    {"A->B->C", 3, {1.0, 0.0, 0.0},
     [](DerivativeModel& m) {
       m.Coefficient(1, 1, -kK1);
       m.Coefficient(2, 1, kK1);
       m.Coefficient(2, 2, -kK2);
       m.Coefficient(3, 2, kK2);
     },
     [](double t) {
       const double a = std::exp(-kK1 * t);
       const double b = kK1 / (kK2 - kK1) * (std::exp(-kK1 * t) - std::exp(-kK2 * t));
       return SpeciesVector{a, b, 1.0 - a - b};
     }},
    {"2A->P", 2, {1.0, 0.0},
     [](DerivativeModel& m) {
       m.FreeTerm(1, m.Formula({{Op_FirstNeg, m.Constant(2 * kSecondOrder)},
                                {Op_Mul, m.Species(1)},
                                {Op_Mul, m.Species(1)}}));
       m.FreeTerm(2, m.Formula({{Op_First, m.Constant(kSecondOrder)},
                                {Op_Mul, m.Species(1)},
                                {Op_Mul, m.Species(1)}}));
     },
     [](double t) {
       const double a = 1.0 / (1.0 + 2 * kSecondOrder * t);
       return SpeciesVector{a, (1.0 - a) / 2};
     }},
};

struct EngineCase {
  const char* name;
  Engine_proc engine;
};
const EngineCase kEngines[] = {{"RUNGE-KUTTA 4", Engine_rk4},
                               {"RUNGE-KUTTA 5", Engine_rk5},
                               {"RUNGE-KUTTA QC", Engine_rk_qc},
                               {"CHU-BERMAN", Engine_chu_berman}};

double MaxError(const Model& model, Engine_proc engine, double tol) {
  DerivativeModel m;
  model.build(m);
  int16_t status = -1;
  const SpeciesVector y = RunEngine(m, engine, model.n, kT0, kT1, tol, model.y0, status);
  EXPECT_EQ(status, 0);
  const SpeciesVector exact = model.exact(kT1);
  double err = 0.0;
  for (int i = 0; i < model.n; ++i) err = std::fmax(err, std::fabs(y[i] - exact[i]));
  return err;
}

// How much the error must fall from one tolerance to the next (a factor 100 smaller), and
// the rounding level below which a fall is no longer required.
struct Order {
  double low, high, rounding;
  double bound;  // the error stays below bound * tol over the table
};
// Fixed steps: h ~ sqrt(tol), fourth-order error ~ h^4 = tol^2: about 1e4 per factor 100.
// QC: the step follows errmax^(-1/5) ~ tol^(1/5), the fourth-order global error ~ tol^(4/5):
// about 40. CHU-BERMAN: the step follows the third-order correction, h^3 ~ tol, and the global
// error ~ h^2 = tol^(2/3): about 20, and so above tol itself at small tolerances.
Order OrderOf(Engine_proc engine) {
  if (engine == Engine_rk_qc) return {15, 100, 1e-15, 1.0};
  if (engine == Engine_chu_berman) return {8, 50, 1e-15, 50.0};
  return {3e3, 3e4, 5e-15, 1.0};
}

TEST(EngineAccuracy, ErrorFallsWithTheTolerance) {
  std::printf("%-8s %-15s %10s %10s %10s\n", "model", "engine", "1e-4", "1e-6", "1e-8");
  for (const Model& model : kModels) {
    for (const EngineCase& e : kEngines) {
      double err[3];
      for (int k = 0; k < 3; ++k) err[k] = MaxError(model, e.engine, kTolerances[k]);
      std::printf("%-8s %-15s %10.3e %10.3e %10.3e\n", model.name, e.name, err[0], err[1],
                  err[2]);
      const Order order = OrderOf(e.engine);
      for (int k = 0; k < 3; ++k)
        EXPECT_LT(err[k], order.bound * kTolerances[k]) << model.name << " " << e.name << " tol " << k;
      for (int k = 1; k < 3; ++k) {
        // Once the order predicts less than rounding, rounding is all that is left.
        if (err[k - 1] / order.low < order.rounding) {
          EXPECT_LT(err[k], order.rounding) << model.name << " " << e.name << " tol " << k;
          continue;
        }
        const double fall = err[k - 1] / err[k];
        EXPECT_GT(fall, order.low) << model.name << " " << e.name << " tol " << k;
        EXPECT_LT(fall, order.high) << model.name << " " << e.name << " tol " << k;
      }
    }
  }
}

// The interval is covered exactly by the fixed steps at every tolerance of the table.
TEST(EngineAccuracy, FixedStepsEndOnTheInterval) {
  for (double tol : kTolerances) {
    DerivativeModel m;
    const double* clock = m.TimedCoefficient(1, 1, -1.0);
    int16_t status = -1;
    RunEngine(m, Engine_rk4, 1, kT0, kT1, tol, SpeciesVector{1.0}, status);
    EXPECT_NEAR(*clock, kT1, 1e-12) << tol;
  }
}

// Called as the simulation calls it (the live species-value vector as input and output), an
// engine gives exactly what it gives on distinct vectors, and leaves the time variable alone.
TEST(EngineCalls, SameVectorInAndOutGivesTheSameResult) {
  const Model& model = kModels[1];
  for (const EngineCase& e : kEngines) {
    DerivativeModel m;
    model.build(m);
    int16_t status_apart = -1, status_same = -1;
    const SpeciesVector apart =
        RunEngine(m, e.engine, model.n, 0.2, 0.9, 1e-6, model.y0, status_apart);
    for (int k = 0; k < kMaxSpecies; ++k) m.cells.species[k] = model.y0[k];
    m.cells.time = 0.2;
    e.engine(m.rates, model.n, 0.2, 0.9, 1e-6, m.cells.species, m.cells.species, status_same);
    EXPECT_EQ(status_same, status_apart) << e.name;
    for (int k = 0; k < kMaxSpecies; ++k) EXPECT_EQ(m.cells.species[k], apart[k]) << e.name;
    EXPECT_EQ(m.cells.time, 0.2) << e.name;
  }
}

// Only M y + b matters to the Runge-Kutta engines: A -> B -> C written whole as free terms
// gives the split model's values up to rounding.
TEST(EngineCalls, RungeKuttaSeesOnlyTheSumOfTheSplit) {
  const Model& split = kModels[1];
  auto whole = [](DerivativeModel& m) {
    m.FreeTerm(1, m.Formula({{Op_FirstNeg, m.Constant(kK1)}, {Op_Mul, m.Species(1)}}));
    m.FreeTerm(2, m.Formula({{Op_First, m.Constant(kK1)},
                             {Op_Mul, m.Species(1)},
                             {Op_Sub, m.Constant(kK2)},
                             {Op_Mul, m.Species(2)}}));
    m.FreeTerm(3, m.Formula({{Op_First, m.Constant(kK2)}, {Op_Mul, m.Species(2)}}));
  };
  for (const EngineCase& e : kEngines) {
    if (e.engine == Engine_chu_berman) continue;  // it uses M itself
    SpeciesVector a, b;
    int16_t status = -1;
    {
      DerivativeModel m;
      split.build(m);
      a = RunEngine(m, e.engine, 3, 0.0, 1.0, 1e-6, split.y0, status);
    }
    {
      DerivativeModel m;
      whole(m);
      b = RunEngine(m, e.engine, 3, 0.0, 1.0, 1e-6, split.y0, status);
    }
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(a[i], b[i], 1e-13) << e.name << " species " << i;
  }
}

}  // namespace
}  // namespace tarvo
