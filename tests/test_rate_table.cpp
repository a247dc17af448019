// The rate table's fast path (formulas sorted at set-up into fixed and varying, fixed ones
// evaluated once per engine call, empty entries skipped) against every formula evaluated afresh
// and the whole block multiplied: the same bits for every pattern of filled slots, formulas
// of the time, of species inside and outside the block, signed zeros and non-finite states.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "engines/derivatives.h"
#include "support/engine_models.h"

namespace {

using namespace tarvo;
using tarvo::testing::DerivativeModel;

constexpr double kInf = std::numeric_limits<double>::infinity();

// Fills the table at random: empty, a constant, a parameter (fixed), minus a parameter times
// a species or the time (varying), the species possibly beyond the block.
void RandomTable(DerivativeModel& m, int n, double density, std::mt19937& rng) {
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::uniform_int_distribution<int> kind(0, 3), species(1, std::min(30, n + 2));
  for (int p = 0; p < 5; ++p) m.cells.parameters[p] = 0.1 * (p + 1) * (p % 2 ? -1 : 1);
  auto formula = [&]() -> compilptr {
    switch (kind(rng)) {
      case 0: return m.Formula({{Op_First, m.Constant(u(rng) < 0.2 ? 0.0 : u(rng) - 0.5)}});
      case 1: return m.Formula({{Op_First, &m.cells.parameters[static_cast<int>(u(rng) * 5)]}});
      case 2: return m.Formula({{Op_FirstNeg, &m.cells.parameters[1]}, {Op_Mul, m.Species(species(rng))}});
      default: return m.Formula({{Op_First, m.Time()}, {Op_Mul, &m.cells.parameters[2]}});
    }
  };
  for (int i = 1; i <= n; ++i) {
    for (int j = 1; j <= n; ++j)
      if (u(rng) < density) m.Coefficient(i, j, formula());
    if (u(rng) < density) m.FreeTerm(i, formula());
  }
}

bool SameBits(const double* a, const double* b, int n) {
  return std::memcmp(a, b, sizeof(double) * static_cast<size_t>(n)) == 0;
}

TEST(RateTable, FastPathGivesTheBitsOfAFreshEvaluation) {
  struct Case {
    int n;
    double density;
  };
  const Case cases[] = {{1, 1.0}, {3, 0.5}, {8, 0.3}, {9, 0.3}, {9, 1.0}, {17, 0.15}, {30, 0.05}, {30, 1.0}};
  // States: ordinary, with zeros of both signs (zero sums), and with a non-finite entry.
  const double specials[] = {0.0, -0.0, kInf, -kInf, std::nan("")};
  std::mt19937 rng(12345);
  std::uniform_real_distribution<double> u(-2.0, 2.0);
  for (const Case& c : cases) {
    for (int trial = 0; trial < 20; ++trial) {
      DerivativeModel m;
      RandomTable(m, c.n, c.density, rng);
      for (double& s : m.cells.species) s = u(rng);  // what the cells hold outside a trial
      SpeciesVector y{};
      for (double& v : y) v = trial % 3 == 0 ? 0.0 : u(rng);
      if (trial % 4 == 1) y[static_cast<size_t>(trial % c.n)] = specials[trial % 5];
      if (trial % 5 == 2) for (int i = 0; i < c.n; i += 2) y[static_cast<size_t>(i)] = -0.0;
      const double t = trial % 2 ? 0.0 : 1.5;
      const SpeciesVector fresh = tarvo::testing::RateAt(m, c.n, t, y);
      SpeciesVector fast{}, b_fast{}, b_fresh{};
      SpeciesMatrix M_fast{}, M_fresh{};
      Rate_at(m.Prepared(c.n), c.n, t, y, fast);
      Split_at(m.rates, c.n, t, y, b_fast, M_fast);
      Eval_split_at(m.rates, c.n, t, y, b_fresh, M_fresh);
      SCOPED_TRACE(::testing::Message() << "n " << c.n << " density " << c.density << " trial " << trial);
      EXPECT_TRUE(SameBits(fast.data(), fresh.data(), c.n));
      EXPECT_TRUE(SameBits(b_fast.data(), b_fresh.data(), c.n));
      for (int i = 0; i < c.n; ++i)
        EXPECT_TRUE(SameBits(&M_fast[30 * static_cast<size_t>(i)], &M_fresh[30 * static_cast<size_t>(i)], c.n));
      // The trial left the cells as they were.
      SpeciesVector again{};
      Rate_at(m.rates, c.n, t, y, again);
      EXPECT_TRUE(SameBits(again.data(), fast.data(), c.n));
    }
  }
}

// Fixed formulas are evaluated when the table is prepared: a changed parameter is seen after
// the next Prepare_rates, which every engine call makes.
TEST(RateTable, FixedFormulasFollowTheParametersAtEachPreparation) {
  DerivativeModel m;
  m.Coefficient(1, 1, m.Formula({{Op_FirstNeg, &m.cells.parameters[0]}}));
  const SpeciesVector y{2.0};
  SpeciesVector f{};
  for (double k : {0.5, 3.0}) {
    m.cells.parameters[0] = k;
    Rate_at(m.Prepared(1), 1, 0.0, y, f);
    EXPECT_EQ(f[0], -k * 2.0);
  }
}

}  // namespace
