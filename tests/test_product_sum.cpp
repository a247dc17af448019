// Output formulas that are sums of products of at most two cells run from their layout instead
// of through Evaluate: every value must be Evaluate's bit for bit (signed zeros, infinities and
// subnormals included; a NaN must stay a NaN), and every other program must be left to it.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "Symbolic/product_sum.h"

namespace tarvo {
namespace {

TEST(ProductSum, LayoutsGiveEvaluatesValuesAndOtherProgramsAreLeftToIt) {
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<double> values = {0.0, -0.0, 1.5, -2.25, 1e-300, -1e300, 4.9e-324, inf, -inf,
                                      std::numeric_limits<double>::quiet_NaN()};
  struct Program {
    std::vector<std::pair<Op, int>> slots;  // operation, index of the cell it reads
    bool laid_out;
  };
  const std::vector<Program> programs = {
      {{{Op_First, 0}}, true},
      {{{Op_FirstNeg, 0}}, true},
      {{{Op_FirstNeg, 0}, {Op_Mul, 1}, {Op_Add, 2}}, true},
      {{{Op_First, 0}, {Op_Sub, 1}, {Op_Mul, 2}, {Op_Add, 3}}, true},
      {{{Op_FirstNeg, 0}, {Op_Sub, 1}, {Op_Sub, 2}, {Op_Mul, 3}}, true},
      {{{Op_First, 0}, {Op_Mul, 1}, {Op_Mul, 2}}, false},  // three factors
      {{{Op_First, 0}, {Op_Div, 1}}, false},
      {{{Op_Load, 0}, {Op_First, 1}}, false},
      {{{Op_First, 0}, {Op_First, 1}}, false},
      {{{Op_First, 0}, {Op_Exp, 1}, {Op_Add, 2}}, false},
      {{}, false},
  };
  double cell[4] = {};
  for (size_t p = 0; p < programs.size(); ++p) {
    compilptr c = NewCompil();
    ASSERT_NE(c, nullptr);
    for (const auto& [op, k] : programs[p].slots) {
      c->fonction[c->stop] = op;
      c->donnee[c->stop++].cell = &cell[k];
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
    // A slot count beyond the table is never laid out (Evaluate clamps it).
    const int32_t stop = c->stop;
    c->stop = kMaxSlots + 1;
    LayOut(c, sum);
    EXPECT_EQ(sum.source, nullptr);
    c->stop = stop;
    Release(c);
  }
}

}  // namespace
}  // namespace tarvo
