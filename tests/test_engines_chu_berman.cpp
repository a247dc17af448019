// "CHU-BERMAN": exponential integrals, the exact exponential per step of a linear decay (stiff
// ones included), the step sequence, step collapse and the statuses of invalid calls.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "engines/chu_berman.h"
#include "support/engine_models.h"

namespace tarvo {
namespace {

using testing::DerivativeModel;
using testing::RunEngine;

StepStart StartAt(DerivativeModel& m, int32_t n, double t, const SpeciesVector& y) {
  StepStart s;
  Eval_rate_at(m.rates, n, t, y, s.b0, s.M0, s.f0);
  Mat_vec(n, s.M0, s.f0, s.g0);
  return s;
}

TEST(PhiIntegrals, ExponentialOrSeriesValues) {
  struct Case {
    double lambda, h;
    bool series;
  };
  const Case cases[] = {{-2.0, 0.5, false}, {3.0, 0.1, false}, {-1e6, 1e-4, false},
                        {5e-8, 1.0, true},  {-2.0, 1e-8, true}, {0.0, 0.3, true}};
  for (const Case& c : cases) {
    SpeciesMatrix M0{};
    M0[0] = c.lambda;
    SpeciesVector p1, p2, p3;
    Phi_integrals(1, c.h, M0, p1, p2, p3);
    if (c.series) {
      EXPECT_EQ(p2[0], c.h * c.h / 2);
      EXPECT_EQ(p3[0], c.h * c.h / 2 * c.h / 3);
    } else {
      // p2 = (e^z - 1 - z) / lambda^2, p3 = (e^z - 1 - z - z^2/2) / lambda^3, z = lambda h.
      const double z = c.lambda * c.h;
      const double e2 = std::expm1(z) - z;
      EXPECT_NEAR(p2[0], e2 / (c.lambda * c.lambda), 1e-12 * std::fabs(p2[0]));
      EXPECT_NEAR(p3[0], (e2 - z * z / 2) / (c.lambda * c.lambda * c.lambda),
                  1e-9 * std::fabs(p3[0]) + 1e-30);
    }
  }
}

// A species obeying dy/dt = lambda y is advanced by exp(lambda h) in one attempt and adds
// nothing to the error sum, however stiff: with lambda = -1e6 and h = 1e-4 (z = -100) the value
// falls to the rounding level of the start value.
TEST(ChuBermanAttempt, LinearDecayAdvancesByTheExponential) {
  struct Case {
    double lambda, h;
  };
  const Case cases[] = {{-1.0, 0.1}, {-3.0, 0.5}, {2.0, 0.2}, {-50.0, 0.3}, {-1e6, 1e-4}};
  for (const Case& c : cases) {
    DerivativeModel m;
    m.Coefficient(1, 1, c.lambda);
    const SpeciesVector y{2.0};
    SpeciesVector y_new;
    const double errsum =
        Attempt_chu_berman(m.Prepared(1), 1, 0.0, c.h, y, StartAt(m, 1, 0.0, y), y_new);
    EXPECT_EQ(errsum, 0.0);
    const double z = c.lambda * c.h;
    EXPECT_NEAR(y_new[0], 2.0 * std::exp(z), 1e-13 * std::fmax(1.0, std::fabs(z)))
        << "lambda=" << c.lambda;
  }
  // Below the series switch the step is exactly y (1 + z + z^2/2).
  DerivativeModel m;
  m.Coefficient(1, 1, -0.5);
  const SpeciesVector y{1.0};
  SpeciesVector y_new;
  const double h = 1e-8, z = -0.5 * h;
  Attempt_chu_berman(m.Prepared(1), 1, 0.0, h, y, StartAt(m, 1, 0.0, y), y_new);
  EXPECT_EQ(y_new[0], (1.0 + h * (-0.5)) + h * h / 2 * 0.25);
  EXPECT_NEAR(y_new[0], 1 + z + z * z / 2, 1e-16);
}

// Species 1 converts into species 2: species 1 still moves by its exponential, species 2
// (lambda = 0) carries the whole correction, so the error sum is not zero.
TEST(ChuBermanAttempt, ConversionCorrectionFallsOnTheProduct) {
  DerivativeModel m;
  constexpr double k = 2.0, h = 0.05;
  m.Coefficient(1, 1, -k);
  m.Coefficient(2, 1, k);
  const SpeciesVector y{1.0, 0.0};
  SpeciesVector y_new;
  const double errsum =
      Attempt_chu_berman(m.Prepared(2), 2, 0.0, h, y, StartAt(m, 2, 0.0, y), y_new);
  EXPECT_NEAR(y_new[0], std::exp(-k * h), 1e-15);
  // The coupling correction brings species 2 to within the third-order term of the exact value.
  EXPECT_NEAR(y_new[1], 1.0 - std::exp(-k * h), std::pow(k * h, 3) / 6);
  EXPECT_NE(y_new[1], (0.0 + h * k) - h * h / 2 * k * k) << "the correction was applied";
  EXPECT_GT(errsum, 0.0);
}

// An attempt combines its terms exactly as written, so that results are reproducible bit for
// bit: D = p2 (g0 + r1 / delta), y_n = (y + h f0) + D, E = r2 - r1 / 0.1 + M0 D - M0_ii D_i,
// y_new = y_n + p3 E / (h h), and the error sum of |h E / y_new| in species order. On a model
// whose coefficients move with the state every term counts, and an attempt must give these.
TEST(ChuBermanAttempt, TermsCombineAsWritten) {
  struct Case {
    double h, t, y1, y2;
    double errsum, y_new[2];
  };
  // Stored from the terms recomputed one by one with Phi_integrals, Residual and Mat_vec and
  // combined as written above (printed with %a); summing E as (r2 + M0 D) - (r1 / 0.1 +
  // M0_ii D_i) instead differed from them.
  const Case cases[] = {
      {0.1, 0.0, 1.0, 0.5, 0x1.1220069fdeb0cp-13, {0x1.f72747cd56056p-1, 0x1.0260d4e8b2c3ep-1}},
      {0.37, 1.3, 0.2, 2.0, 0x1.fa70db6ee8e2dp-3, {0x1.dcde940524df3p-1, 0x1.999688397f64cp+0}},
      {1.0, 0.25, 3.0, 0.1, 0x1.751a333756ceap+1, {0x1.a43bc6c579818p+0, 0x1.0ed8ea0a05f42p-1}},
      {0.013, 7.0, 0.9, 0.9, 0x1.742c9ecadb459p-16, {0x1.f30a5b671acd9p-1, 0x1.c9e3c3c5070c2p-1}},
  };
  constexpr int n = 2;
  DerivativeModel m;
  testing::BuildCoupledModel(m);
  for (const Case& c : cases) {
    const SpeciesVector y{c.y1, c.y2};
    SpeciesVector y_new;
    EXPECT_EQ(Attempt_chu_berman(m.Prepared(n), n, c.t, c.h, y, StartAt(m, n, c.t, y), y_new),
              c.errsum)
        << "h=" << c.h;
    for (int i = 0; i < n; ++i) EXPECT_EQ(y_new[i], c.y_new[i]) << "h=" << c.h << " i=" << i;
  }
}

TEST(ChuBermanAttempt, ConstantFreeTermIsOneExactStep) {
  DerivativeModel m;
  m.FreeTerm(1, m.Formula({{Op_First, m.Constant(0.3)}}));
  const SpeciesVector y{1.5};
  SpeciesVector y_new;
  EXPECT_EQ(Attempt_chu_berman(m.Prepared(1), 1, 0.0, 0.25, y, StartAt(m, 1, 0.0, y), y_new), 0.0);
  EXPECT_EQ(y_new[0], 1.5 + 0.25 * 0.3);
}

// With no error the first attempt is (t1 - t0) tol and every next one twice the last:
// 1e-4 * 2^k until t = 0.8191 after 13 steps, then the 14th is shortened to land on 1.
// Each step costs one rate evaluation at its start and two residuals: 3 evaluations per step,
// so any halving would show in the count. The stiff decay needs no halving either.
TEST(ChuBermanEngine, LinearDecayDoublesTheStepWithoutHalving) {
  for (double lambda : {-1.0, -1e6}) {
    DerivativeModel m;
    const double* count = m.CountedCoefficient(1, 1, lambda);
    int16_t status = -1;
    const SpeciesVector y =
        RunEngine(m, Engine_chu_berman, 1, 0.0, 1.0, 1e-4, SpeciesVector{1.0}, status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(*count, 14 * 3) << "lambda=" << lambda;
    if (lambda == -1.0)
      EXPECT_NEAR(y[0], std::exp(-1.0), 1e-15);
    else
      EXPECT_LT(std::fabs(y[0]), 1e-13);
  }
}

// dy/dt = c sqrt(t) from t = 0 is self-similar: the relative correction of an attempt is the
// same (about 1.8) for every step size, so halving never succeeds and the step collapses
// below 1e-130 (c = 1e200 keeps the new value above the 1e-130 threshold of the error sum
// down to there): the tiny attempt is taken and the call stops with status 1 + 1.
TEST(ChuBermanEngine, CollapsedStepStopsWithStatusTwo) {
  DerivativeModel m;
  compilptr root = m.Formula({{Op_Load, m.Time()},
                              {Op_Pow, m.Constant(0.5)},
                              {Op_First, nullptr},
                              {Op_Mul, m.Constant(1e200)}});
  root->donnee[2].cell = &root->function_value;  // the power's result
  m.FreeTerm(1, root);
  const double* clock = m.TimedCoefficient(2, 2, 0.0);
  int16_t status = -1;
  const SpeciesVector y =
      RunEngine(m, Engine_chu_berman, 2, 0.0, 1.0, 1e-4, SpeciesVector{0.0, 0.0}, status);
  EXPECT_EQ(status, 2);
  EXPECT_GT(*clock, 0.0);
  EXPECT_LT(*clock, 1e-130);
  // The state at the time reached h < 1e-130: about 1.22 c h^1.5.
  EXPECT_GT(y[0], 0.0);
  EXPECT_LT(y[0], 1.3e200 * std::pow(1e-130, 1.5));
}

TEST(ChuBermanEngine, InvalidCallsAndStalledStepsLeaveTheState) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    double t0, t1, tol;
    int16_t status;
  };
  const Case cases[] = {
      {0, 1, 0.0, 1},   {0, 1, -1.0, 1},   {0, 1, nan, 1},
      {1, 1, 1e-4, 3},  {2, 1, 1e-4, 3},   {1, 1, 0.0, 3},   {nan, 1, 1e-4, 3},
      {1e6, 1e6 + 1, 1e-30, 2},  // the first step cannot move the time
      {0, inf, 1e-4, 2},         // no finite step
      {0, 1, inf, 2},
  };
  for (const Case& c : cases) {
    DerivativeModel m;
    m.Coefficient(1, 1, -1.0);
    SpeciesVector y{0.75};
    int16_t status = -1;
    Engine_chu_berman(m.rates, 1, c.t0, c.t1, c.tol, y.data(), y.data(), status);
    EXPECT_EQ(status, c.status) << "t0=" << c.t0 << " t1=" << c.t1 << " tol=" << c.tol;
    EXPECT_EQ(y[0], 0.75);
    // Distinct vectors: the unchanged state is copied out.
    SpeciesVector out{};
    Engine_chu_berman(m.rates, 1, c.t0, c.t1, c.tol, y.data(), out.data(), status);
    EXPECT_EQ(out[0], 0.75);
  }
}

}  // namespace
}  // namespace tarvo
