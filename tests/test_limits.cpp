// Models whose counts leave the library's tables are refused at set-up: a documented code in
// Erreur, a message naming the count and its limit, no simulation, and a safe Fin.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>

#include "library/state.h"
#include "platform/failure.h"
#include "support/host.h"
#include "support/library_models.h"

namespace tarvo::testhost {
namespace {

TEST(Limits, RefusedCounts) {
  struct Case {
    std::function<void(Host&)> change;
    int16_t erreur;
    const char* message;  // expected within Tarvo_last_failure's message
  };
  const Case cases[] = {
      {[](Host& h) { h.initials.NEspeces = 31; }, kErreurCountLimit, "NEspeces = 31"},
      {[](Host& h) { h.initials.NInterrupts = 31; }, kErreurCountLimit, "NInterrupts = 31"},
      {[](Host& h) { h.initials.NParametres = 51; }, kErreurCountLimit, "NParametres = 51"},
      {[](Host& h) { h.initials.NAjustables = 51; }, kErreurCountLimit, "NAjustables = 51"},
      {[](Host& h) { h.initials.NPoints = 1001; }, kErreurCountLimit, "NPoints = 1001"},
      {[](Host& h) { h.initials.NSorties = 41; }, kErreurCountLimit,
       "NSorties = 41 exceeds the limit of 40"},
      {[](Host& h) { h.initials.NEspeces = -1; }, kErreurCountLimit, "NEspeces = -1 is negative"},
      {[](Host& h) { h.initials.NPoints = -32768; }, kErreurCountLimit, "NPoints = -32768"},
      {[](Host& h) { h.model.points[1].nrep = {11}; }, kErreurReplicateLimit,
       "point 2, output 1: NRep = 11 is outside 0..10"},
      {[](Host& h) { h.model.points[2].nrep = {0, -1}; }, kErreurReplicateLimit, "NRep = -1"},
      {[](Host& h) { h.model.points[0].interval = 0; }, kErreurIntervalRange,
       "point 1: Interval = 0 is outside 1..1"},
      {[](Host& h) { h.model.points[2].interval = 2; }, kErreurIntervalRange, "Interval = 2"},
      {[](Host& h) {
         h.model.points[0].interval = 5;
         h.model.points[1].nrep = {12};
       },
       kErreurReplicateLimit + kErreurIntervalRange, "NRep = 12"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    Host h(FirstOrderModel({0, 1, 2}));
    c.change(h);
    h.WriteFile();
    h.CalculInitial();
    EXPECT_EQ(h.fitset.Erreur, c.erreur);
    std::string message;
    EXPECT_EQ(Host::LastFailure(&message), static_cast<int32_t>(FailureKind::Refused));
    EXPECT_NE(message.find(c.message), std::string::npos) << message;
    // A refused model is never simulated, however the host insists.
    const auto file = h.ReadFile();
    h.fitset.Erreur = 0;
    h.Simulate();
    EXPECT_EQ(h.fitset.Erreur, c.erreur);
    EXPECT_EQ(h.ReadFile().size(), file.size());
    h.Fin();
    EXPECT_EQ(Host::LastFailure(), 0);
    EXPECT_EQ(ProcessState().points, nullptr);
    EXPECT_FALSE(h.FileExists());
  }
}

// The largest model the tables hold loads and runs.
TEST(Limits, CountsAtTheirLimits) {
  Model m;
  m.tolerance = 1.0 / 16.0;  // steps of a quarter: exact sums, few steps
  m.intervals = kMaxIntervals;
  for (int s = 1; s <= kMaxSpecies; ++s) {
    m.species.push_back("S" + std::to_string(s));
    m.species_start.push_back(std::vector<std::string>(kMaxIntervals, "F" + std::to_string(s)));
    m.species_start.back()[0] = "1";
    m.rates.push_back({s, s, "-P1"});
  }
  for (int p = 1; p <= kMaxParameters; ++p) {
    m.parameters.push_back("P" + std::to_string(p));
    m.parameter_eqs.push_back(std::vector<std::string>(kMaxIntervals, "A1"));
  }
  for (int a = 1; a <= kMaxAdjustables; ++a)
    m.adjustables.push_back({"adj" + std::to_string(a), 0.01, "", true});
  for (int o = 1; o <= kMaxOutputs; ++o) m.outputs.push_back("F" + std::to_string((o - 1) % 30 + 1));
  for (int j = 0; j < kMaxPoints; ++j) {
    Point p;
    p.interval = static_cast<int16_t>(j * kMaxIntervals / kMaxPoints + 1);
    p.time = j;
    p.replicates.assign(kMaxOutputs, std::vector<double>(kMaxReplicates, 1.0));
    m.points.push_back(p);
  }
  Host h(m);
  h.CalculInitial();
  ASSERT_EQ(h.fitset.Erreur, 0);
  h.Simulate();
  EXPECT_EQ(h.fitset.Erreur, 0);
  const auto file = h.ReadFile();
  ASSERT_EQ(file.size(), static_cast<size_t>(kMaxPoints));
  EXPECT_NEAR(file.back().YCalc[kMaxOutputs - 1], std::exp(-0.01 * 999), 1e-9);
  h.Fin();
}

}  // namespace
}  // namespace tarvo::testhost
