// Coefficients that are a cell, its negation, or a product of cells are computed without a call
// into Evaluate: every result must match Evaluate's bit for bit, signed zeros, infinities,
// NaNs and subnormals included, and any other program must still go through Evaluate.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "support/engine_models.h"

namespace tarvo::testing {
namespace {

uint64_t Bits(double v) { return std::bit_cast<uint64_t>(v); }

TEST(DerivativeProducts, ShortProgramsMatchEvaluateBitForBit) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double tiny = std::numeric_limits<double>::denorm_min();
  const std::vector<double> values = {0.0, -0.0, 1.5, -2.25, 1e-300, -1e300, tiny, inf, -inf, nan};

  DerivativeModel m;
  // Species 1 and 2 carry the values under test; the trial state installs them.
  const std::vector<std::vector<Slot>> programs = {
      {{Op_First, m.Species(1)}},
      {{Op_FirstNeg, m.Species(1)}},
      {{Op_First, m.Species(1)}, {Op_Mul, m.Species(2)}},
      {{Op_FirstNeg, m.Species(1)}, {Op_Mul, m.Species(2)}},
      {{Op_FirstNeg, m.Species(1)}, {Op_Mul, m.Species(2)}, {Op_Mul, m.Species(2)}},
      // Not products: these must reach Evaluate and still agree with it.
      {{Op_First, m.Species(1)}, {Op_Add, m.Species(2)}},
      {{Op_Load, m.Species(1)}, {Op_First, m.Species(2)}},
      {{Op_First, m.Species(1)}, {Op_Div, m.Species(2)}},
  };
  for (size_t p = 0; p < programs.size(); ++p) {
    compilptr c = m.Formula({});
    for (const Slot& s : programs[p]) {
      c->fonction[c->stop] = s.op;
      c->donnee[c->stop].cell = s.cell;
      ++c->stop;
    }
    m.Coefficient(1, 1, c);
    m.FreeTerm(1, c);
    for (double a : values) {
      for (double b : values) {
        SpeciesVector y{};
        y[0] = a;
        y[1] = b;
        SpeciesVector free{};
        SpeciesMatrix M{};
        Eval_split_at(m.rates, 1, 0.0, y, free, M);
        const double saved1 = m.cells.species[0], saved2 = m.cells.species[1];
        m.cells.species[0] = a;
        m.cells.species[1] = b;
        const double expected = Evaluate(c);
        m.cells.species[0] = saved1;
        m.cells.species[1] = saved2;
        EXPECT_EQ(Bits(M[0]), Bits(expected)) << "program " << p << " a=" << a << " b=" << b;
        EXPECT_EQ(Bits(free[0]), Bits(expected)) << "program " << p << " a=" << a << " b=" << b;
      }
    }
  }
}

// A program with no slots is 0.0, and a slot count beyond the table is left to Evaluate's own
// clamp instead of being read past the end.
TEST(DerivativeProducts, EmptyAndOversizedProgramsFollowEvaluate) {
  DerivativeModel m;
  compilptr empty = m.Formula({});
  compilptr oversized = m.Formula({});
  for (int k = 0; k < kMaxSlots; ++k) {
    oversized->fonction[k] = k == 0 ? Op_FirstNeg : Op_Mul;
    oversized->donnee[k].cell = m.Species(1);
  }
  oversized->stop = kMaxSlots + 5;
  m.Coefficient(1, 1, empty);
  m.Coefficient(1, 2, oversized);
  SpeciesVector y{};
  y[0] = 1.0;
  SpeciesVector free{};
  SpeciesMatrix M{};
  M[0] = 7.0;
  Eval_split_at(m.rates, 2, 0.0, y, free, M);
  EXPECT_EQ(Bits(M[0]), Bits(0.0));
  EXPECT_EQ(M[1], -1.0);
}

}  // namespace
}  // namespace tarvo::testing
