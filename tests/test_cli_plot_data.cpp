// The plot's data: experiments are marked apart from the interval boundaries within a run.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "language/prepare.h"
#include "results/plot_data.h"

namespace {

using namespace tarvo::frontend;

TEST(PlotData, ExperimentsAreNamedAndNotCountedAsIntervalBoundaries) {
  Prepared p;
  std::vector<std::string> errors;
  ASSERT_EQ(Prepare(TARVO_SOURCE_DIR "/examples/global_reversible/model.toml", {}, p, errors), 0)
      << errors.front();
  ASSERT_EQ(p.experiments.size(), 3u);
  const PlotData d = BuildPlotData(p, {}, {}, {});
  EXPECT_EQ(d.experiment_names, (std::vector<std::string>{"low", "mid", "high"}));
  ASSERT_EQ(d.experiment_starts.size(), 3u);
  for (size_t k = 0; k < p.experiments.size(); ++k) {
    const double start = p.data.points[p.experiments[k].first_point].time;
    EXPECT_EQ(d.experiment_starts[k], start);
    EXPECT_EQ(std::count(d.boundaries.begin(), d.boundaries.end(), start), 0) << start;
  }
  // A model without experiments keeps every interval start as a boundary.
  Prepared one;
  ASSERT_EQ(Prepare(TARVO_SOURCE_DIR "/examples/two_compartment/model.toml", {}, one, errors), 0);
  const PlotData d1 = BuildPlotData(one, {}, {}, {});
  EXPECT_TRUE(d1.experiment_starts.empty());
  EXPECT_EQ(d1.boundaries.size(), 1u);
}

}  // namespace
