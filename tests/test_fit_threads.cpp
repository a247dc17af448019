// The perturbed walks of a fitting step shared out among worker instances and threads give,
// bit for bit, what one thread gives: every figure the host receives, every adjustable, the
// simulated outputs and the sensitivity columns after each call, and a raised failure in a
// column with the state it leaves. Also which set-ups start workers and that release stops
// them. CI runs this program under ThreadSanitizer too.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "api/instance.h"
#ifdef TARVO_METHOD_LIBRARY
#include "engines/external/method_library.h"
#endif
#include "library/workers.h"
#include "support/fit_models.h"
#include "support/host.h"
#include "support/library_models.h"

namespace tarvo::testhost {
namespace {

constexpr int kFits = 5;

// Two intervals (a dose of S at the second, P continued), five free adjustables, formulas with
// groups, powers, EX and LN (nested records and function values), standard deviations at
// every call.
Model FiveFree() {
  Model m;
  m.method = "RUNGE-KUTTA 5";
  m.tolerance = 1e-6;
  m.max_iter = 0;
  m.intervals = 2;
  m.species = {"S", "P"};
  m.species_start = {{"A3", "F1+0.05"}, {"0", "F2"}};
  m.adjustables = {{"Vmax", 0.03, "", true}, {"Km", 0.02, "", true}, {"S0", 0.05, "", true},
                   {"eps", 5.0, "", true},   {"q", 8.0, "", true},   {"h", 0.0, "A4*2", true}};
  m.rates = {{1, 1, "-A1/(A2+F1)"}, {2, 1, "A1/(A2+F1)"}};
  m.outputs = {"A4*F2", "A5*F1^1.5", "LN(1+A6*F2)+EX(-F1)"};
  const double times[] = {0, 1, 2, 4, 6, 6, 8, 10, 14};
  for (int j = 0; j < 9; ++j) {
    const double t = times[j];
    const double s = 0.04 * std::exp(-0.1 * t);
    m.points.push_back({static_cast<int16_t>(j < 5 ? 1 : 2), t,
                        {{5 * (0.05 - s), 5.1 * (0.05 - s)}, {8 * std::pow(s, 1.5)},
                         {std::log(1 + 10 * (0.05 - s)) + std::exp(-s)}},
                        {}});
  }
  return m;
}

// The second of three free adjustables, raised by 1 %, takes the base of a square root
// below 0: the fitting step raises in its column.
Model FailsInColumnTwo() {
  Model m = FirstOrderModel({0.5, 1, 2, 4}, 0.5, 2.0);
  m.adjustables.push_back({"c", 1.0, "", true});
  m.outputs = {"F1", "F2*(1.005-A3)^0.5"};
  return m;
}

struct Case {
  const char* name;
  Model model;
};

std::vector<Case> Cases() {
  Model first = FirstOrderModel({0.5, 1, 2, 4}, 0.5, 2.0);
  first.method = "RUNGE-KUTTA QC";
  first.tolerance = 1e-6;
  first.adjustables[0].value = 0.8;
  first.adjustables[1].value = 1.5;
  std::vector<Case> cases = {
      {"first order, step doubling", first},
      {"consecutive, bound k2, exponential",
       ConsecutiveModel({.method = "CHU-BERMAN", .tolerance = 1e-6, .bound = true})},
      {"five free, two intervals", FiveFree()},
  };
#ifdef TARVO_METHOD_LIBRARY
  // The method library's solvers keep memory per walk: each worker has its own.
  RegisterMethodLibrary();
  Model exact = first;
  exact.method = "EXACT";
  Model bdf = FiveFree();
  bdf.method = "BDF";
  cases.push_back({"first order, EXACT", exact});
  cases.push_back({"five free, two intervals, BDF", bdf});
#endif
  cases.push_back({"a column raises", FailsInColumnTwo()});  // last: TheComparedFitsRun
  return cases;
}

// Set-up, a simulation, kFits fitting calls and Fin on an instance of its own with the given
// threads; after each call the host's codes and figures, the values and deviations, the
// simulated outputs and the sensitivities, as bit patterns. Deferred: the library's choice of
// threads with the workers deferred, each fitting call's walks taken for long ones, so that
// the first call makes the workers and every call shares its differences.
struct FitBits {
  std::vector<uint64_t> bits;
  int workers = 0;  // worker instances the set-up (deferred: the fitting calls) started
};

FitBits FitWith(const Model& model, int threads, bool deferred = false) {
  FitBits r;
  Host h(model);
  auto in = std::make_unique<Instance>();
  in->state.fit_threads = threads;
  in->state.defer_workers = deferred;
  auto record = [&](bool failed) {
    const BFitSet& f = h.fitset;
    r.bits.push_back(static_cast<uint64_t>(f.Erreur) << 32 | static_cast<uint16_t>(f.Done));
    r.bits.push_back(failed ? static_cast<uint64_t>(in->failure_kind) : 0);
    for (double v : {f.Coeff, f.ErreurExp, f.ErreurCalc}) r.bits.push_back(std::bit_cast<uint64_t>(v));
    for (int a = 0; a < h.initials.NAjustables; ++a) {
      r.bits.push_back(std::bit_cast<uint64_t>(h.adjustables.Value[a]));
      r.bits.push_back(std::bit_cast<uint64_t>(h.adjustables.SD[a]));
      r.bits.push_back(std::bit_cast<uint64_t>(in->state.adjustables[a].Value));
    }
    const PointTable* t = in->state.points;
    if (!t) return;
    for (int j = 0; j < h.initials.NPoints; ++j)
      for (int o = 0; o < h.initials.NSorties; ++o) {
        r.bits.push_back(std::bit_cast<uint64_t>(t->Points[j].YCalc[o]));
        for (int a = 0; a < h.initials.NAjustables; ++a)
          r.bits.push_back(std::bit_cast<uint64_t>(t->Points[j].Sens[o][a]));
      }
  };
  BInitials* i = &h.initials;
  BFitSet* f = &h.fitset;
  BAjustables* adj = &h.adjustables;
  record(Instance_setup(*in, i, f, h.especes.data(), adj, h.parametres.data(), &h.sorties,
                        h.derivees.data()));
  r.workers = in->state.workers ? static_cast<int>(in->state.workers->instances.size()) : 0;
  record(Instance_simulate(*in, i, f, adj));
  for (int k = 0; k < kFits; ++k) {
    if (deferred) in->state.walk_seconds = 1.0;
    record(Instance_fit(*in, i, f, adj));
  }
  if (deferred) r.workers = in->state.workers ? static_cast<int>(in->state.workers->instances.size()) : 0;
  const int16_t mode = 0;
  record(Instance_release(*in, &mode));
  EXPECT_EQ(in->state.workers, nullptr) << "Fin stops the workers";
  return r;
}

int FreeCount(const Model& model) {
  int n = 0;
  for (const Adjustable& a : model.adjustables) n += a.adjustable && a.equal_to.empty();
  return n;
}

TEST(FitThreads, EveryThreadCountGivesTheSequentialFit) {
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.name);
    const FitBits one = FitWith(c.model, 1);
    EXPECT_EQ(one.workers, 0);
    for (int threads : {2, 3, 8}) {
      SCOPED_TRACE(threads);
      const FitBits many = FitWith(c.model, threads);
      EXPECT_EQ(many.workers, std::min(threads, FreeCount(c.model)) - 1);
      ASSERT_EQ(many.bits.size(), one.bits.size());
      for (size_t k = 0; k < one.bits.size(); ++k)
        ASSERT_EQ(many.bits[k], one.bits[k]) << "entry " << k;
    }
    const FitBits deferred = FitWith(c.model, 0, true);
    const int cap = ThreadsFromEnvironment();
    if (std::thread::hardware_concurrency() > 1 && cap != 1 && FreeCount(c.model) > 1) {
      EXPECT_GT(deferred.workers, 0) << "the first fitting call makes the deferred workers";
    }
    ASSERT_EQ(deferred.bits.size(), one.bits.size());
    for (size_t k = 0; k < one.bits.size(); ++k)
      ASSERT_EQ(deferred.bits[k], one.bits[k]) << "deferred, entry " << k;
  }
}

// The comparisons above prove little unless the fits ran: the failing case raises in its
// second column at the first fitting call, and the others fit without error and move.
TEST(FitThreads, TheComparedFitsRun) {
  const std::vector<Case> cases = Cases();
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].name);
    Host h(cases[i].model);
    Instance in;
    in.state.fit_threads = 2;
    BInitials* ini = &h.initials;
    BFitSet* f = &h.fitset;
    BAjustables* adj = &h.adjustables;
    ASSERT_FALSE(Instance_setup(in, ini, f, h.especes.data(), adj, h.parametres.data(),
                                &h.sorties, h.derivees.data()));
    ASSERT_EQ(f->Erreur, 0);
    ASSERT_FALSE(Instance_simulate(in, ini, f, adj));
    const double before = adj->Value[0];
    const bool raised = Instance_fit(in, ini, f, adj);
    if (i + 1 == cases.size()) {
      EXPECT_TRUE(raised);
      EXPECT_NE(in.failure.find("negative base"), std::string::npos) << in.failure;
    } else {
      EXPECT_FALSE(raised) << in.failure;
      EXPECT_EQ(f->Erreur, 0);
      EXPECT_NE(adj->Value[0], before);
    }
    const int16_t mode = 0;
    Instance_release(in, &mode);
  }
}

// The lanes of a fitted model (its own state and each worker), walked at once on threads of
// their own at different values, give the outputs and the status that a simulation at each
// value set gives.
TEST(FitThreads, LanesWalkedAtOnceGiveTheSimulations) {
  std::vector<Case> cases = Cases();
  cases.pop_back();  // the raising case fits no further
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Host h(c.model);
    Instance in;
    in.state.fit_threads = 3;
    ASSERT_FALSE(Instance_setup(in, &h.initials, &h.fitset, h.especes.data(), &h.adjustables,
                                h.parametres.data(), &h.sorties, h.derivees.data()));
    ASSERT_FALSE(Instance_simulate(in, &h.initials, &h.fitset, &h.adjustables));
    ASSERT_FALSE(Instance_fit(in, &h.initials, &h.fitset, &h.adjustables));
    const int32_t lanes = Instance_lanes(in);
    ASSERT_GE(lanes, 2);
    std::vector<std::vector<double>> values(static_cast<size_t>(lanes));
    for (int32_t k = 0; k < lanes; ++k) {
      values[k].assign(h.adjustables.Value, h.adjustables.Value + h.initials.NAjustables);
      values[k][0] *= 1 + 0.01 * (k + 1);
    }
    std::vector<std::vector<std::vector<double>>> walked(static_cast<size_t>(lanes));
    std::vector<int16_t> erreur(static_cast<size_t>(lanes), -1);
    std::vector<std::string> message(static_cast<size_t>(lanes));
    {
      std::vector<std::thread> threads;
      for (int32_t k = 0; k < lanes; ++k)
        threads.emplace_back([&, k] {
          for (int rep = 0; rep < 2; ++rep)
            if (!Instance_walk(in, k, values[k].data(), static_cast<int32_t>(values[k].size()),
                               walked[k], erreur[k], message[k]))
              return;
        });
      for (std::thread& t : threads) t.join();
    }
    for (int32_t k = 0; k < lanes; ++k) {
      SCOPED_TRACE(k);
      ASSERT_TRUE(message[k].empty()) << message[k];
      for (int a = 0; a < h.initials.NAjustables; ++a)
        ASSERT_TRUE(Instance_set_value(in, a, values[k][static_cast<size_t>(a)]));
      BFitSet f = h.fitset;
      BAjustables adj = h.adjustables;
      ASSERT_FALSE(Instance_simulate(in, &h.initials, &f, &adj));
      std::vector<std::vector<double>> simulated;
      ASSERT_TRUE(Instance_outputs(in, simulated));
      EXPECT_EQ(walked[k], simulated);
      EXPECT_EQ(erreur[k], f.Erreur);
    }
    const int16_t mode = 0;
    Instance_release(in, &mode);
  }
}

// Workers are started only for a model with two free adjustables or more, and a set-up
// replacing a model replaces its workers.
TEST(FitThreads, WorkersFollowTheLoadedModel) {
  Model one_free = FirstOrderModel({0.5, 1, 2}, 0.5, 2.0);
  one_free.adjustables[1].adjustable = false;
  Host single(one_free), pair(FirstOrderModel({0.5, 1, 2}, 0.5, 2.0));
  Instance in;
  in.state.fit_threads = 4;
  auto setup = [&in](Host& h) {
    return Instance_setup(in, &h.initials, &h.fitset, h.especes.data(), &h.adjustables,
                          h.parametres.data(), &h.sorties, h.derivees.data());
  };
  ASSERT_FALSE(setup(pair));
  ASSERT_NE(in.state.workers, nullptr);
  EXPECT_EQ(in.state.workers->pool->size(), 1);
  ASSERT_FALSE(setup(single));
  EXPECT_EQ(in.state.workers, nullptr);
  ASSERT_FALSE(setup(pair));
  EXPECT_NE(in.state.workers, nullptr);
  const int16_t mode = 0;
  Instance_release(in, &mode);
  EXPECT_EQ(in.state.workers, nullptr);
}

// A job goes to the workers when the work they can take off the caller, walks times the last
// walk's time, is worth a wake-up: many short walks as well as one long one; never when the
// set-up provided for none. Deferred workers are made by the first job worth sharing, and only
// then; a release leaves none.
TEST(FitThreads, ShareOutWeighsTheWholeJob) {
  Host pair(FirstOrderModel({0.5, 1, 2}, 0.5, 2.0));
  Instance in;
  in.state.fit_threads = 2;
  ASSERT_FALSE(Instance_setup(in, &pair.initials, &pair.fitset, pair.especes.data(),
                              &pair.adjustables, pair.parametres.data(), &pair.sorties,
                              pair.derivees.data()));
  ASSERT_NE(in.state.workers, nullptr);
  in.state.fit_threads = 0;  // from here on the walks' time decides
  const struct {
    double walk_seconds;
    int32_t walks;
    bool shared;
  } cases[] = {{50e-6, 1, false}, {50e-6, 3, false}, {50e-6, 7, true},
               {250e-6, 1, true}, {0.0, 49, false}};
  for (const auto& c : cases) {
    in.state.walk_seconds = c.walk_seconds;
    EXPECT_EQ(ShareOut(in.state, c.walks), c.shared) << c.walk_seconds << " s x " << c.walks;
  }
  in.state.walk_seconds = 1.0;
  auto workers = std::move(in.state.workers);
  in.state.planned_threads = 1;
  EXPECT_FALSE(ShareOut(in.state, 8));
  EXPECT_EQ(in.state.workers, nullptr);
  in.state.workers = std::move(workers);
  const int16_t mode = 0;
  Instance_release(in, &mode);

  Host again(FirstOrderModel({0.5, 1, 2}, 0.5, 2.0));  // the release erased pair's file
  Instance deferred;
  deferred.state.defer_workers = true;
  auto setup = [&] {
    return Instance_setup(deferred, &again.initials, &again.fitset, again.especes.data(),
                          &again.adjustables, again.parametres.data(), &again.sorties,
                          again.derivees.data());
  };
  ASSERT_FALSE(setup());
  EXPECT_EQ(deferred.state.workers, nullptr);
  if (deferred.state.planned_threads < 2) GTEST_SKIP() << "one core: no workers to defer";
  deferred.state.walk_seconds = 50e-6;
  EXPECT_FALSE(ShareOut(deferred.state, 1));
  EXPECT_EQ(deferred.state.workers, nullptr);
  deferred.state.walk_seconds = 250e-6;
  EXPECT_TRUE(ShareOut(deferred.state, 1));
  ASSERT_NE(deferred.state.workers, nullptr);
  EXPECT_EQ(deferred.state.workers->pool->size(), 1);
  Instance_release(deferred, &mode);
  EXPECT_EQ(deferred.state.workers, nullptr);
  EXPECT_FALSE(ShareOut(deferred.state, 8));
  EXPECT_EQ(deferred.state.workers, nullptr);
}

}  // namespace
}  // namespace tarvo::testhost
