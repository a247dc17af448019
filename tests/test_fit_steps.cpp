// The fitting step on hand-filled point tables: the normal equations, the damping, the step
// limit, the secant correction and the solver codes as Pas_ajustement reports them. Mode 1
// with every dP at 0 runs no simulation and leaves the sensitivities as set here.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "fitting/normal_equations.h"
#include "fitting/sensitivities.h"
#include "fitting/step.h"
#include "library/state.h"

namespace tarvo {
namespace {

// A loaded-looking engine state of its own over a zeroed point table of its own.
class FitTable : public ::testing::Test {
 protected:
  void SetUp() override {
    table_ = std::make_unique<PointTable>();
    st.points = table_.get();
    st.initials.NAjustables = 3;
    st.initials.NPoints = 3;
    st.initials.NSorties = 1;
    st.fitset.Erreur = 0;
    st.fitset.Marquard = 0;
    for (PAjustable& a : st.adjustables) {
      a.Value = 1;
      a.dP = 0;
      a.Adjustable = kFalse;
    }
  }
  void TearDown() override { st.points = nullptr; }  // the table is the fixture's
  PointRecord& Point(int j) { return table_->Points[j - 1]; }
  void Pair(int j, int16_t nrep, double weight, double ymean, double ycalc) {
    Point(j).NRep[0] = nrep;
    Point(j).Weight[0] = weight;
    Point(j).YMean[0] = ymean;
    Point(j).YCalc[0] = ycalc;
  }

  std::unique_ptr<PointTable> table_;
  std::unique_ptr<EngineState> state_ = std::make_unique<EngineState>();
  EngineState& st = *state_;
};

TEST(LimitedStep, NinetyPercentNeverBeyondNinetyPercentOfTheValue) {
  struct Case {
    double value, x, dp;
  } const cases[] = {
      {2, 1, 0.9},    {2, -5, -1.8},  {2, 2, 1.8},   // equality takes the limited branch
      {10, 2, 1.8},   {10, 1, 0.9},   {1, 2, 0.9},
      {-3, 1, -2.7},  {-3, -1, 2.7},                 // a negative value: 0.9 * value * sign(x)
      {0, 5, 0},      {0, 0, 0},      {-1, 0, 0},    // no 0 / 0
      {2, 0, 0},
  };
  for (const Case& c : cases) {
    EXPECT_DOUBLE_EQ(Limited_step(c.value, c.x), c.dp) << c.value << " " << c.x;
  }
}

// One free adjustable, one pair with NRep 2, Weight 1, YMean 3, YCalc 2 and Sens 0.5:
// w = 2, r = 2, g = 1, M = 0.5 undamped, 1 with Marquard 1.
TEST_F(FitTable, NormalEquationsAndStepOfOneAdjustable) {
  st.adjustables[1].Adjustable = kTrue;
  Pair(2, 2, 1, 3, 2);
  Point(2).Sens[0][1] = 0.5;
  // Pairs without data or without weight add nothing, though their sensitivities exist.
  Pair(1, 0, 1, 3, 1);
  Point(1).Sens[0][1] = 7;
  Pair(3, 3, 0, 5, 1);
  Point(3).Sens[0][1] = 9;

  struct Case {
    double value, marquard, m, dp;
  } const cases[] = {
      {10, 0, 0.5, 1.8},
      {10, 1, 1.0, 0.9},
      {1, 0, 0.5, 0.9},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value + 100 * c.marquard);
    st.adjustables[1].Value = c.value;
    st.adjustables[1].dP = 0;
    st.fitset.Marquard = c.marquard;
    FitMatrix M;
    FitVector g;
    Equations_normales(st, 1, M, g);
    EXPECT_DOUBLE_EQ(g.v[0], 1);
    EXPECT_DOUBLE_EQ(M.a[0][0], c.m);
    Pas_ajustement(st, 1);
    EXPECT_EQ(st.fitset.Erreur, 0);
    EXPECT_DOUBLE_EQ(st.adjustables[1].dP, c.dp);
    EXPECT_EQ(st.adjustables[1].Value, c.value);  // the step is not applied here
  }
}

TEST_F(FitTable, DampingScalesTheDiagonalOnly) {
  st.adjustables[0].Adjustable = kTrue;
  st.adjustables[2].Adjustable = kTrue;
  Pair(1, 1, 1, 2, 1);
  Point(1).Sens[0][0] = 1;
  Point(1).Sens[0][2] = 2;
  Pair(2, 1, 2, 2, 1);
  Point(2).Sens[0][0] = 3;
  Point(2).Sens[0][2] = -1;
  FitMatrix plain, damped;
  FitVector g;
  Equations_normales(st, 1, plain, g);
  st.fitset.Marquard = 1;
  Equations_normales(st, 1, damped, g);
  // Both triangles: M = sum w s s^T = [[1 + 18, 2 - 6], [2 - 6, 4 + 2]].
  const double want[2][2] = {{19, -4}, {-4, 6}};
  for (int c = 0; c < 2; ++c) {
    for (int d = 0; d < 2; ++d) {
      EXPECT_DOUBLE_EQ(plain.a[c][d], want[c][d]);
      EXPECT_DOUBLE_EQ(damped.a[c][d], c == d ? 2 * want[c][d] : want[c][d]);
    }
  }
  EXPECT_DOUBLE_EQ(g.v[0], 1 * 1 + 2 * 3);
  EXPECT_DOUBLE_EQ(g.v[1], 1 * 2 + 2 * -1);
}

// The pairs with data are summed two at a time; every entry must come out bit for bit as the
// pairs one after another give it, output by output, point by point, whatever the count of
// pairs (odd or even, some without data) and of free columns (odd or even).
TEST_F(FitTable, NormalEquationsAreThePairByPairSums) {
  auto value = [](int j, int k, int a) { return std::cos(2.0 + 5 * j + 11 * k + 3 * a) * 3; };
  st.initials.NAjustables = 5;
  for (int points : {1, 2, 3, 5}) {
    for (int outputs : {1, 2}) {
      for (int free_count : {1, 2, 3, 5}) {
        SCOPED_TRACE(std::to_string(points) + " points, " + std::to_string(outputs) +
                     " outputs, " + std::to_string(free_count) + " free");
        st.initials.NPoints = static_cast<int16_t>(points);
        st.initials.NSorties = static_cast<int16_t>(outputs);
        for (int a = 0; a < 5; ++a) {
          st.adjustables[a].Adjustable = a < free_count ? kTrue : kFalse;
          st.adjustables[a].dP = 0;  // mode 1 without a step: the sensitivities as set
        }
        double want_m[5][5] = {}, want_g[5] = {};
        for (int k = 0; k < outputs; ++k) {
          for (int j = 0; j < points; ++j) {
            PointRecord& p = Point(j + 1);
            p.NRep[k] = static_cast<int16_t>((j + k) % 3 == 1 ? 0 : 2);  // some without data
            p.Weight[k] = 1 + value(j, k, 9) * value(j, k, 9);
            p.YMean[k] = value(j, k, 7);
            p.YCalc[k] = value(j, k, 8);
            for (int a = 0; a < 5; ++a) p.Sens[k][a] = value(j, k, a);
            if (p.NRep[k] <= 0) continue;
            const double w = p.NRep[k] * p.Weight[k], r = w * (p.YMean[k] - p.YCalc[k]);
            for (int c = 0; c < free_count; ++c) {
              want_g[c] = want_g[c] + r * p.Sens[k][c];
              for (int d = 0; d < free_count; ++d)
                want_m[c][d] = want_m[c][d] + (w * p.Sens[k][c]) * p.Sens[k][d];
            }
          }
        }
        FitMatrix m;
        FitVector g;
        Equations_normales(st, 1, m, g);
        for (int c = 0; c < free_count; ++c) {
          EXPECT_EQ(g.v[c], want_g[c]) << c;
          for (int d = 0; d < free_count; ++d) EXPECT_EQ(m.a[c][d], want_m[c][d]) << c << " " << d;
        }
      }
    }
  }
}

// Steps dP = (1, 2), sensitivities (0, 0), observed change 5: the first column becomes 3, the
// second 1.2 (it sees the corrected first column), predicting 5.4 for the step.
TEST_F(FitTable, SecantCorrectionColumnAfterColumn) {
  st.adjustables[0].Adjustable = kTrue;
  st.adjustables[1].Adjustable = kTrue;
  st.adjustables[0].dP = 1;
  st.adjustables[1].dP = 2;
  st.adjustables[2].dP = 100;  // not free: neither read nor corrected
  Point(1).YPrev[0] = 1;
  Point(1).YCalc[0] = 6;
  Point(1).Sens[0][2] = 0.25;
  Correction_secante(st);
  EXPECT_DOUBLE_EQ(Point(1).Sens[0][0], 3);
  EXPECT_DOUBLE_EQ(Point(1).Sens[0][1], 1.2);
  EXPECT_EQ(Point(1).Sens[0][2], 0.25);
  EXPECT_DOUBLE_EQ(Point(1).Sens[0][0] * 1 + Point(1).Sens[0][1] * 2, 5.4);

  // With one free adjustable the corrected column reproduces the observed change exactly.
  st.adjustables[1].Adjustable = kFalse;
  st.adjustables[0].dP = 0.5;
  Point(2).YPrev[0] = 2;
  Point(2).YCalc[0] = 3;
  Point(2).Sens[0][0] = 4;
  Correction_secante(st);
  EXPECT_DOUBLE_EQ(Point(2).Sens[0][0] * 0.5, 1);
}

// The rows of a record are corrected several outputs at a time; every row must come out bit
// for bit as the rule corrects it alone (columns one after another, each p over every column,
// the columns before cb already corrected), whatever the output count and the free columns.
TEST_F(FitTable, SecantCorrectionOfManyOutputsIsTheRowByRowRule) {
  auto value = [](int j, int k, int a) { return std::sin(1.0 + 7 * j + 3 * k + a) * 10; };
  for (int outputs : {1, 2, 3, 4, 5, 6, 7, 9}) {
    for (const std::vector<int>& free : {std::vector<int>{1}, {0, 2}, {0, 1, 2}}) {
      SCOPED_TRACE("outputs " + std::to_string(outputs) + ", free " + std::to_string(free.size()));
      st.initials.NSorties = static_cast<int16_t>(outputs);
      for (PAjustable& a : st.adjustables) a.Adjustable = kFalse;
      for (int a : free) {
        st.adjustables[a].Adjustable = kTrue;
        st.adjustables[a].dP = value(9, a, 1) / 7;
      }
      double want[3][kMaxOutputs][3];
      for (int j = 0; j < 3; ++j) {
        for (int k = 0; k < outputs; ++k) {
          PointRecord& p = Point(j + 1);
          p.YPrev[k] = value(j, k, 5);
          p.YCalc[k] = value(j, k, 6);
          for (int a = 0; a < 3; ++a) p.Sens[k][a] = want[j][k][a] = value(j, k, a);
          double q = 0;
          for (int a : free) q = q + st.adjustables[a].dP * st.adjustables[a].dP;
          const double change = p.YCalc[k] - p.YPrev[k];
          for (int cb : free) {
            double pred = 0, s = 0;
            for (int c : free) pred = pred + want[j][k][c] * st.adjustables[c].dP;
            for (int c : free) s = s + (change - pred) * st.adjustables[c].dP;
            want[j][k][cb] = want[j][k][cb] + s / q;
          }
        }
      }
      Correction_secante(st);
      for (int j = 0; j < 3; ++j)
        for (int k = 0; k < outputs; ++k)
          for (int a = 0; a < 3; ++a)
            EXPECT_EQ(Point(j + 1).Sens[k][a], want[j][k][a]) << j << " " << k << " " << a;
    }
  }
}

TEST_F(FitTable, SecantCorrectionWithoutAStepChangesNothing) {
  st.adjustables[0].Adjustable = kTrue;
  st.adjustables[1].Adjustable = kTrue;
  Point(1).YPrev[0] = 1;
  Point(1).YCalc[0] = 6;
  Point(1).Sens[0][0] = 0.7;
  Point(1).Sens[0][1] = -0.3;
  Correction_secante(st);
  EXPECT_EQ(Point(1).Sens[0][0], 0.7);
  EXPECT_EQ(Point(1).Sens[0][1], -0.3);
}

TEST_F(FitTable, SolverCodesStopTheStep) {
  struct Case {
    const char* name;
    int free_count;    // adjustables 1..free_count are free
    double sens;       // their sensitivity at the one pair with data
    int16_t erreur_in; // a status already in Erreur
    int16_t erreur_out;
  } const cases[] = {
      {"no free adjustable", 0, 1, 0, 1},
      {"one free adjustable, zero normal matrix", 1, 0, 0, 2},
      {"two free adjustables, zero normal matrix", 2, 0, 0, 4},
      {"two identical columns", 2, 1, 0, 4},
      {"a status already there skips the solve", 1, 1, 3, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (int a = 0; a < 3; ++a) {
      st.adjustables[a].Adjustable = a < c.free_count ? kTrue : kFalse;
      st.adjustables[a].dP = 0;
      Point(1).Sens[0][a] = c.sens;
    }
    Pair(1, 1, 1, 2, 1);
    st.fitset.Erreur = c.erreur_in;
    st.adjustables[0].dP = 0;
    Pas_ajustement(st, 1);
    EXPECT_EQ(st.fitset.Erreur, c.erreur_out);
    for (int a = 0; a < 3; ++a) EXPECT_EQ(st.adjustables[a].dP, 0);
  }
}

}  // namespace
}  // namespace tarvo
