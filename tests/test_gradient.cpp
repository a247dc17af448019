// Derivatives with respect to the species: of compiled formulas (forward differentiation
// through the slot program, against central differences and with Evaluate's value bit for
// bit) and of split-form rates (the Jacobian that "BDF" hands to CVODE).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "Symbolic/compiler.h"
#include "Symbolic/gradient.h"
#include "engines/derivatives.h"
#include "support/engine_models.h"

namespace tarvo {
namespace {

struct Compiled {
  compilptr record = NewCompil();
  ~Compiled() { Release(record); }
};

// A central difference of species s's effect on c, with the cells at their values afterwards.
double Central(compilptr c, FormulaCells& cells, int s) {
  const double y = cells.species[s], h = 1e-6 * std::fmax(std::fabs(y), 1.0);
  cells.species[s] = y + h;
  const double up = Evaluate(c);
  cells.species[s] = y - h;
  const double down = Evaluate(c);
  cells.species[s] = y;
  return (up - down) / (2 * h);
}

TEST(Gradient, FormulasAgainstCentralDifferences) {
  FormulaCells cells;
  cells.species[0] = 1.5;  // Fa
  cells.species[1] = 0.7;  // Fb
  cells.species[2] = 2.0;  // Fc: beyond the two differentiated
  cells.parameters[0] = 0.3;
  cells.constants.value[0] = 2.0;
  cells.constants.value[1] = 3.0;
  cells.constants.count = 3;
  const char* cases[] = {
      "+Fa*Fb*Pa",       "-Fa+Fb-Pa*Fa",     "+Fa/(Pa+Fb)",      "+(Fa+Fb)*(Fa-Fb)",
      "+Fa^Cb",          "+Fa^Ca*Fb",        "+Ca^Fa",           "+Fa^(+Fb*Ca)",
      "+ex(-Fa*Fb)",     "+LN(Fa)*Fb",       "+Pa/Fa/Fb",        "+Fa*Fc+Fb/Fc",
      "+ex(LN(Fa)*Fb)",  "+Fa^(+Pa)",        "+Fb-(Fa*(Fb+Pa))",
  };
  for (const char* text : cases) {
    Compiled c;
    int16_t faults = 0;
    Compile(cells, Text(text, text + std::strlen(text)), c.record, faults, nullptr);
    ASSERT_EQ(faults, 0) << text;
    ASSERT_TRUE(Differentiable(c.record)) << text;
    double gradient[kMaxSpecies];
    const double value = EvaluateGradient(c.record, cells, 2, gradient);
    const double plain = Evaluate(c.record);
    EXPECT_EQ(std::memcmp(&value, &plain, sizeof value), 0) << text;
    for (int s = 0; s < 2; ++s) {
      const double want = Central(c.record, cells, s);
      EXPECT_NEAR(gradient[s], want, 1e-7 * std::fmax(std::fabs(want), 1.0))
          << text << " d/dF" << s + 1;
    }
  }
}

// Where a guard substitutes a constant, the derivative is the constant's; a nested result read
// anywhere but straight after its call is refused.
TEST(Gradient, GuardsAndLayouts) {
  FormulaCells cells;
  cells.species[0] = 0.0;
  cells.species[1] = 2.0;
  for (const char* text : {"+Fb/Fa", "+LN(Fa)*Fb"}) {
    Compiled c;
    int16_t faults = 0;
    Compile(cells, Text(text, text + std::strlen(text)), c.record, faults, nullptr);
    double gradient[kMaxSpecies];
    const double value = EvaluateGradient(c.record, cells, 2, gradient);
    EXPECT_EQ(value, Evaluate(c.record)) << text;
    EXPECT_EQ(gradient[0], 0.0) << text;
    EXPECT_TRUE(std::isfinite(gradient[1])) << text;
  }
  using testing::BuildFormula;
  compilptr nested = BuildFormula({{Op_First, &cells.species[0]}});
  compilptr late = BuildFormula({{Op_Call, nullptr, nested},
                                 {Op_First, &cells.species[1]},
                                 {Op_Mul, &nested->result}});
  EXPECT_FALSE(Differentiable(late));
  Release(late);
}

// The rates' Jacobian: S + E <-> C -> E + P in split form, coefficients and free terms reading
// species, against central differences of the rates.
TEST(Gradient, RatesJacobianAgainstCentralDifferences) {
  testing::DerivativeModel m;
  const double* k1 = m.Constant(10.0);
  const double* km1 = m.Constant(1.0);
  const double* kcat = m.Constant(2.0);
  // dS/dt = (-k1 E) S + km1 C; dE/dt = -k1 S E + (km1 + kcat) C as a free term and a
  // coefficient; dC/dt = k1 S E - (km1 + kcat) C; dP/dt = kcat C.
  m.Coefficient(1, 1, m.Formula({{Op_FirstNeg, k1}, {Op_Mul, m.Species(2)}}));
  m.Coefficient(1, 3, m.Formula({{Op_First, km1}}));
  m.FreeTerm(2, m.Formula({{Op_FirstNeg, k1}, {Op_Mul, m.Species(1)}, {Op_Mul, m.Species(2)}}));
  m.Coefficient(2, 3, m.Formula({{Op_First, km1}, {Op_Add, kcat}}));
  m.FreeTerm(3, m.Formula({{Op_First, k1}, {Op_Mul, m.Species(1)}, {Op_Mul, m.Species(2)}}));
  m.Coefficient(3, 3, m.Formula({{Op_FirstNeg, km1}, {Op_Sub, kcat}}));
  m.Coefficient(4, 3, m.Formula({{Op_First, kcat}}));
  constexpr int n = 4;
  RateTable& r = m.Prepared(n);
  SpeciesVector y{};
  y[0] = 0.4, y[1] = 0.02, y[2] = 0.01, y[3] = 0.1;
  SpeciesMatrix J;
  ASSERT_TRUE(Jacobian_at(r, n, 0.0, y, J));
  for (int j = 0; j < n; ++j) {
    const double h = 1e-7 * std::fmax(std::fabs(y[j]), 1e-3);
    SpeciesVector up = y, down = y, fu, fd;
    up[j] += h;
    down[j] -= h;
    Rate_at(r, n, 0.0, up, fu);
    Rate_at(r, n, 0.0, down, fd);
    for (int i = 0; i < n; ++i) {
      const double want = (fu[i] - fd[i]) / (2 * h);
      EXPECT_NEAR(J[30 * i + j], want, 1e-6 * std::fmax(std::fabs(want), 1.0)) << i << "," << j;
    }
  }
}

}  // namespace
}  // namespace tarvo
