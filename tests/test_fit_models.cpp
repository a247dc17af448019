// Fits that prove the whole: synthetic data of consecutive first-order reactions A -> B -> C
// with 2 % noise, fitted from 50 % away under each integration method, with the rate
// constants free or one of them bound by an EqualTo expression; data that no model can
// follow; and the honesty of the reported standard deviations over 20 noise seeds.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "support/fit_models.h"

namespace tarvo::testhost {
namespace {

struct MethodCase {
  const char* method;
  double tolerance;
};

// The fixed-step engines take steps of 1/64 of each span (tolerance 1/4096), which land on
// the points exactly; the adaptive engines shorten their last step themselves.
const MethodCase kMethods[] = {
    {"RUNGE-KUTTA 4", 1.0 / 4096},
    {"RUNGE-KUTTA 5", 1.0 / 4096},
    {"RUNGE-KUTTA QC", 1e-8},
    {"CHU-BERMAN", 1e-8},
};

TEST(FitModels, ConsecutiveReactionsUnderEveryMethod) {
  for (const MethodCase& mc : kMethods) {
    for (bool bound : {false, true}) {
      SCOPED_TRACE(std::string(mc.method) + (bound ? ", k2 bound" : ", k2 free"));
      ConsecutiveSpec s;
      s.method = mc.method;
      s.tolerance = mc.tolerance;
      s.bound = bound;
      Host h(ConsecutiveModel(s));
      const FitRun r = RunFit(h, 30);
      ASSERT_EQ(r.erreur, 0);
      ASSERT_TRUE(r.done) << r.calls << " calls";
      const double* v = h.adjustables.Value;
      const double* sd = h.adjustables.SD;
      const double truth[2] = {s.k1, bound ? s.k2 / s.k1 : s.k2};
      for (int a = 0; a < 2; ++a) {
        EXPECT_GT(sd[a], 0);
        EXPECT_LT(std::fabs(v[a] - truth[a]), 3 * sd[a]) << "adjustable " << a + 1;
      }
      if (bound) {
        EXPECT_EQ(h.adjustables.Adjustable[2], kFalse);
        EXPECT_DOUBLE_EQ(v[2], v[0] * v[1]);  // the bound constant followed the fit
      }
      h.Fin();
    }
  }
}
// Data that only grow, while the model can only decay, and data that are all 0 (no weight
// anywhere): the first is fitted without ever converging, the second stops with a singular
// system. Neither produces a crash or a value that is not finite.
TEST(FitModels, DataNoModelCanFollow) {
  struct Case {
    const char* name;
    double (*data)(double t);
    int16_t erreur;
  } const cases[] = {
      {"growing", [](double t) { return std::exp(0.5 * t); }, 0},
      {"all zero", [](double) { return 0.0; }, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Model m = ConsecutiveModel(ConsecutiveSpec{});
    for (Point& p : m.points)
      for (std::vector<double>& output : p.replicates)
        for (double& y : output) y = c.data(p.time);
    Host h(m);
    const FitRun r = RunFit(h, 30);
    EXPECT_EQ(r.erreur, c.erreur);
    EXPECT_FALSE(r.done);
    for (int a = 0; a < 2; ++a) {
      EXPECT_TRUE(std::isfinite(h.adjustables.Value[a]));
      EXPECT_GT(h.adjustables.Value[a], 0);  // the step limit keeps a positive value positive
    }
    EXPECT_TRUE(std::isfinite(h.fitset.ErreurCalc));
    h.Fin();
  }
}

// Over 20 noise seeds the spread of the fitted constants matches the standard deviations
// the fit reports, within a factor of 2. (The reported ones run low by about a quarter: the
// error-model coefficient is a mean of logarithms of 2-degree-of-freedom replicate variances,
// which sits below the true variance by a factor near exp(-0.577).)
TEST(FitModels, StandardDeviationsMatchTheSpreadOverSeeds) {
  constexpr int kSeeds = 20;
  double sum[2] = {}, sum2[2] = {}, reported[2] = {};
  for (int seed = 1; seed <= kSeeds; ++seed) {
    ConsecutiveSpec s;
    s.seed = static_cast<uint64_t>(seed);
    s.tolerance = 1.0 / 256;  // steps of 1/16 of each span, landing on the points
    Host h(ConsecutiveModel(s));
    const FitRun r = RunFit(h, 30);
    ASSERT_EQ(r.erreur, 0) << "seed " << seed;
    ASSERT_TRUE(r.done) << "seed " << seed;
    for (int a = 0; a < 2; ++a) {
      const double v = h.adjustables.Value[a];
      sum[a] += v;
      sum2[a] += v * v;
      reported[a] += h.adjustables.SD[a] / kSeeds;
    }
    h.Fin();
  }
  for (int a = 0; a < 2; ++a) {
    const double mean = sum[a] / kSeeds;
    const double spread = std::sqrt((sum2[a] - kSeeds * mean * mean) / (kSeeds - 1));
    const double ratio = spread / reported[a];
    EXPECT_GT(ratio, 0.5) << "adjustable " << a + 1 << ": spread " << spread;
    EXPECT_LT(ratio, 2.0) << "adjustable " << a + 1 << ": spread " << spread;
  }
}

}  // namespace
}  // namespace tarvo::testhost
