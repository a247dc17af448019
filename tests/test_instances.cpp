// Engine states are independent values: two instances loaded with different models give, run
// side by side in two threads or interleaved call by call in one, bit for bit what each gives
// run alone. Each instance is driven through the C++ calls of api/instance.h with the blocks
// and exchange file of its own test host, and keeps its failures to itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <latch>
#include <memory>
#include <thread>
#include <vector>

#include "api/exports.h"
#include "api/host_records.h"
#include "api/instance.h"
#include "support/fit_models.h"
#include "support/host.h"
#include "support/library_models.h"

namespace tarvo::testhost {
namespace {

constexpr int kFits = 4;  // Ajustement calls after the first simulation

// A -> B by the step-doubling engine, fitted from away from the truth.
Model FirstOrder() {
  Model m = FirstOrderModel({0.5, 1, 2, 4}, 0.5, 2.0);
  m.method = "RUNGE-KUTTA QC";
  m.tolerance = 1e-6;
  m.adjustables[0].value = 0.8;
  m.adjustables[1].value = 1.5;
  return m;
}

// A -> B -> C by the exponential engine, with k2 bound to A1*A2 through an EqualTo.
Model Consecutive() {
  return ConsecutiveModel({.method = "CHU-BERMAN", .tolerance = 1e-6, .bound = true});
}

// One model on one instance: set-up, a simulation, kFits fitting iterations and Fin, each call
// a step of its own so that calls on two instances can be interleaved. After every call the
// host's figures and values and the engine's YCalc are recorded as bit patterns.
class ModelRun {
 public:
  ModelRun(Instance& in, const Model& model) : in_(in), st_(in.state), host_(model) {}

  // The number of calls the run makes.
  static constexpr int kCalls = 2 + kFits + 1;

  void Call(int k) {
    BInitials* in = &host_.initials;
    BFitSet* fs = &host_.fitset;
    BAjustables* adj = &host_.adjustables;
    if (k == 0) {
      Instance_setup(in_, in, fs, host_.especes.data(), adj, host_.parametres.data(),
                     &host_.sorties, host_.derivees.data());
    } else if (k == 1) {
      Instance_simulate(in_, in, fs, adj);
    } else if (k < kCalls - 1) {
      Instance_fit(in_, in, fs, adj);
    } else {
      const int16_t mode = 0;
      Instance_release(in_, &mode);
    }
    bits.emplace_back();
    Record(bits.back());
  }

  std::vector<std::vector<uint64_t>> bits;  // per call: Coeff, ErreurExp, ErreurCalc, then
                                            // each adjustable's Value and SD, then YCalc
  std::vector<int> codes;                   // Erreur and Done after each call

 private:
  void Record(std::vector<uint64_t>& out) {
    auto add = [&out](double v) { out.push_back(std::bit_cast<uint64_t>(v)); };
    const BFitSet& f = host_.fitset;
    codes.push_back(f.Erreur);
    codes.push_back(f.Done);
    for (double v : {f.Coeff, f.ErreurExp, f.ErreurCalc}) add(v);
    for (int a = 0; a < host_.initials.NAjustables; ++a) {
      add(host_.adjustables.Value[a]);
      add(host_.adjustables.SD[a]);
    }
    if (!st_.points) return;
    for (int j = 0; j < host_.initials.NPoints; ++j)
      for (int o = 0; o < host_.initials.NSorties; ++o) add(st_.points->Points[j].YCalc[o]);
  }

  Instance& in_;
  EngineState& st_;
  Host host_;
};

struct Outcome {
  std::vector<std::vector<uint64_t>> bits;
  std::vector<int> codes;
  bool operator==(const Outcome&) const = default;
};

Outcome Alone(Instance& in, const Model& model) {
  ModelRun r(in, model);
  for (int k = 0; k < ModelRun::kCalls; ++k) r.Call(k);
  return {r.bits, r.codes};
}

// What each model gives on an instance of its own, with nothing else running. The fit must
// have run without error and moved the values, or the comparisons below would prove little.
struct References {
  Model models[2] = {FirstOrder(), Consecutive()};
  Outcome outcome[2];
  References() {
    for (int i = 0; i < 2; ++i) {
      auto in = std::make_unique<Instance>();
      outcome[i] = Alone(*in, models[i]);
    }
  }
};

const References& Reference() {
  static const References r;
  return r;
}

TEST(Instances, ReferenceFitsRunAndMove) {
  const References& ref = Reference();
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(ref.models[i].method);
    const Outcome& o = ref.outcome[i];
    for (size_t k = 0; k < o.codes.size(); k += 2) EXPECT_EQ(o.codes[k], 0) << "call " << k / 2;
    // The host's first adjustable after the simulation and after the last fit.
    ASSERT_EQ(o.bits.size(), static_cast<size_t>(ModelRun::kCalls));
    EXPECT_NE(o.bits[1].at(3), o.bits[ModelRun::kCalls - 2].at(3));
  }
  EXPECT_NE(ref.outcome[0], ref.outcome[1]);
}

TEST(Instances, TwoThreadsGiveWhatEachGivesAlone) {
  constexpr int kRepeats = 20;
  const References& ref = Reference();
  std::vector<Outcome> got[2];
  std::latch start(2);
  auto work = [&](int i) {
    auto in = std::make_unique<Instance>();
    start.arrive_and_wait();
    for (int r = 0; r < kRepeats; ++r) got[i].push_back(Alone(*in, ref.models[i]));
  };
  std::thread a(work, 0), b(work, 1);
  a.join();
  b.join();
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(got[i].size(), static_cast<size_t>(kRepeats));
    for (int r = 0; r < kRepeats; ++r)
      EXPECT_TRUE(got[i][r] == ref.outcome[i]) << "model " << i << " repeat " << r;
  }
}

// Calls alternate between the instances, in both orders, and one instance is loaded while the
// other is released.
TEST(Instances, InterleavedCallsGiveWhatEachGivesAlone) {
  const References& ref = Reference();
  for (int first = 0; first < 2; ++first) {
    SCOPED_TRACE(first);
    auto in0 = std::make_unique<Instance>();
    auto in1 = std::make_unique<Instance>();
    ModelRun runs[2] = {ModelRun(*in0, ref.models[0]), ModelRun(*in1, ref.models[1])};
    ModelRun& lead = runs[first];
    ModelRun& other = runs[1 - first];
    lead.Call(0);
    for (int k = 0; k < ModelRun::kCalls; ++k) {
      other.Call(k);
      if (k + 1 < ModelRun::kCalls) lead.Call(k + 1);
    }
    for (int i = 0; i < 2; ++i)
      EXPECT_TRUE((Outcome{runs[i].bits, runs[i].codes}) == ref.outcome[i]) << "model " << i;
  }
}

// A set-up that replaces a loaded model (no Fin between them) reuses the instance's tables and
// gives what a fresh instance gives; records the earlier model wrote beyond the new model's
// points are clear again.
TEST(Instances, AModelReplacingAnotherGivesWhatItGivesAlone) {
  const References& ref = Reference();
  for (int first = 0; first < 2; ++first) {
    SCOPED_TRACE(first);
    auto in = std::make_unique<Instance>();
    ModelRun earlier(*in, ref.models[first]);
    for (int k = 0; k < ModelRun::kCalls - 1; ++k) earlier.Call(k);  // no Fin
    const PointTable* tables[2] = {in->state.points, in->state.scratch};
    ModelRun later(*in, ref.models[1 - first]);
    later.Call(0);
    EXPECT_EQ(in->state.points, tables[0]);
    EXPECT_EQ(in->state.scratch, tables[1]);
    const int npoints = in->state.initials.NPoints;
    for (const PointTable* t : tables)
      for (int j = npoints; j < 8; ++j) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(&t->Points[j]);
        EXPECT_TRUE(std::all_of(bytes, bytes + sizeof(PointRecord), [](unsigned char b) {
          return b == 0;
        })) << "record " << j;
      }
    for (int k = 1; k < ModelRun::kCalls; ++k) later.Call(k);
    EXPECT_TRUE((Outcome{later.bits, later.codes}) == ref.outcome[1 - first]);
  }
}

// An in-process caller may hand the points over in memory, take the outputs from the instance
// and set a value without a new set-up: the same figures bit for bit as the file's way.
TEST(Instances, RecordsGivenInMemoryGiveWhatTheFileGives) {
  const References& ref = Reference();
  const Model& model = ref.models[0];
  const std::vector<FileRecord> records = ExchangeRecords(model.points);
  auto in = std::make_unique<Instance>();
  Instance_rewrite_file(*in, false);
  Instance_give_records(*in, records.data(), static_cast<int32_t>(records.size()));
  ModelRun run(*in, model);
  run.Call(0);
  EXPECT_EQ(in->state.given_records, nullptr) << "the records serve one set-up";
  run.Call(1);
  std::vector<std::vector<double>> y;
  ASSERT_TRUE(Instance_outputs(*in, y));
  ASSERT_EQ(y.size(), model.points.size());
  EXPECT_EQ(y[2][1], in->state.points->Points[2].YCalc[1]);
  for (int k = 2; k < ModelRun::kCalls; ++k) run.Call(k);
  EXPECT_TRUE((Outcome{run.bits, run.codes}) == ref.outcome[0]);
  EXPECT_FALSE(Instance_outputs(*in, y)) << "nothing loaded after Fin";

  // A value set on the loaded model simulates as a set-up with that value.
  Model moved = model;
  moved.adjustables[0].value = 0.65;
  Host fresh_host(moved), host(model);
  auto fresh = std::make_unique<Instance>();
  for (auto [i, h] : {std::pair{fresh.get(), &fresh_host}, std::pair{in.get(), &host}})
    ASSERT_FALSE(Instance_setup(*i, &h->initials, &h->fitset, h->especes.data(), &h->adjustables,
                                h->parametres.data(), &h->sorties, h->derivees.data()));
  EXPECT_TRUE(Instance_set_value(*in, 0, 0.65));
  EXPECT_FALSE(Instance_set_value(*in, host.initials.NAjustables, 1.0));
  std::vector<std::vector<double>> a, b;
  Instance_simulate(*fresh, &fresh_host.initials, &fresh_host.fitset, &fresh_host.adjustables);
  Instance_simulate(*in, &host.initials, &host.fitset, &host.adjustables);
  ASSERT_TRUE(Instance_outputs(*fresh, a) && Instance_outputs(*in, b));
  EXPECT_EQ(a, b);
  EXPECT_EQ(fresh_host.fitset.ErreurCalc, host.fitset.ErreurCalc);

  // A lane walked at those values gives the same outputs and status; a lane beyond the lanes,
  // or more values than adjustables, is refused with a message.
  const int32_t lanes = Instance_lanes(*in);
  ASSERT_GE(lanes, 1);
  std::vector<double> values(host.adjustables.Value,
                             host.adjustables.Value + host.initials.NAjustables);
  values[0] = 0.65;
  std::vector<std::vector<double>> walked;
  int16_t erreur = -1;
  std::string message;
  ASSERT_TRUE(Instance_walk(*in, 0, values.data(), static_cast<int32_t>(values.size()), walked,
                            erreur, message))
      << message;
  EXPECT_EQ(walked, a);
  EXPECT_EQ(erreur, fresh_host.fitset.Erreur);
  const struct {
    int32_t lane, count;
    const char* says;
  } refused[] = {{-1, 1, "no such lane"},
                 {lanes, 1, "no such lane"},
                 {0, host.initials.NAjustables + 1, "more values"}};
  values.push_back(1.0);
  for (const auto& r : refused) {
    EXPECT_FALSE(Instance_walk(*in, r.lane, values.data(), r.count, walked, erreur, message));
    EXPECT_NE(message.find(r.says), std::string::npos) << message;
  }

  // Fewer records than points: the failure of a short file.
  Instance_give_records(*in, records.data(), static_cast<int32_t>(records.size()) - 1);
  EXPECT_TRUE(Instance_setup(*in, &host.initials, &host.fitset, host.especes.data(),
                             &host.adjustables, host.parametres.data(), &host.sorties,
                             host.derivees.data()));
  EXPECT_EQ(in->failure_kind, FailureKind::InputOutput);
  EXPECT_NE(in->failure.find("fewer than NPoints"), std::string::npos) << in->failure;
}

// Each instance keeps the failure of its own last call: a raised one (a nil block), a refused
// model (a count beyond its table) and a clean call side by side, and none of them reaches the
// record that Tarvo_last_failure reads for the exported calls.
TEST(Instances, FailuresStayWithTheirInstance) {
  char before[256], after[256];
  const int32_t kind_before = Tarvo_last_failure(before, sizeof before);
  Host raised_host(FirstOrder()), refused_host(FirstOrder()), clean_host(FirstOrder());
  refused_host.initials.NEspeces = 31;
  auto raised = std::make_unique<Instance>();
  auto refused = std::make_unique<Instance>();
  auto clean = std::make_unique<Instance>();
  auto setup = [](Instance& in, Host& h, BFitSet* fitset) {
    return Instance_setup(in, &h.initials, fitset, h.especes.data(), &h.adjustables,
                          h.parametres.data(), &h.sorties, h.derivees.data());
  };
  EXPECT_TRUE(setup(*raised, raised_host, nullptr));
  EXPECT_FALSE(setup(*refused, refused_host, &refused_host.fitset));
  EXPECT_FALSE(setup(*clean, clean_host, &clean_host.fitset));
  EXPECT_EQ(raised->failure_kind, FailureKind::InvalidOperation);
  EXPECT_NE(raised->failure.find("nil"), std::string::npos) << raised->failure;
  EXPECT_EQ(refused->failure_kind, FailureKind::Refused);
  EXPECT_NE(refused->failure.find("NEspeces = 31"), std::string::npos) << refused->failure;
  EXPECT_EQ(refused_host.fitset.Erreur, kErreurCountLimit);
  EXPECT_EQ(clean->failure_kind, FailureKind::None);
  EXPECT_EQ(clean_host.fitset.Erreur, 0);
  EXPECT_EQ(Tarvo_last_failure(after, sizeof after), kind_before);
  EXPECT_STREQ(after, before);
  const int16_t mode = 0;
  for (Instance* in : {raised.get(), refused.get(), clean.get()}) Instance_release(*in, &mode);
}

}  // namespace
}  // namespace tarvo::testhost
