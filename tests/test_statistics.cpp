// Fit statistics on hand-filled point tables: weights, the error-model coefficient and the two
// weighted scatters.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "Symbolic/compil.h"
#include "library/state.h"
#include "library/statistics.h"

namespace tarvo {
namespace {

struct FreeTable {
  void operator()(PointTable* t) const { std::free(t); }
};
using TablePtr = std::unique_ptr<PointTable, FreeTable>;

// The engine state whose counts the statistics read (no model is loaded in it).
EngineState& State() {
  static const std::unique_ptr<EngineState> state = std::make_unique<EngineState>();
  return *state;
}

TablePtr NewTable() {
  return TablePtr(static_cast<PointTable*>(std::calloc(1, sizeof(PointTable))));
}

struct Pair {
  std::vector<double> replicates;
  double calc;
};

// Fills output 1 of points 1..n, one pair per point, with the replicate means set-up computes.
void Fill(PointTable& t, const std::vector<Pair>& pairs) {
  State().initials.NSorties = 1;
  State().initials.NPoints = static_cast<SmallInt>(pairs.size());
  for (size_t j = 0; j < pairs.size(); ++j) {
    PointRecord& p = t.Points[j];
    const auto& r = pairs[j].replicates;
    p.NRep[0] = static_cast<SmallInt>(r.size());
    double sum = 0.0;
    for (size_t k = 0; k < r.size(); ++k) {
      p.YExp[0][k] = r[k];
      sum += r[k];
    }
    p.YMean[0] = r.empty() ? 0.0 : sum / r.size();
    p.YCalc[0] = pairs[j].calc;
  }
}

struct Figures {
  double coeff, exp, calc;
};

Figures RunStatistics(PointTable& t, double type_erreur) {
  const SimulationFigures s = Statistics(State(), t, type_erreur);
  return {s.coeff, s.erreur_exp, s.erreur_calc};
}

TEST(Statistics, WorkedExamples) {
  struct Case {
    const char* what;
    double type_erreur;
    std::vector<Pair> pairs;
    std::vector<double> weights;
    Figures expected;
  };
  const std::vector<Case> cases = {
      {"three single replicates, constant variance", 0.0,
       {{{2}, 3}, {{4}, 4}, {{6}, 5}}, {1, 1, 1}, {1.0, 0.0, 2.0 / 3.0}},
      {"two replicates about their mean", 0.0, {{{1, 3}, 2}}, {1}, {2.0, 1.0, 1.0}},
      {"relative error: weight 1/(mean*calc)", 2.0, {{{4}, 1}}, {0.25},
       // Variance (4-1)^2 = 9, ln Coeff = ln 9 - 2 ln 4.
       {9.0 / 16.0, 0.0, 9.0}},
      {"relative error with replicates", 2.0, {{{1, 3}, 2}}, {0.25}, {0.5, 1.0, 1.0}},
      // Residual variances 4, 16 and 4 still count in Coeff.
      {"simulated zero or below drops out", 0.0, {{{2}, 0.0}, {{2}, -2.0}, {{2}, 1e-131}},
       {0, 0, 0}, {std::cbrt(256.0), 0.0, 0.0}},
      {"exact hits leave Coeff at 1", 0.0, {{{2}, 2}, {{5}, 5}}, {1, 1}, {1.0, 0.0, 0.0}},
      {"no data at all", 0.0, {{{}, 3}, {{}, 4}}, {0, 0}, {1.0, 0.0, 0.0}},
      {"a mean not above the guard drops out", 0.0, {{{0, 0}, 1}, {{1}, 2}}, {0, 1},
       {1.0, 0.0, 1.0}},
      // Five replicates count five times in W: S = 5 * (2-1)^2, W = 5 + 1.
      {"replicates weigh per replicate", 0.0, {{{1, 1, 1, 1, 1}, 2}, {{3}, 3}}, {1, 1},
       {1.0, 0.0, 5.0 / 6.0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TablePtr t = NewTable();
    ASSERT_TRUE(t);
    Fill(*t, c.pairs);
    const Figures f = RunStatistics(*t, c.type_erreur);
    for (size_t j = 0; j < c.weights.size(); ++j)
      EXPECT_DOUBLE_EQ(t->Points[j].Weight[0], c.weights[j]) << "point " << j + 1;
    EXPECT_NEAR(f.coeff, c.expected.coeff, 1e-14 * c.expected.coeff);
    EXPECT_DOUBLE_EQ(f.exp, c.expected.exp);
    EXPECT_DOUBLE_EQ(f.calc, c.expected.calc);

    // The same table as a loaded model's, with the data's terms made by the set-up while the
    // simulated values were others: the figures are the same to the last bit.
    State().points = t.get();
    for (size_t j = 0; j < c.pairs.size(); ++j) t->Points[j].YCalc[0] = 7.5;
    PrepareDataTerms(State(), *t);
    for (size_t j = 0; j < c.pairs.size(); ++j) t->Points[j].YCalc[0] = c.pairs[j].calc;
    const Figures prepared = RunStatistics(*t, c.type_erreur);
    State().points = nullptr;
    State().data = DataTerms{};
    EXPECT_EQ(prepared.coeff, f.coeff);
    EXPECT_EQ(prepared.exp, f.exp);
    EXPECT_EQ(prepared.calc, f.calc);
  }
}

TEST(Statistics, VarianceOfUnusablePairsIsKept) {
  TablePtr t = NewTable();
  Fill(*t, {{{}, 3}, {{1, 3}, 2}, {{2}, 5}});
  t->Points[0].Variance[0] = 123.0;
  RunStatistics(*t, 0.0);
  EXPECT_EQ(t->Points[0].Variance[0], 123.0);  // no data: left as it was
  EXPECT_DOUBLE_EQ(t->Points[1].Variance[0], 2.0);  // sample variance of the replicates
  EXPECT_DOUBLE_EQ(t->Points[2].Variance[0], 9.0);  // single replicate: squared residual
}

// 40 outputs x 1000 points give 40,000 usable pairs: more than a 16-bit count holds.
TEST(Statistics, CoefficientOverManyPairs) {
  TablePtr t = NewTable();
  State().initials.NSorties = kMaxOutputs;
  State().initials.NPoints = kMaxPoints;
  for (int j = 0; j < kMaxPoints; ++j) {
    for (int o = 0; o < kMaxOutputs; ++o) {
      PointRecord& p = t->Points[j];
      p.NRep[o] = 2;
      p.YExp[o][0] = 3.0;  // mean 5, sample variance 8
      p.YExp[o][1] = 7.0;
      p.YMean[o] = 5.0;
      p.YCalc[o] = 5.0;
    }
  }
  const SimulationFigures f = Statistics(State(), *t, 1.0);
  EXPECT_NEAR(f.coeff, 8.0 / 5.0, 1e-12);
  EXPECT_NEAR(f.erreur_exp, 4.0, 1e-12);
}

// A pair's weight is the power the error model names, to the last bit: the relative model's
// shortcut (1 / x for the power -1) against Power itself, and the other models through it.
TEST(Statistics, PairWeightIsThePowerOfItsModel) {
  const double values[] = {1e-129, 3e-7, 0.1, 0.7, 1.0, 1.0 / 3.0, 2.5, 1e10, 6.02e23, 1e200};
  for (const double type : {0.0, 1.0, 2.0, 3.0, 0.5})
    for (const double mean : values)
      for (const double calc : values) {
        const double want = type == 0.0 ? 1.0 : Power(mean * calc, -0.5 * type);
        const double got = PairWeight(mean, calc, type);
        EXPECT_EQ(std::memcmp(&got, &want, sizeof got), 0)
            << "type " << type << " mean " << mean << " calc " << calc << ": " << got
            << " against " << want;
      }
  EXPECT_EQ(PairWeight(0.0, 1.0, 2.0), 0.0);  // no usable mean: no weight
  EXPECT_EQ(PairWeight(1.0, -1.0, 2.0), 0.0);
}

}  // namespace
}  // namespace tarvo
