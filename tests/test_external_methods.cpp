// The method library's "EXACT" and "BDF" through engine instances: against closed forms and
// against "RUNGE-KUTTA QC" at 1e-12 (simulations and fits), across intervals that reset start
// values and change rate constants; EXACT's refusal of rates it cannot integrate; both methods
// refused by the exported calls (unknown method) and by an instance that does not accept
// external methods; engine statuses, the step budget and a blow-up reported as the built-in
// engines report them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <Eigen/Dense>
#include <nvector/nvector_serial.h>
#include <sundials/sundials_context.h>

#include "api/instance.h"
#include "engines/external/exact_step.h"
#include "engines/external/method_library.h"
#include "engines/external/small_vector_ops.h"
#include "engines/methods.h"
#include "library/erreur_codes.h"
#include "support/host.h"
#include "support/library_models.h"

namespace tarvo::testhost {
namespace {

// One model on a fresh instance (accepting the method library unless told otherwise).
struct InstanceRun {
  explicit InstanceRun(const Model& m, bool accept = true)
      : in(std::make_unique<Instance>(accept)), host(m) {
    RegisterMethodLibrary();
  }
  ~InstanceRun() { Instance_release(*in, nullptr); }

  int16_t Setup() {
    Instance_setup(*in, &host.initials, &host.fitset, host.especes.data(), &host.adjustables,
                   host.parametres.data(), &host.sorties, host.derivees.data());
    return host.fitset.Erreur;
  }
  // Simulates and returns YCalc[o] of every point, point after point.
  std::vector<std::vector<double>> Simulate() {
    Instance_simulate(*in, &host.initials, &host.fitset, &host.adjustables);
    std::vector<std::vector<double>> y;
    for (const FileRecord& r : host.ReadFile())
      y.emplace_back(r.YCalc, r.YCalc + host.model.outputs.size());
    return y;
  }

  std::unique_ptr<Instance> in;
  Host host;
};

// A -> B -> C with rate constants P1, P2 and a constant inflow P3 into C (a free term).
// Interval 1 starts from A = 2; interval 2 restarts from A = 1 with other rate constants, so
// both the reset and the new parameters must reach the engine.
struct ChainInterval {
  double start, k1, k2, s, a0;
};
constexpr ChainInterval kChain[2] = {{0.0, 1.3, 0.4, 0.05, 2.0}, {4.0, 0.7, 2.5, 0.0, 1.0}};

std::vector<double> ChainClosedForm(const ChainInterval& c, double t) {
  const double u = t - c.start;
  const double a = c.a0 * std::exp(-c.k1 * u);
  const double b = c.a0 * c.k1 / (c.k2 - c.k1) * (std::exp(-c.k1 * u) - std::exp(-c.k2 * u));
  return {a, b, c.a0 - a - b + c.s * u};
}

Model ChainModel(const std::string& method, double tol) {
  Model m;
  m.method = method;
  m.tolerance = tol;
  m.intervals = 2;
  m.species = {"A", "B", "C"};
  m.species_start = {{"2", "1"}, {"0", "0"}, {"0", "0"}};
  m.parameters = {"k1", "k2", "s"};
  m.parameter_eqs = {{"1.3", "0.7"}, {"0.4", "2.5"}, {"0.05", "0"}};
  m.rates = {{1, 1, "-P1"}, {2, 1, "P1"}, {2, 2, "-P2"}, {3, 2, "P2"}, {3, kFreeTerm, "P3"}};
  m.outputs = {"F1", "F2", "F3"};
  // Uneven gaps, some repeated (EXACT's cache), the interval change at t = 4.
  const double times[] = {0, 0.25, 0.5, 1, 1.5, 2.5, 4, 4.25, 4.5, 5.5, 7, 9.5};
  for (double t : times) m.points.push_back({static_cast<int16_t>(t < 4 ? 1 : 2), t, {{1}, {1}, {1}}, {}});
  return m;
}

TEST(ExternalMethods, ChainMatchesClosedFormAcrossIntervals) {
  struct Case {
    const char* method;
    double tol;
    double bound;  // on |simulated - closed form|, species of order 1
  };
  const Case cases[] = {{"EXACT", 1e-6, 1e-14}, {"BDF", 1e-10, 2e-8}, {"BDF", 1e-6, 5e-5}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.method << " at " << c.tol);
    InstanceRun run(ChainModel(c.method, c.tol));
    ASSERT_EQ(run.Setup(), 0) << run.in->failure;
    const auto y = run.Simulate();
    EXPECT_EQ(run.host.fitset.Erreur, 0);
    ASSERT_EQ(y.size(), run.host.model.points.size());
    double worst = 0;
    for (size_t j = 0; j < y.size(); ++j) {
      const double t = run.host.model.points[j].time;
      const auto want = ChainClosedForm(kChain[t < 4 ? 0 : 1], t);
      for (int o = 0; o < 3; ++o) worst = std::max(worst, std::fabs(y[j][o] - want[o]));
    }
    EXPECT_LT(worst, c.bound);
    // A second simulation gives bit for bit the same (EXACT's kept exponentials, BDF's
    // re-initialised solver).
    EXPECT_EQ(run.Simulate(), y);
  }
}

// Stiff: a fast reversible pair A <-> B and a slow B -> C. The pair's forward coefficient
// reads A in one variant (a dimerisation-like nonlinearity: BDF's Jacobian by difference
// quotients) and the time in another (BDF's Jacobian is M at each step's time).
enum class Forward { Constant, ReadsSpecies, ReadsTime };

Model StiffModel(const std::string& method, double tol, Forward forward) {
  Model m;
  m.method = method;
  m.tolerance = tol;
  m.intervals = 2;
  m.species = {"A", "B", "C"};
  m.species_start = {{"1", "F1+0.5"}, {"0", "F2"}, {"0", "F3"}};
  m.parameters = {"kf", "kb", "k"};
  m.parameter_eqs = {{"800", "800"}, {"300", "300"}, {"0.5", "2"}};
  const std::string kf = forward == Forward::ReadsSpecies ? "P1*F1"
                         : forward == Forward::ReadsTime  ? "P1*(1+EX(-T))"
                                                          : "P1";
  m.rates = {{1, 1, "-" + kf}, {1, 2, "P2"}, {2, 1, kf}, {2, 2, "-P2-P3"}, {3, 2, "P3"}};
  m.outputs = {"F1", "F2", "F3"};
  const double times[] = {0, 0.001, 0.01, 0.1, 0.5, 1, 1.5, 2, 3};
  for (double t : times) m.points.push_back({static_cast<int16_t>(t < 1 ? 1 : 2), t, {{1}, {1}, {1}}, {}});
  return m;
}

TEST(ExternalMethods, StiffModelsMatchStepDoublingAtTightTolerance) {
  struct Case {
    const char* method;
    double tol;
    Forward forward;
    double bound;
  };
  const Case cases[] = {{"EXACT", 1e-6, Forward::Constant, 1e-10},
                        {"BDF", 1e-9, Forward::Constant, 5e-8},
                        {"BDF", 1e-9, Forward::ReadsSpecies, 5e-8},
                        {"BDF", 1e-9, Forward::ReadsTime, 5e-8}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.method << " variant " << static_cast<int>(c.forward));
    InstanceRun reference(StiffModel("RUNGE-KUTTA QC", 1e-12, c.forward));
    ASSERT_EQ(reference.Setup(), 0);
    const auto want = reference.Simulate();
    ASSERT_EQ(reference.host.fitset.Erreur, 0);
    InstanceRun run(StiffModel(c.method, c.tol, c.forward));
    ASSERT_EQ(run.Setup(), 0) << run.in->failure;
    const auto y = run.Simulate();
    EXPECT_EQ(run.host.fitset.Erreur, 0);
    ASSERT_EQ(y.size(), want.size());
    double worst = 0;
    for (size_t j = 0; j < y.size(); ++j)
      for (int o = 0; o < 3; ++o) worst = std::max(worst, std::fabs(y[j][o] - want[j][o]));
    EXPECT_LT(worst, c.bound);
  }
}

TEST(ExternalMethods, ExactRefusesRatesThatReadSpeciesOrTime) {
  struct Case {
    Rate rate;
    const char* reason;  // part of the failure message
  };
  const Case cases[] = {
      {{1, 1, "-P1*F2"}, "the coefficient of A in the rate of A reads B"},
      {{2, 1, "P1*EX(-T)"}, "the coefficient of A in the rate of B reads the time T"},
      {{2, kFreeTerm, "F1*F3+T"}, "the free term of B reads A, C and the time T"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rate.text);
    Model m = ChainModel("EXACT", 1e-6);
    m.rates.push_back(c.rate);
    InstanceRun run(m);
    EXPECT_EQ(run.Setup(), kErreurMethod);
    EXPECT_EQ(run.in->failure_kind, FailureKind::Refused);
    EXPECT_NE(run.in->failure.find(c.reason), std::string::npos) << run.in->failure;
    // Nothing can be simulated.
    run.Simulate();
    EXPECT_EQ(run.host.fitset.Erreur, kErreurMethod);
    // BDF takes the same model.
    m.method = "BDF";
    InstanceRun bdf(m);
    EXPECT_EQ(bdf.Setup(), 0) << bdf.in->failure;
  }
}

TEST(ExternalMethods, OnlyInstancesThatAcceptThemKnowTheNames) {
  RegisterMethodLibrary();
  for (const char* method : {"EXACT", "BDF"}) {
    SCOPED_TRACE(method);
    const Model m = ChainModel(method, 1e-6);
    Host host(m);  // the exported call: an unknown method
    host.CalculInitial();
    EXPECT_EQ(host.fitset.Erreur, kErreurMethod);
    host.Fin();
    InstanceRun refusing(m, /*accept=*/false);
    EXPECT_EQ(refusing.Setup(), kErreurMethod);
    InstanceRun accepting(m);
    EXPECT_EQ(accepting.Setup(), 0);
    // Names match exactly, as the built-in ones do.
    Model lower = m;
    lower.method = method == std::string("EXACT") ? "exact" : "bdf";
    InstanceRun misspelt(lower);
    EXPECT_EQ(misspelt.Setup(), kErreurMethod);
  }
}

TEST(ExternalMethods, EngineStatusesAsTheBuiltInEnginesReportThem) {
  struct Case {
    const char* method;
    double tol;
    const char* k1;       // parameter k1 of interval 1
    bool repeat_time;     // the last two points share their time
    int16_t erreur;       // after the simulation
  };
  const Case cases[] = {
      {"EXACT", 1e-6, "1.3", true, kStatusEmptyInterval},
      {"BDF", 1e-6, "1.3", true, kStatusEmptyInterval},
      {"BDF", 0.0, "1.3", false, kStatusTolerance},
      // exp of a huge rate constant over a gap overflows: the state leaves the finite numbers.
      {"EXACT", 1e-6, "-1E300", false, kErreurNonFinite},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.method) + " " + c.k1);
    Model m = ChainModel(c.method, c.tol);
    m.intervals = 1;
    for (auto& eqs : m.parameter_eqs) eqs.resize(1);
    for (auto& s : m.species_start) s.resize(1);
    m.parameter_eqs[0][0] = c.k1;
    m.points.resize(4);
    for (Point& p : m.points) p.interval = 1;
    if (c.repeat_time) m.points[3].time = m.points[2].time;
    InstanceRun run(m);
    ASSERT_EQ(run.Setup(), 0);
    const auto y = run.Simulate();
    EXPECT_EQ(run.host.fitset.Erreur, c.erreur);
  }
}

// A fast oscillation over a long gap: CVODE needs more than kMaxEngineSteps steps and stops
// with the step budget's status, as the built-in engines do; the next gap starts afresh.
TEST(ExternalMethods, BdfStopsAtTheStepBudget) {
  Model m;
  m.method = "BDF";
  m.tolerance = 1e-6;
  m.species = {"A", "B"};
  m.species_start = {{"1"}, {"0"}};
  m.parameters = {"w"};
  m.parameter_eqs = {{"1E4"}};
  m.rates = {{1, 2, "P1"}, {2, 1, "-P1"}};
  m.outputs = {"F1*F1+F2*F2"};
  for (double t : {0.0, 1e-3, 1e4}) m.points.push_back({1, t, {{1}}, {}});
  InstanceRun run(m);
  ASSERT_EQ(run.Setup(), 0);
  const auto file = run.Simulate();
  EXPECT_EQ(run.host.fitset.Erreur, kStatusStepBudget);
  EXPECT_EQ(file[1][0], kStatusStepBudget);  // the last call failed: every written value
  // The short gap before it was integrated (the point table keeps its value).
  EXPECT_NEAR(run.in->state.points->Points[1].YCalc[0], 1.0, 1e-3);
  EXPECT_EQ(run.in->state.points->Points[2].YCalc[0], kStatusStepBudget);
}

// dA/dt = A^2 from A = 1 leaves the finite numbers at t = 1. Approaching it, CVODE's step
// shrinks until it no longer moves the time: the gap that crosses it stops there (status 2,
// not reached) rather than spending the step budget (16) without advancing, and so does the
// next gap, which starts from where that one stopped.
TEST(ExternalMethods, BdfStopsWhereABlowUpStopsTheTime) {
  Model m;
  m.method = "BDF";
  m.tolerance = 1e-8;
  m.species = {"A"};
  m.species_start = {{"1"}};
  m.rates = {{1, 1, "F1"}};
  m.outputs = {"F1"};
  for (double t : {0.0, 0.5, 2.0, 3.0}) m.points.push_back({1, t, {{1}}, {}});
  InstanceRun run(m);
  ASSERT_EQ(run.Setup(), 0);
  run.Simulate();
  const PointRecord* p = run.in->state.points->Points;
  EXPECT_NEAR(p[1].YCalc[0], 2.0, 1e-5);  // 1 / (1 - t)
  EXPECT_EQ(p[2].YCalc[0], kStatusNotReached);
  EXPECT_EQ(p[3].YCalc[0], kStatusNotReached);
  EXPECT_EQ(run.host.fitset.Erreur, kStatusNotReached);
}

// The fit's sensitivity walks run on scratch tables between the live ones, each with other
// adjustables: the engines' kept work must follow. A -> B fitted from away from the truth
// (k = 0.5, A0 = 2) ends where the same fit with "RUNGE-KUTTA QC" at 1e-12 ends, and within
// the fit's precision of the truth.
TEST(ExternalMethods, FitsEndWhereTheStepDoublingFitEnds) {
  auto fit = [](const char* method, double tol) {
    Model m = FirstOrderModel({0, 0.5, 1, 2, 4, 6});  // the walk starts at the first point
    m.method = method;
    m.tolerance = tol;
    m.adjustables[0].value = 0.8;
    m.adjustables[1].value = 1.5;
    InstanceRun run(m);
    EXPECT_EQ(run.Setup(), 0);
    run.Simulate();
    for (int k = 0; k < 50 && !run.host.fitset.Done && run.host.fitset.Erreur == 0; ++k)
      Instance_fit(*run.in, &run.host.initials, &run.host.fitset, &run.host.adjustables);
    EXPECT_EQ(run.host.fitset.Erreur, 0);
    EXPECT_TRUE(run.host.fitset.Done);
    return std::vector<double>{run.host.adjustables.Value[0], run.host.adjustables.Value[1]};
  };
  const std::vector<double> reference = fit("RUNGE-KUTTA QC", 1e-12);
  struct Case {
    const char* method;
    double tol;
    double bound;  // on the distance to the reference fit
  };
  for (const Case& c : {Case{"EXACT", 1e-6, 1e-10}, Case{"BDF", 1e-10, 1e-8}}) {
    SCOPED_TRACE(c.method);
    const std::vector<double> v = fit(c.method, c.tol);
    EXPECT_NEAR(v[0], reference[0], c.bound);
    EXPECT_NEAR(v[1], reference[1], c.bound);
    EXPECT_NEAR(v[0], 0.5, 1e-5);
    EXPECT_NEAR(v[1], 2.0, 1e-5);
  }
}

// EXACT's wide step and Eigen's product, which it stands in for, agree to the last bit for
// every species count: entries and species of both signs, zeros of both signs (a network's
// exponential is half zeros, its species start at zero), huge and tiny magnitudes, and a
// species that left the finite numbers.
TEST(ExternalMethods, ExactWideStepIsEigensProductBitForBit) {
  uint64_t state = 0x9e3779b97f4a7c15u;
  auto next = [&state] {  // xorshift: the same draws on every machine
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  };
  auto draw = [&next] {
    const uint64_t r = next();
    switch (r % 8) {
      case 0: return 0.0;
      case 1: return -0.0;
      case 2: return std::ldexp(static_cast<double>(r >> 11), -40) * 1e-300;
      default: return (static_cast<double>(r >> 11) / 9007199254740992.0 - 0.5) * 4;
    }
  };
  int wide = 0, small = 0;
  for (int n = 1; n <= 30; ++n) {
    for (int round = 0; round < 20; ++round) {
      Eigen::MatrixXd e(n, n + 1);
      for (int j = 0; j <= n; ++j)
        for (int i = 0; i < n; ++i) e(i, j) = draw();
      std::vector<double> y(n);
      for (double& v : y) v = draw() * (round % 5 == 0 ? 1e150 : 1.0);
      if (round == 7) y[static_cast<size_t>(n / 2)] = INFINITY;
      if (round == 8) y[0] = NAN;
      Eigen::VectorXd want = e.col(n);
      want.noalias() += e.leftCols(n) * Eigen::Map<const Eigen::VectorXd>(y.data(), n);
      std::vector<double> got(n, 123.0);
      if (!ExactStepWide(e.data(), n, y.data(), got.data())) continue;
      ++(n < 4 ? small : wide);
      for (int i = 0; i < n; ++i) {
        const bool same = std::memcmp(&got[static_cast<size_t>(i)], &want(i), sizeof(double)) == 0;
        EXPECT_TRUE(same || (std::isnan(got[static_cast<size_t>(i)]) && std::isnan(want(i))))
            << "n " << n << " round " << round << " row " << i << ": " << got[static_cast<size_t>(i)]
            << " against " << want(i);
      }
    }
  }
  EXPECT_EQ(small, 3 * 20);  // one to three species on any processor
  if (wide == 0) GTEST_SKIP() << "no 256-bit vectors on this processor";
  EXPECT_EQ(wide, 27 * 20);  // every count from 4 species up
}

// BDF's vector operations against the serial vector's own, bit for bit: every operation CVODE
// calls per step, with the coefficients the serial sum treats apart (+-1, 0, a = b, a = -b),
// with z the same vector as x or y, and at lengths around the step of a vectorised loop.
TEST(ExternalMethods, SmallVectorOpsAreTheSerialVectorsBitForBit) {
  SUNContext context = nullptr;
  ASSERT_EQ(SUNContext_Create(nullptr, &context), 0);
  uint64_t state = 0x2545f4914f6cdd1du;
  auto draw = [&state] {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    if (state % 11 == 0) return -0.0;
    return (static_cast<double>(state >> 11) / 9007199254740992.0 - 0.5) * 8;
  };
  const double coefficients[] = {1.0, -1.0, 0.0, 0.75, -0.75, 1.0 / 3.0, 2.5, -2.5};
  for (int n : {1, 3, 4, 5, 8, 30}) {
    // Three vectors with the serial operations and three with ours, holding the same values.
    N_Vector mine[3], theirs[3];
    for (int k = 0; k < 3; ++k) {
      theirs[k] = N_VNew_Serial(n, context);
      mine[k] = N_VNew_Serial(n, context);
      UseSmallVectorOps(mine[k]);
    }
    auto fill = [&] {
      for (int k = 0; k < 3; ++k)
        for (int i = 0; i < n; ++i) NV_Ith_S(theirs[k], i) = NV_Ith_S(mine[k], i) = draw();
    };
    auto same = [&](const char* what, double a, double b) {
      for (int k = 0; k < 3; ++k)
        for (int i = 0; i < n; ++i)
          ASSERT_EQ(std::memcmp(&NV_Ith_S(mine[k], i), &NV_Ith_S(theirs[k], i), sizeof(double)), 0)
              << what << " n " << n << " a " << a << " b " << b << " vector " << k << " entry "
              << i;
    };
    for (double a : coefficients)
      for (double b : coefficients)
        for (int z : {0, 1, 2}) {  // z is x, y or a third vector
          fill();
          N_VLinearSum(a, theirs[0], b, theirs[1], theirs[z]);
          N_VLinearSum(a, mine[0], b, mine[1], mine[z]);
          same("linear sum", a, b);
          double c[3] = {a, b, 0.5};
          N_VLinearCombination(3, c, theirs, theirs[z]);
          N_VLinearCombination(3, c, mine, mine[z]);
          same("linear combination", a, b);
          N_VScaleAddMulti(2, c, theirs[z], theirs, z == 2 ? theirs : theirs + 1);
          N_VScaleAddMulti(2, c, mine[z], mine, z == 2 ? mine : mine + 1);
          same("scale-add", a, b);
          N_VScale(a, theirs[0], theirs[z]);
          N_VScale(a, mine[0], mine[z]);
          N_VAddConst(theirs[1], b, theirs[2]);
          N_VAddConst(mine[1], b, mine[2]);
          same("scale, add", a, b);
        }
    fill();
    N_VAbs(theirs[0], theirs[1]);
    N_VAbs(mine[0], mine[1]);
    N_VInv(theirs[1], theirs[2]);
    N_VInv(mine[1], mine[2]);
    same("abs, inverse", 0, 0);
    const double norm_theirs = N_VWrmsNorm(theirs[0], theirs[2]);
    const double norm_mine = N_VWrmsNorm(mine[0], mine[2]);
    EXPECT_EQ(std::memcmp(&norm_theirs, &norm_mine, sizeof(double)), 0) << "n " << n;
    N_VConst(0.25, theirs[0]);
    N_VConst(0.25, mine[0]);
    same("const", 0, 0);
    for (int k = 0; k < 3; ++k) {
      N_VDestroy(theirs[k]);
      N_VDestroy(mine[k]);
    }
  }
  SUNContext_Free(&context);
}

TEST(ExternalMethods, FactsCoverEveryMethodName) {
  for (const MethodEntry& e : kMethods) {
    std::string name(e.name.begin(), e.name.end());
    const MethodFacts* f = FactsForMethod(name);
    ASSERT_NE(f, nullptr) << name;
    EXPECT_FALSE(f->external);
    EXPECT_LT(f->tolerance_low, f->tolerance_high);
  }
  for (int k = 0; k < MethodLibraryTable().count; ++k) {
    const std::u16string_view n = MethodLibraryTable().methods[k].name;
    const MethodFacts* f = FactsForMethod(std::string(n.begin(), n.end()));
    ASSERT_NE(f, nullptr);
    EXPECT_TRUE(f->external);
  }
  EXPECT_EQ(FactsForMethod("RUNGE-KUTTA  4"), nullptr);
}

}  // namespace
}  // namespace tarvo::testhost
