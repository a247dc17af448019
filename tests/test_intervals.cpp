// The walk over intervals and points: resets at interval starts, outputs after the reset,
// missing formulas, the last point, equal times, and each point's own record in the file.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "support/host.h"
#include "support/library_models.h"

namespace tarvo::testhost {
namespace {

// A step of 1/1024 of an integer time span adds up exactly, so the fixed-step engine lands on
// every point and integrates a constant rate without error.
constexpr double kExactTolerance = 1.0 / (1024.0 * 1024.0);

TEST(Intervals, ResetsAndOutputs) {
  struct Case {
    const char* what;
    std::vector<int16_t> intervals;
    std::vector<double> times;
    std::vector<std::string> starts, rates;
    std::vector<double> ycalc;
  };
  const Case cases[] = {
      {"continuing species", {1, 1, 1, 2, 2}, {0, 1, 2, 3, 4}, {"0", "F1"}, {"1", "10"},
       {0, 1, 2, 3, 13}},
      {"restarting species", {1, 1, 1, 2, 2}, {0, 1, 2, 3, 4}, {"0", "100"}, {"1", "10"},
       {0, 1, 2, 100, 110}},
      {"outputs follow the reset", {1, 1, 1, 2, 2}, {0, 1, 2, 3, 4}, {"0", "F1*2"}, {"1", "10"},
       {0, 1, 2, 6, 16}},
      {"no equation keeps the parameter", {1, 1, 1, 2, 2}, {0, 1, 2, 3, 4}, {"0", "F1"},
       {"1", ""}, {0, 1, 2, 3, 4}},
      {"no start formula keeps the species", {1, 1, 1, 2, 2}, {0, 1, 2, 3, 4}, {"0", ""},
       {"1", "10"}, {0, 1, 2, 3, 13}},
      {"last point opens its own interval", {1, 1, 2}, {0, 1, 2}, {"0", "50"}, {"1", "1"},
       {0, 1, 50}},
      {"a single point", {1}, {5}, {"7"}, {"1"}, {7}},
      {"an interval no point carries resets at the last point", {1, 1, 3}, {0, 1, 2},
       {"0", "F1+100", "F1+1000"}, {"1", "1", "1"}, {0, 1, 1102}},
      {"an interval no point carries resets mid-walk", {1, 3, 3}, {0, 1, 2},
       {"0", "F1+100", "F1+1000"}, {"1", "1", "1"}, {0, 1101, 1102}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Model m = RampModel(c.intervals, c.times, c.starts, c.rates);
    m.tolerance = kExactTolerance;
    m.outputs.push_back("");  // an output without formula is 0
    Host h(m);
    h.CalculInitial();
    ASSERT_EQ(h.fitset.Erreur, 0);
    h.Simulate();
    EXPECT_EQ(h.fitset.Erreur, 0);
    const std::vector<FileRecord> file = h.ReadFile();
    ASSERT_EQ(file.size(), c.times.size());
    for (size_t j = 0; j < file.size(); ++j) {
      SCOPED_TRACE("point " + std::to_string(j + 1));
      EXPECT_EQ(file[j].Interval, c.intervals[j]);
      EXPECT_EQ(file[j].Time, c.times[j]);
      EXPECT_EQ(file[j].NRep[0], 1);
      EXPECT_EQ(file[j].YExp[0][0], 1.0);
      EXPECT_NEAR(file[j].YCalc[0], c.ycalc[j], 1e-12);
      EXPECT_EQ(file[j].YCalc[1], 0.0);
    }
    h.Fin();
  }
}

// Equal times make that engine call report 3: the point it reaches holds 3; when it is the
// last call of the walk, Erreur is 3 and every written value is 3.
TEST(Intervals, EqualTimes) {
  struct Case {
    std::vector<double> times;
    int16_t erreur;
    std::vector<double> written;
  };
  const Case cases[] = {
      {{0, 1, 1, 2}, 0, {0, 1, 3, 2}},
      {{0, 1, 2, 2}, 3, {3, 3, 3, 3}},
  };
  for (const Case& c : cases) {
    Model m = RampModel({1, 1, 1, 1}, c.times, {"0"}, {"1"});
    m.tolerance = kExactTolerance;
    m.adjustables = {{"a", 1.0, "", true}, {"b", 0.0, "A1*3", true}};
    Host h(m);
    h.CalculInitial();
    ASSERT_EQ(h.fitset.Erreur, 0);
    h.Simulate();
    EXPECT_EQ(h.fitset.Erreur, c.erreur);
    // Bound values reach the host only after a walk that ended without an engine failure.
    EXPECT_EQ(h.adjustables.Value[1], c.erreur == 0 ? 3.0 : 0.0);
    const std::vector<FileRecord> file = h.ReadFile();
    ASSERT_EQ(file.size(), c.written.size());
    for (size_t j = 0; j < file.size(); ++j)
      EXPECT_NEAR(file[j].YCalc[0], c.written[j], 1e-12) << "point " << j + 1;
    h.Fin();
  }
}

}  // namespace
}  // namespace tarvo::testhost
