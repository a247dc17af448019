// Output formulas that are sums of products of at most two cells run from their layout instead
// of through Evaluate: every value must be Evaluate's bit for bit (signed zeros, infinities and
// subnormals included; a NaN must stay a NaN), and every other program must be left to
// Evaluate.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "Symbolic/product_sum.h"

namespace tarvo {
namespace {

struct Slot {
  Op op;
  int cell;  // index into the test's four cells
};

struct Program {
  std::vector<Slot> slots;
  bool laid_out;
};

TEST(ProductSum, LayoutsGiveEvaluatesValuesAndOtherProgramsAreLeftToIt) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<double> values = {0.0, -0.0, 1.5, -2.25, 1e-300, -1e300,
                                      std::numeric_limits<double>::denorm_min(), inf, -inf, nan};
  const std::vector<Program> programs = {
      {{{Op_First, 0}}, true},
      {{{Op_FirstNeg, 0}}, true},
      {{{Op_First, 0}, {Op_Mul, 1}}, true},
      {{{Op_FirstNeg, 0}, {Op_Mul, 1}, {Op_Add, 2}}, true},
      {{{Op_First, 0}, {Op_Sub, 1}, {Op_Mul, 2}, {Op_Add, 3}}, true},
      {{{Op_FirstNeg, 0}, {Op_Sub, 1}, {Op_Sub, 2}, {Op_Mul, 3}}, true},
      {{{Op_First, 0}, {Op_Mul, 1}, {Op_Mul, 2}}, false},  // three factors
      {{{Op_First, 0}, {Op_Div, 1}}, false},
      {{{Op_Load, 0}, {Op_First, 1}}, false},
      {{{Op_Add, 0}, {Op_Add, 1}}, false},
      {{{Op_First, 0}, {Op_First, 1}}, false},
      {{{Op_First, 0}, {Op_Exp, 1}, {Op_Add, 2}}, false},
      {{}, false},
  };
  double cell[4] = {};
  for (size_t p = 0; p < programs.size(); ++p) {
    compilptr c = NewCompil();
    ASSERT_NE(c, nullptr);
    for (const Slot& s : programs[p].slots) {
      c->fonction[c->stop] = s.op;
      c->donnee[c->stop].cell = &cell[s.cell];
      ++c->stop;
    }
    ProductSum sum;
    LayOut(c, sum);
    EXPECT_EQ(sum.source != nullptr, programs[p].laid_out) << "program " << p;
    if (sum.source)
      for (double a : values)
        for (double b : values)
          for (double d : values) {
            cell[0] = a, cell[1] = b, cell[2] = d, cell[3] = a * b;
            const double expected = Evaluate(c), got = ValueOf(sum);
            if (std::isnan(expected))
              EXPECT_TRUE(std::isnan(got)) << "program " << p << " " << a << " " << b << " " << d;
            else
              EXPECT_EQ(std::bit_cast<uint64_t>(got), std::bit_cast<uint64_t>(expected))
                  << "program " << p << " " << a << " " << b << " " << d;
          }
    Release(c);
  }
  // A slot count beyond the table is never laid out (Evaluate clamps it), nor is nil.
  compilptr big = NewCompil();
  for (int k = 0; k < kMaxSlots; ++k) big->fonction[k] = k == 0 ? Op_First : Op_Add, big->donnee[k].cell = &cell[0];
  big->stop = kMaxSlots + 1;
  ProductSum sum;
  LayOut(big, sum);
  EXPECT_EQ(sum.source, nullptr);
  big->stop = kMaxSlots;
  LayOut(big, sum);
  EXPECT_EQ(sum.source, big);
  EXPECT_EQ(std::bit_cast<uint64_t>(ValueOf(sum)), std::bit_cast<uint64_t>(Evaluate(big)));
  LayOut(nullptr, sum);
  EXPECT_EQ(sum.source, nullptr);
  Release(big);
}

}  // namespace
}  // namespace tarvo
