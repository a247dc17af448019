// The fixed-step engines "RUNGE-KUTTA 4" and "RUNGE-KUTTA 5": step polynomials, the
// accumulated time where a call stops, status codes and the start routine.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

#include "engines/rk_qc.h"
#include "engines/runge_kutta.h"
#include "support/engine_models.h"

namespace tarvo {
namespace {

using testing::DerivativeModel;
using testing::RunEngine;

double Rk4Factor(double z) { return 1 + z + z * z / 2 + z * z * z / 6 + z * z * z * z / 24; }
double RkfFactor(double z) { return Rk4Factor(z) + z * z * z * z * z / 104; }

// One step on dy/dt = lambda y multiplies y by the method's polynomial in z = lambda h.
TEST(FixedStep, OneStepMultipliesByTheAmplificationPolynomial) {
  struct Case {
    double lambda, h;
  };
  const Case cases[] = {{-1.0, 0.1}, {-3.0, 0.5}, {2.0, 0.25}, {-40.0, 0.1}, {0.5, 1.0}};
  for (const Case& c : cases) {
    DerivativeModel m;
    m.Coefficient(1, 1, c.lambda);
    const double z = c.lambda * c.h;
    SpeciesVector y{2.0};
    Step_rk4(m.Prepared(1), 1, c.h, 0.3, y);
    EXPECT_NEAR(y[0], 2.0 * Rk4Factor(z), 1e-14 * std::fabs(2.0 * Rk4Factor(z))) << "z=" << z;
    y = SpeciesVector{2.0};
    Step_rkf(m.Prepared(1), 1, c.h, 0.3, y);
    EXPECT_NEAR(y[0], 2.0 * RkfFactor(z), 1e-14 * std::fabs(2.0 * RkfFactor(z))) << "z=" << z;
  }
}

// Results must be reproducible bit for bit, so the steps combine their stages exactly as
// written: the classical weights over 6, and Fehlberg's coefficients over the common
// denominators 32, 2197, 4104 and 20520 (not the reduced fractions 439/216, 25/216, ...). One
// step of each on a model whose rates change from stage to stage must give these values.
TEST(FixedStep, StepsCombineTheStagesAsWritten) {
  struct Case {
    double h, t, y1, y2;
    double rk4[2], rkf[2];
  };
  // Stored from the stages recomputed one by one with Eval_rate_at and combined as written
  // above (printed with %a); the reduced-fraction form differed from them.
  const Case cases[] = {
      {0.1, 0.0, 1.0, 0.5,
       {0x1.f7290620553dep-1, 0x1.026150bd77cc1p-1}, {0x1.f729061583d04p-1, 0x1.02615128fc657p-1}},
      {0.37, 1.3, 0.2, 2.0,
       {0x1.d9426b59e8872p-1, 0x1.a2a781d639394p+0}, {0x1.d97eef3c15b0ep-1, 0x1.a350eb4e4f92bp+0}},
      {1.0, 0.25, 3.0, 0.1,
       {0x1.1d6889ca9af98p+0, -0x1.bbd989271b9cep+0}, {0x1.eb28194897787p+4, 0x1.33f583c66c91cp+5}},
      {0.013, 7.0, 0.9, 0.9,
       {0x1.f30a1ec59bc7fp-1, 0x1.c9e3f767a27d7p-1}, {0x1.f30a1ec6a5046p-1, 0x1.c9e3f768eadb1p-1}},
  };
  DerivativeModel m;
  testing::BuildCoupledModel(m);
  constexpr int n = 2;
  for (const Case& c : cases) {
    SpeciesVector rk4{c.y1, c.y2}, rkf{c.y1, c.y2};
    Step_rk4(m.Prepared(n), n, c.h, c.t, rk4);
    Step_rkf(m.Prepared(n), n, c.h, c.t, rkf);
    for (int i = 0; i < n; ++i) {
      EXPECT_EQ(rk4[i], c.rk4[i]) << "h=" << c.h << " i=" << i;
      EXPECT_EQ(rkf[i], c.rkf[i]) << "h=" << c.h << " i=" << i;
    }
  }
}

// Models of up to eight species take a step unrolled for their size: it must be the general
// step bit for bit, with constant coefficients, with formulas that read the time and species,
// and with a formula that reads a species beyond the model's count.
TEST(FixedStep, UnrolledStepsAreTheGeneralStep) {
  for (int kind = 0; kind < 3; ++kind) {
    for (int n = 1; n <= 9; ++n) {
      DerivativeModel m;
      for (int i = 1; i <= n; ++i) {
        for (int j = 1; j <= n; ++j)
          if ((i * 7 + j * 3) % 4 != 0) m.Coefficient(i, j, (i == j ? -1.3 : 0.37) / (i + j));
        m.FreeTerm(i, m.Formula({{Op_First, m.Constant(0.01 * i)}}));
      }
      if (kind >= 1)
        m.Coefficient(1, n, m.Formula({{Op_FirstNeg, m.Species(1)}, {Op_Mul, m.Time()}}));
      if (kind == 2) m.FreeTerm(n, m.Formula({{Op_First, m.Species(n + 1)}}));
      SpeciesVector y{}, general{};
      for (int k = 0; k < kMaxSpecies; ++k) y[k] = general[k] = 0.5 + 0.25 * k;
      RateTable& r = m.Prepared(n);
      Step_rk4(r, n, 0.37, 1.1, y);
      auto rate = [&r, n](double s, const SpeciesVector& z, SpeciesVector& f) {
        Rate_at(r, n, s, z, f);
      };
      Step_rk4_with(n, 0.37, 1.1, general, rate);
      for (int k = 0; k < kMaxSpecies; ++k)
        EXPECT_EQ(std::bit_cast<uint64_t>(y[k]), std::bit_cast<uint64_t>(general[k]))
            << "kind " << kind << " n " << n << " species " << k + 1;
    }
  }
}

// The call stops at the first accumulated time t0 + h + h + ... not below t1; the last step
// is never shortened. The last rate evaluation of a step is at its end time, so a formula
// that records the time it is evaluated at shows where the call stopped.
TEST(FixedStep, StopsAtTheFirstAccumulatedTimeNotBelowTheEnd) {
  struct Case {
    double t1, tol;
    int steps;
    double last_time;
  };
  const Case cases[] = {
      {1.0, 1e-4, 100, 1.0000000000000007},  // 100 additions of 0.01 overshoot by rounding
      {3.0, 1e-4, 101, 3.029999999999995},   // 100 additions of 0.03 fall short: a 101st step
      {1.0, 1.0, 1, 1.0},                    // one step of the whole interval
      {1.0, 4.0, 1, 2.0},                    // one step of twice the interval
  };
  constexpr double kLambda = -0.7;
  for (const Case& c : cases) {
    for (Engine_proc engine : {Engine_rk4, Engine_rk5}) {
      DerivativeModel m;
      const double* clock = m.TimedCoefficient(1, 1, kLambda);
      int16_t status = -1;
      const SpeciesVector y = RunEngine(m, engine, 1, 0.0, c.t1, c.tol, SpeciesVector{1.0}, status);
      EXPECT_EQ(status, 0);
      EXPECT_EQ(*clock, c.last_time) << "t1=" << c.t1 << " tol=" << c.tol;
      const double h = c.t1 * std::sqrt(c.tol);
      const double factor = engine == Engine_rk4 ? Rk4Factor(kLambda * h) : RkfFactor(kLambda * h);
      const double expected = std::pow(factor, c.steps);
      EXPECT_NEAR(y[0], expected, 1e-13) << "t1=" << c.t1 << " tol=" << c.tol;
    }
  }
}

TEST(FixedStep, ConstantRateAdvancesByTheStepTimesTheRate) {
  for (Engine_proc engine : {Engine_rk4, Engine_rk5}) {
    DerivativeModel m;
    m.FreeTerm(1, m.Formula({{Op_First, m.Constant(2.5)}}));
    m.FreeTerm(2, m.Formula({{Op_FirstNeg, m.Constant(0.5)}}));
    int16_t status = -1;
    const SpeciesVector y =
        RunEngine(m, engine, 2, 0.0, 2.0, 1e-4, SpeciesVector{1.0, 3.0}, status);
    EXPECT_EQ(status, 0);
    EXPECT_NEAR(y[0], 1.0 + 2.5 * 2.0, 1e-13);
    EXPECT_NEAR(y[1], 3.0 - 0.5 * 2.0, 1e-13);
  }
}

// Status codes of the Runge-Kutta engines; with a status the species come back unchanged.
TEST(RungeKuttaStatus, InvalidCallsTakeNoStep) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    Engine_proc engine;
    double t0, t1, tol;
    int16_t status;
  };
  const Case cases[] = {
      {Engine_rk4, 0, 1, 0.0, 1},     {Engine_rk4, 0, 1, -1e-4, 1},
      {Engine_rk4, 0, 1, nan, 1},     {Engine_rk4, 1, 1, 1e-4, 3},
      {Engine_rk4, 2, 1, 1e-4, 3},    {Engine_rk4, 1, 1, 0.0, 3},
      {Engine_rk4, nan, 1, 1e-4, 3},  {Engine_rk5, 0, 1, 0.0, 1},
      {Engine_rk5, 0.5, 0.5, 1e-4, 3}, {Engine_rk_qc, 0, 1, 1e-130, 1},
      {Engine_rk_qc, 0, 1, 1e-131, 1}, {Engine_rk_qc, 0, 1, 0.0, 1},
      {Engine_rk_qc, 1, 0, 1e-4, 3},   {Engine_rk_qc, 1, 1, 1e-131, 3},
  };
  for (const Case& c : cases) {
    DerivativeModel m;
    const double* count = m.CountedCoefficient(1, 1, -1.0);
    SpeciesVector y{0.75, 0.25};
    const SpeciesVector before = y;
    int16_t status = -1;
    c.engine(m.rates, 2, c.t0, c.t1, c.tol, y.data(), y.data(), status);
    EXPECT_EQ(status, c.status) << "t0=" << c.t0 << " t1=" << c.t1 << " tol=" << c.tol;
    EXPECT_EQ(y, before);
    EXPECT_EQ(*count, 0.0) << "no rate was evaluated";
  }
}

// A step too small to move the time would repeat forever: the engine stops where it is and
// reports 2, with the state at the time reached (here the start).
TEST(RungeKuttaStatus, StepThatCannotMoveTheTimeStopsTheCall) {
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    Engine_proc engine;
    double t0, t1, tol;
  };
  const Case cases[] = {{Engine_rk4, 1e6, 1e6 + 1, 1e-40},
                        {Engine_rk5, 1e6, 1e6 + 1, 1e-40},
                        {Engine_rk_qc, 1e6, 1e6 + 1, 1e-40},
                        {Engine_rk4, 0.0, inf, 1e-4},
                        {Engine_rk_qc, 0.0, 1.0, inf}};
  for (const Case& c : cases) {
    DerivativeModel m;
    m.Coefficient(1, 1, -1.0);
    SpeciesVector y{1.0};
    int16_t status = -1;
    c.engine(m.rates, 1, c.t0, c.t1, c.tol, y.data(), y.data(), status);
    EXPECT_EQ(status, 2) << "t1=" << c.t1 << " tol=" << c.tol;
    EXPECT_EQ(y[0], 1.0);
  }
}

TEST(EngineStart, FirstStepIsTheIntervalTimesTheRootOfTheTolerance) {
  const SpeciesVector y_in{1.0, 2.0};
  int16_t status = -1;
  double t = -1, h = -1;
  SpeciesVector y{};
  Engine_start(0.0, 1.0, 1e-4, kStepDoublingFloor, y_in.data(), status, t, h, y);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(t, 0.0);
  EXPECT_EQ(h, 0.01);
  EXPECT_EQ(y, y_in);
  h = -1;
  Engine_start(2.0, 5.0, 0.0, kFixedStepFloor, y_in.data(), status, t, h, y);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(t, 2.0);
  EXPECT_EQ(h, -1) << "no step size with a status";
}

}  // namespace
}  // namespace tarvo
