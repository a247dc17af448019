// The convergence measure the library decides Done on, as the tool reads it too: the sum of
// squared relative changes over the free adjustables, an absolute change for a value that was
// exactly 0, and nothing from adjustables outside the free list.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "fitting/ajustement.h"
#include "support/host.h"

namespace tarvo::testhost {
namespace {

TEST(FitConvergence, SumsTheListedChanges) {
  const double before[] = {2, 0, 5, -4};
  const double after[] = {3, 0.5, 100, -3};
  const struct {
    std::vector<int32_t> index;
    double measure;
  } cases[] = {
      {{}, 0},
      {{0}, 0.25},           // (3 - 2) / 2
      {{1}, 0.25},           // from 0: the absolute change 0.5
      {{3}, 0.0625},         // (-3 + 4) / -4
      {{0, 1, 3}, 0.5625},   // entry 2 is not free and moved the most
      {{3, 1, 0}, 0.5625},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ConvergenceMeasure(static_cast<int32_t>(c.index.size()), c.index.data(), before,
                                 after),
              c.measure)
        << c.index.size() << " entries";
  }
}

// Done is set exactly when the measure of the call's own values is below Precision: an
// adjustable bound to a free one moves with it but never counts.
TEST(FitConvergence, DoneFollowsTheMeasureOfTheCall) {
  Model base;
  base.species = {"y"};
  base.species_start = {{"1"}};
  base.adjustables = {{"a", 2.0, "", true}, {"b", 3.0, "", false}, {"c", 1.0, "A1*2", true}};
  base.outputs = {"A1*A2 + A3"};
  base.marquard = 0;
  Point p{1, 0, {{8.5}}, {}};
  base.points = {p, p};
  base.points[1].time = 1;

  double measure = 0;
  {
    Host h(base);
    h.CalculInitial();
    h.Simulate();
    ASSERT_EQ(h.fitset.Erreur, 0);
    std::vector<double> before(h.adjustables.Value, h.adjustables.Value + 3);
    h.Fit();
    ASSERT_EQ(h.fitset.Erreur, 0);
    const std::vector<double> after(h.adjustables.Value, h.adjustables.Value + 3);
    ASSERT_NE(after[0], before[0]);
    const int32_t free_list[] = {0};
    measure = ConvergenceMeasure(1, free_list, before.data(), after.data());
    h.Fin();
  }
  for (const double precision : {measure, std::nextafter(measure, 1.0)}) {
    Model m = base;
    m.precision = precision;
    Host h(m);
    h.CalculInitial();
    h.Simulate();
    h.Fit();
    ASSERT_EQ(h.fitset.Erreur, 0);
    EXPECT_EQ(h.fitset.Done != 0, precision > measure) << precision;
    h.Fin();
  }
}

}  // namespace
}  // namespace tarvo::testhost
