// "RUNGE-KUTTA QC": the step-size rules, the step sequence of an error-free rate, the step
// limit and the retry after a severe failure.
#include <gtest/gtest.h>

#include <cmath>

#include "engines/rk_qc.h"
#include "engines/runge_kutta.h"
#include "support/engine_models.h"

namespace tarvo {
namespace {

using testing::DerivativeModel;
using testing::RunEngine;

TEST(RkQcStepUpdate, FollowsTheErrorRules) {
  struct Case {
    double errmax;
    bool accepted;
    double h;  // next step (or retry) for an attempt of size 1
  };
  const Case cases[] = {
      {0.0, true, 4.0},                                  // error-free: four times larger
      {0.0006, true, 4.0},                               // at the threshold: still four times
      {0.5, true, 0.9 * std::pow(0.5, -0.2)},            // grows by 0.9 errmax^(-1/5)
      {1.0, true, 0.9},                                  // exactly 1 is accepted
      {2.0, true, 0.1},                                  // accepted, error and all; a tenth
      {6000.0, true, 0.1},                               // still above 0.1 h
      {7000.0, false, 0.9 * std::pow(7000.0, -0.25)},    // severe: retried with the smaller step
      {1e12, false, 0.9 * std::pow(1e12, -0.25)},
  };
  for (const Case& c : cases) {
    double h = 1.0;
    EXPECT_EQ(Update_step_rk_qc(c.errmax, h), c.accepted) << "errmax=" << c.errmax;
    EXPECT_NEAR(h, c.h, 1e-15) << "errmax=" << c.errmax;
  }
}

TEST(RkQcAttempt, ErrorIgnoresSpeciesAtZero) {
  DerivativeModel m;
  m.Coefficient(1, 1, -2.0);
  m.Coefficient(2, 2, -2.0);
  RkQcFrame f{};
  double t = 0.0;
  EXPECT_EQ(Attempt_rk_qc(m.Prepared(2), 2, 0.5, 1e-4, t, f), 0.0) << "all species at zero";
  EXPECT_EQ(t, 0.5);
  f.y = f.y_half = f.y_full = SpeciesVector{1.0, 0.0};
  t = 0.0;
  const double errmax = Attempt_rk_qc(m.Prepared(2), 2, 0.5, 1e-4, t, f);
  EXPECT_GT(errmax, 0.0);
  EXPECT_NEAR(errmax, std::fabs(f.d[0] / f.y_full[0]) / 1e-4, 1e-9);
}

// An accepted attempt keeps the two half steps less 0.06666666666666 times the difference
// (subtracted, and the decimal, not 1/15). With tol = 1 on [0, 1] the first attempt covers
// the whole interval ((0 + 0.5) - 0.5) + 1 = 1 exactly, so the call returns that combination.
TEST(RkQcEngine, AcceptedAttemptSubtractsTheDecimalFraction) {
  struct Case {
    double y1, y2;
  };
  const Case cases[] = {{1.0, 0.5}, {0.2, 2.0}, {3.0, 0.1}, {0.9, 0.9}};
  int fifteenth_differs = 0;
  for (const Case& c : cases) {
    DerivativeModel m;
    testing::BuildCoupledModel(m);
    const SpeciesVector y0{c.y1, c.y2};
    RkQcFrame f{};
    f.y = f.y_half = f.y_full = y0;
    double t = 0.0;
    const double errmax = Attempt_rk_qc(m.Prepared(2), 2, 1.0, 1.0, t, f);
    ASSERT_LE(errmax, 6561.0) << "the attempt must be accepted";
    ASSERT_EQ(t, 1.0);
    int16_t status = -1;
    const SpeciesVector y = RunEngine(m, Engine_rk_qc, 2, 0.0, 1.0, 1.0, y0, status);
    EXPECT_EQ(status, 0);
    for (int i = 0; i < 2; ++i) {
      EXPECT_NE(f.d[i], 0.0) << "the half and full steps must differ";
      EXPECT_EQ(y[i], f.y_two[i] - f.d[i] * 0.06666666666666) << "y1=" << c.y1 << " i=" << i;
      if (y[i] != f.y_two[i] - f.d[i] / 15) ++fifteenth_differs;
    }
  }
  EXPECT_GT(fifteenth_differs, 0);
}

// A constant rate gives no difference between the full and the half steps, so each step is
// four times the last: 0.01, 0.04, 0.16, 0.64, then 0.15 to land on 1. Five attempts of
// twelve rate evaluations each.
TEST(RkQcEngine, ErrorFreeRateQuadruplesTheStepUntilTheEnd) {
  DerivativeModel m;
  const double* count = m.CountedCoefficient(1, 1, 0.0);
  m.FreeTerm(1, m.Formula({{Op_First, m.Constant(3.0)}}));
  int16_t status = -1;
  const SpeciesVector y = RunEngine(m, Engine_rk_qc, 1, 0.0, 1.0, 1e-4, SpeciesVector{1.0}, status);
  EXPECT_EQ(status, 0);
  EXPECT_NEAR(y[0], 4.0, 1e-14);
  EXPECT_EQ(*count, 5 * 12);
}

// With tol = 0.01 the engine stops after 101 steps: an oscillation far too fast for that many
// steps leaves it short of t1 with status 2 and the state at the time reached. At omega = 10
// no attempt needs a retry (the first, with omega h = 10, has an error near 100 and is kept),
// so exactly 101 attempts of twelve rate evaluations are made.
TEST(RkQcEngine, StepLimitReportsStatusTwo) {
  for (double omega : {10.0, 100.0}) {
    DerivativeModel m;
    m.Coefficient(1, 2, omega);
    m.Coefficient(2, 1, -omega);
    const double* clock = m.TimedCoefficient(3, 3, 0.0);
    const double* count = m.CountedCoefficient(3, 1, 0.0);
    int16_t status = -1;
    const SpeciesVector y =
        RunEngine(m, Engine_rk_qc, 3, 0.0, 10.0, 0.01, SpeciesVector{1.0, 0.0, 0.0}, status);
    EXPECT_EQ(status, 2);
    EXPECT_LT(*clock, 10.0 - 0.01);
    if (omega == 10.0) {
      EXPECT_EQ(*count, 101 * 12);
    } else {
      // Fine enough steps to follow the circle: the state is on it, at the time reached.
      EXPECT_GE(*count, 101 * 12);
      EXPECT_NEAR(std::hypot(y[0], y[1]), 1.0, 0.05);
    }
  }
}

// A first attempt with an error above 6561 is retried from the last accepted state at its
// time. Species 2 integrates the constant rate 1, so its final value is the time covered by
// the accepted steps: exactly the interval when the retry starts where it should.
TEST(RkQcEngine, SevereFailureRetriesFromTheAcceptedState) {
  DerivativeModel m;
  constexpr double kLambda = -3000.0;  // y1 relaxes to 1 at rate 3000
  m.Coefficient(1, 1, kLambda);
  m.FreeTerm(1, m.Formula({{Op_First, m.Constant(-kLambda)}}));
  m.FreeTerm(2, m.Formula({{Op_First, m.Constant(1.0)}}));
  const SpeciesVector y0{0.0, 0.0};

  RkQcFrame f{};
  f.y = f.y_half = f.y_full = y0;
  double t = 0.0;
  ASSERT_GT(Attempt_rk_qc(m.Prepared(2), 2, 0.01, 1e-4, t, f), 6561.0)
      << "the first attempt must fail";

  int16_t status = -1;
  const SpeciesVector y = RunEngine(m, Engine_rk_qc, 2, 0.0, 1.0, 1e-4, y0, status);
  EXPECT_EQ(status, 0);
  EXPECT_NEAR(y[0], 1.0, 1e-6);
  EXPECT_NEAR(y[1], 1.0, 1e-12);
}

}  // namespace
}  // namespace tarvo
