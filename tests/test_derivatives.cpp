// Split-form rates at trial states: the formulas read the trial (t, y), the live time variable
// and species-value vector come back unchanged (also when a formula raises), empty slots are
// 0.0, outputs may share storage with inputs, and the method table names the engines.
#include <gtest/gtest.h>

#include <cmath>

#include "engines/chu_berman.h"
#include "engines/methods.h"
#include "engines/rk_qc.h"
#include "engines/runge_kutta.h"
#include "platform/failure.h"
#include "support/engine_models.h"

namespace tarvo {
namespace {

using testing::DerivativeModel;

// Live cells with recognisable values; compared after every evaluation.
struct LiveCells {
  explicit LiveCells(FormulaCells& c) : cells(c) {
    for (int k = 0; k < kMaxSpecies; ++k) cells.species[k] = 100.0 + k;
    cells.time = -7.0;
  }
  void ExpectUnchanged() const {
    for (int k = 0; k < kMaxSpecies; ++k) EXPECT_EQ(cells.species[k], 100.0 + k) << k;
    EXPECT_EQ(cells.time, -7.0);
  }
  FormulaCells& cells;
};

SpeciesVector Ramp() {
  SpeciesVector y;
  for (int k = 0; k < kMaxSpecies; ++k) y[k] = 1.0 + 0.5 * k;
  return y;
}

// M_ij = F_j * T where (i + j) is even, empty elsewhere; b_i = F_i + T, empty for i = 3.
void BuildTrialReaders(DerivativeModel& m, int n) {
  for (int i = 1; i <= n; ++i) {
    for (int j = 1; j <= n; ++j)
      if ((i + j) % 2 == 0)
        m.Coefficient(i, j, m.Formula({{Op_First, m.Species(j)}, {Op_Mul, m.Time()}}));
    if (i != 3) m.FreeTerm(i, m.Formula({{Op_First, m.Species(i)}, {Op_Add, m.Time()}}));
  }
}

TEST(Derivatives, FormulasReadTheTrialStateAndEmptySlotsAreZero) {
  constexpr int n = 5;
  DerivativeModel m;
  const LiveCells live(m.cells);
  BuildTrialReaders(m, n);
  const SpeciesVector y = Ramp();
  SpeciesMatrix M;
  M.fill(NAN);
  SpeciesVector b;
  b.fill(NAN);
  Eval_coefficients(m.rates, n, 2.0, y, M);
  Eval_free_terms(m.rates, n, 2.0, y, b);
  live.ExpectUnchanged();
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j)
      EXPECT_EQ(M[30 * i + j], (i + j) % 2 == 0 ? y[j] * 2.0 : 0.0) << i << "," << j;
    EXPECT_EQ(b[i], i == 2 ? 0.0 : y[i] + 2.0) << i;
  }
  // Nothing outside the leading n entries is written.
  EXPECT_TRUE(std::isnan(M[30 * 0 + n]));
  EXPECT_TRUE(std::isnan(M[30 * n + 0]));
  EXPECT_TRUE(std::isnan(b[n]));
  // The combined evaluation gives the same values.
  SpeciesMatrix M2;
  SpeciesVector b2, f;
  Eval_rate_at(m.rates, n, 2.0, y, b2, M2, f);
  live.ExpectUnchanged();
  for (int i = 0; i < n; ++i) {
    EXPECT_EQ(b2[i], b[i]);
    double s = M[30 * i] * y[0];
    for (int j = 1; j < n; ++j) s = s + M[30 * i + j] * y[j];
    EXPECT_EQ(f[i], s + b[i]);
  }
}

// A power of a negative base to a fractional exponent raises out of the evaluation; the trial
// state must not stay behind in the live cells.
TEST(Derivatives, RaisingFormulaStillRestoresTheLiveState) {
  DerivativeModel m;
  const LiveCells live(m.cells);
  m.Coefficient(1, 1, -1.0);
  compilptr bad = m.Formula({{Op_Load, m.Constant(-8.0)},
                             {Op_Pow, m.Constant(1.0 / 3)},
                             {Op_First, nullptr}});
  bad->donnee[2].cell = &bad->function_value;  // the power's result
  m.Coefficient(2, 2, bad);
  m.FreeTerm(2, bad);
  const SpeciesVector y = Ramp();
  SpeciesMatrix M;
  SpeciesVector b, f;
  EXPECT_THROW(Eval_coefficients(m.rates, 2, 1.0, y, M), Failure);
  live.ExpectUnchanged();
  EXPECT_THROW(Eval_free_terms(m.rates, 2, 1.0, y, b), Failure);
  live.ExpectUnchanged();
  EXPECT_THROW(Eval_rate_at(m.rates, 2, 1.0, y, b, M, f), Failure);
  live.ExpectUnchanged();
  for (Engine_proc engine : {Engine_rk4, Engine_rk5, Engine_rk_qc, Engine_chu_berman}) {
    int16_t status = -1;
    EXPECT_THROW(engine(m.rates, 2, 0.0, 1.0, 1e-4, m.cells.species, m.cells.species, status),
                 Failure);
    live.ExpectUnchanged();
  }
}

TEST(Derivatives, MatVecSumsInIncreasingOrderAndMayOverwriteItsInput) {
  struct Case {
    double row[3];
    double v[3];
    double w;
  };
  const Case cases[] = {
      {{1.0, 2.0, 3.0}, {1.0, 10.0, 100.0}, 321.0},
      {{1e16, 1.0, -1e16}, {1.0, 1.0, 1.0}, 0.0},   // (1e16 + 1) - 1e16 in that order
      {{1.0, -1e16, 1e16}, {1.0, 1.0, 1.0}, 0.0},   // (1 - 1e16) + 1e16
      {{-1e16, 1e16, 1.0}, {1.0, 1.0, 1.0}, 1.0},
  };
  for (const Case& c : cases) {
    SpeciesMatrix M{};
    SpeciesVector v{}, w{};
    for (int j = 0; j < 3; ++j) {
      M[j] = c.row[j];
      M[30 + j] = c.row[2 - j];
      v[j] = c.v[j];
    }
    Mat_vec(3, M, v, w);
    EXPECT_EQ(w[0], c.w);
    Mat_vec(3, M, v, v);  // in place
    EXPECT_EQ(v[0], w[0]);
    EXPECT_EQ(v[1], w[1]);
  }
}

TEST(Derivatives, RatesMayOverwriteTheStateOrTheFreeTerms) {
  SpeciesMatrix M{};
  M[0] = 2.0;
  M[1] = -1.0;
  M[30] = 0.5;
  M[31] = 3.0;
  const SpeciesVector y{1.0, 4.0}, b{0.25, -1.0};
  SpeciesVector f = y;
  Eval_rates(2, y, b, M, f);
  EXPECT_EQ(f[0], 2.0 * 1.0 - 1.0 * 4.0 + 0.25);
  EXPECT_EQ(f[1], 0.5 * 1.0 + 3.0 * 4.0 - 1.0);
  SpeciesVector over_y = y, over_b = b;
  Eval_rates(2, over_y, b, M, over_y);
  Eval_rates(2, y, over_b, M, over_b);
  EXPECT_EQ(over_y, f);
  EXPECT_EQ(over_b, f);
}

TEST(Derivatives, SpeciesCountOutsideTheTablesIsClamped) {
  DerivativeModel m;
  m.FreeTerm(30, m.Formula({{Op_First, m.Time()}}));
  SpeciesVector b{}, y = Ramp();
  SpeciesMatrix M{};
  Eval_free_terms(m.rates, 1000, 4.0, y, b);
  Eval_coefficients(m.rates, 1000, 4.0, y, M);
  EXPECT_EQ(b[29], 4.0);
  Mat_vec(-5, M, y, b);
  EXPECT_EQ(b[29], 4.0) << "a negative count writes nothing";
}

TEST(Methods, ExactNamesSelectTheirEngines) {
  struct Case {
    std::u16string_view name;
    Engine_proc engine;
  };
  const Case cases[] = {
      {u"CHU-BERMAN", Engine_chu_berman},    {u"RUNGE-KUTTA QC", Engine_rk_qc},
      {u"RUNGE-KUTTA 4", Engine_rk4},        {u"RUNGE-KUTTA 5", Engine_rk5},
      {u"RUNGE-KUTTA  4", nullptr},          {u"runge-kutta 4", nullptr},
      {u"RUNGE-KUTTA 4 ", nullptr},          {u" CHU-BERMAN", nullptr},
      {u"RUNGE-KUTTA", nullptr},             {std::u16string_view(u"RUNGE-KUTTA QC\0", 15), nullptr},
      {u"", nullptr},                        {u"CHU BERMAN", nullptr},
  };
  for (const Case& c : cases) EXPECT_EQ(EngineForMethod(c.name), c.engine);
}

}  // namespace
}  // namespace tarvo
