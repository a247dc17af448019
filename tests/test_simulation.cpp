// Simulation end to end: a model with a closed-form solution under each method, the statistics
// and adjustables the host receives, and settings the host changes after set-up.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "support/host.h"
#include "support/library_models.h"

namespace tarvo::testhost {
namespace {

const std::vector<double> kTimes = {0, 0.5, 1, 2, 3, 5, 8};

TEST(Simulation, ClosedFormUnderEachMethod) {
  struct Case {
    const char* method;
    double tolerance;
    double accuracy;  // relative, what the method promises at that tolerance
  };
  // The fixed-step methods take 1024 steps per unit of time (exact sums of the step).
  const Case cases[] = {
      {"RUNGE-KUTTA 4", 1.0 / (1024.0 * 1024.0 * 4), 1e-10},
      {"RUNGE-KUTTA 5", 1.0 / (1024.0 * 1024.0 * 4), 1e-10},
      {"RUNGE-KUTTA QC", 1e-8, 1e-6},
      {"CHU-BERMAN", 1e-8, 1e-6},
  };
  const double k = 0.7, a0 = 3.0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.method);
    Model m = FirstOrderModel(kTimes, k, a0);
    m.method = c.method;
    m.tolerance = c.tolerance;
    Host h(m);
    h.CalculInitial();
    ASSERT_EQ(h.fitset.Erreur, 0);
    h.Simulate();
    ASSERT_EQ(h.fitset.Erreur, 0);
    const std::vector<FileRecord> file = h.ReadFile();
    ASSERT_EQ(file.size(), kTimes.size());
    for (size_t j = 0; j < kTimes.size(); ++j) {
      const double a = FirstOrderA(a0, k, kTimes[j]);
      EXPECT_NEAR(file[j].YCalc[0], a, c.accuracy * a0) << "A at t = " << kTimes[j];
      EXPECT_NEAR(file[j].YCalc[1], a0 - a, c.accuracy * a0) << "B at t = " << kTimes[j];
    }
    h.Fin();
  }
}

// The figures the host receives are those of the rewritten file's values against the data.
TEST(Simulation, StatisticsReachTheHost) {
  Model m = FirstOrderModel(kTimes, 0.5, 2.0);
  // Data off the model: A measured 10% high at every point, B with two replicates.
  for (Point& p : m.points) {
    p.replicates[0][0] *= 1.1;
    const double b = p.replicates[1][0];
    p.replicates[1] = {b * 0.9, b * 1.1};
  }
  m.tolerance = 1.0 / (1024.0 * 1024.0 * 4);
  Host h(m);
  h.CalculInitial();
  ASSERT_EQ(h.fitset.Erreur, 0);
  h.Simulate();
  ASSERT_EQ(h.fitset.Erreur, 0);
  const std::vector<FileRecord> file = h.ReadFile();
  double s_calc = 0, s_exp = 0, w = 0;
  for (const FileRecord& r : file) {
    for (int o = 0; o < 2; ++o) {
      double mean = 0;
      for (int q = 0; q < r.NRep[o]; ++q) mean += r.YExp[o][q] / r.NRep[o];
      if (!(mean > 1e-130 && r.YCalc[o] > 1e-130)) continue;  // B is 0 at t = 0
      for (int q = 0; q < r.NRep[o]; ++q) {
        s_calc += (r.YCalc[o] - r.YExp[o][q]) * (r.YCalc[o] - r.YExp[o][q]);
        s_exp += (mean - r.YExp[o][q]) * (mean - r.YExp[o][q]);
        w += 1;
      }
    }
  }
  EXPECT_NEAR(h.fitset.ErreurCalc, s_calc / w, 1e-9 * s_calc / w);
  EXPECT_NEAR(h.fitset.ErreurExp, s_exp / w, 1e-9 * s_exp / w);
  EXPECT_GT(h.fitset.Coeff, 0.0);
  EXPECT_NE(h.fitset.Coeff, 1.0);
  h.Fin();
}

TEST(Simulation, BoundAdjustablesAndHostSettings) {
  Model m = FirstOrderModel(kTimes, 0.5, 2.0);
  m.adjustables.push_back({"double k", 0.0, "A1*4", true});
  m.adjustables.push_back({"shifted", 0.0, "A3+A2", true});  // reads a bound adjustable
  m.outputs.push_back("A4");
  Host h(m);
  h.CalculInitial();
  ASSERT_EQ(h.fitset.Erreur, 0);
  EXPECT_EQ(h.adjustables.Adjustable[2], kFalse);
  // Settings the host changes after set-up are not seen, and are overwritten on return.
  const double tolerance = h.fitset.Tolerance;
  h.fitset.Tolerance = 0.0;  // would make every fixed-step call fail
  h.fitset.TypeErreur = 2.0;
  h.fitset.Erreur = 0;
  unsigned char junk[64];
  std::memset(junk, 0xA5, sizeof junk);
  Simulation(&h.initials, &h.fitset, junk, &h.adjustables);  // the third argument is not read
  EXPECT_EQ(h.fitset.Erreur, 0);
  EXPECT_EQ(h.fitset.Tolerance, tolerance);
  EXPECT_EQ(h.fitset.TypeErreur, 0.0);
  EXPECT_EQ(Host::Text(h.fitset.Method), "RUNGE-KUTTA 4");
  EXPECT_EQ(h.adjustables.Value[0], 0.5);
  EXPECT_EQ(h.adjustables.Value[1], 2.0);
  EXPECT_EQ(h.adjustables.Value[2], 2.0);
  EXPECT_EQ(h.adjustables.Value[3], 4.0);
  EXPECT_EQ(h.adjustables.Adjustable[0], kTrue);
  EXPECT_EQ(h.adjustables.Adjustable[3], kFalse);
  const std::vector<FileRecord> file = h.ReadFile();
  ASSERT_FALSE(file.empty());
  EXPECT_EQ(file.back().YCalc[2], 4.0);  // output reading the chained bound value
  h.Fin();
}

// A failing engine: the status replaces every written value and the adjustables stay.
TEST(Simulation, EngineFailureReachesHostAndFile) {
  Model m = FirstOrderModel(kTimes, 0.5, 2.0);
  m.tolerance = 0.0;  // not above the fixed-step engines' floor: status 1 on every call
  m.adjustables.push_back({"bound", 0.0, "A1*4", true});
  Host h(m);
  h.CalculInitial();
  ASSERT_EQ(h.fitset.Erreur, 0);
  h.Simulate();
  EXPECT_EQ(h.fitset.Erreur, 1);
  EXPECT_EQ(h.adjustables.Value[2], 0.0);
  for (const FileRecord& r : h.ReadFile()) {
    EXPECT_EQ(r.YCalc[0], 1.0);
    EXPECT_EQ(r.YCalc[1], 1.0);
  }
  h.Fin();
}

// The rewrite replaces the whole file: records beyond the points are gone, and a host that
// lowers NPoints after set-up gets that many records, never more than the model holds.
TEST(Simulation, RewriteReplacesTheWholeFile) {
  Model m = FirstOrderModel(kTimes);
  Host h(m);
  h.initials.NPoints = 4;  // the file holds 7 records; set-up reads 4
  h.CalculInitial();
  ASSERT_EQ(h.fitset.Erreur, 0);
  h.Simulate();
  EXPECT_EQ(h.ReadFile().size(), 4u);
  h.initials.NPoints = 2;
  h.Simulate();
  EXPECT_EQ(h.ReadFile().size(), 2u);
  h.initials.NPoints = 1000;
  h.Simulate();
  const auto file = h.ReadFile();
  ASSERT_EQ(file.size(), 4u);
  EXPECT_EQ(file[3].Time, kTimes[3]);
  h.Fin();
}

}  // namespace
}  // namespace tarvo::testhost
