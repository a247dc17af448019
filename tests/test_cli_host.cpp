// The front end as a host: the blocks it builds (each formula in its cell of the column-major
// tables, BSTR cells, settings), the exchange file, a simulation through the exported calls
// against the closed-form solution, the dense grid of the plot, the fixed-step overshoot
// replay and the sentences for Erreur codes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

#include "platform/variant.h"
#include "session/erreur_text.h"
#include "session/host_blocks.h"
#include "session/library_session.h"
#include "language/model_warnings.h"
#include "analysis/simulate_at.h"

namespace tarvo::frontend {
namespace {

std::string Cell(const VARIANT& v) {
  if (v.vt != VT_BSTR) return v.vt == VT_EMPTY ? "<empty>" : "<other>";
  std::string s;
  for (uint32_t i = 0; i < SysStringLen(v.bstrVal); ++i) s += static_cast<char>(v.bstrVal[i]);
  return s;
}

Formula F(const std::string& text) { return Formula{text, "test", 0, 0}; }

// dA/dt = -k A, dB/dt = k A, A(0) = A0, second portion of A at interval 2; output A + 2 B.
Model FirstOrder(double k) {
  Model m;
  m.path = "first.toml";
  m.method = "RUNGE-KUTTA QC";
  m.tolerance = 1e-9;
  m.species.push_back({"A", {F("A0"), F("A + A0")}, 0});
  m.species.push_back({"B", {F("0")}, 0});
  m.parameters.push_back({"kk", {F("k")}, 0});
  AdjustableDecl a;
  a.name = "k";
  a.value = k;
  a.free = true;
  m.adjustables.push_back(a);
  a.name = "A0";
  a.value = 2;
  a.free = false;
  m.adjustables.push_back(a);
  a.name = "kb";
  a.bound = true;
  a.equal_to = F("k*3");
  m.adjustables.push_back(a);
  m.outputs.push_back({"Y", F("A + 2*B"), 0});
  RateDecl ra{"A", {{"A", F("-kk")}}, false, {}, 0};
  RateDecl rb{"B", {{"A", F("kk")}}, true, F("0*kb"), 0};
  m.rates = {ra, rb};
  m.intervals = 2;
  return m;
}

TEST(CliHost, PutsEveryFormulaInItsCell) {
  const Model m = FirstOrder(0.5);
  TranslatedModel t;
  std::vector<std::string> errors;
  ASSERT_EQ(TranslateModel(m, 2, t, errors), 0);
  HostBlocks b;
  BuildHostBlocks(m, t, 7, "/tmp/x.dat", {0.5, 2, 0}, {true, false, false}, b);
  EXPECT_EQ(Cell(b.initials.FileName), "/tmp/x.dat");
  EXPECT_EQ(b.initials.NEspeces, 2);
  EXPECT_EQ(b.initials.NInterrupts, 2);
  EXPECT_EQ(b.initials.NParametres, 1);
  EXPECT_EQ(b.initials.NAjustables, 3);
  EXPECT_EQ(b.initials.NPoints, 7);
  EXPECT_EQ(b.initials.NSorties, 1);
  EXPECT_EQ(Cell(b.fitset.Method), "RUNGE-KUTTA QC");
  EXPECT_EQ(b.fitset.Tolerance, 1e-9);
  EXPECT_EQ(b.fitset.MaxIter, 1);  // standard deviations at convergence only
  ASSERT_EQ(b.especes.size(), 30u * 3);
  EXPECT_EQ(Cell(b.especes[0]), "A");           // names in column 0
  EXPECT_EQ(Cell(b.especes[1]), "B");
  EXPECT_EQ(Cell(b.especes[30 + 0]), "A2");     // (species 1, interval 1)
  EXPECT_EQ(Cell(b.especes[60 + 0]), "F1+A2");  // (species 1, interval 2)
  EXPECT_EQ(Cell(b.especes[60 + 1]), "F2");     // species 2 continues
  EXPECT_EQ(Cell(b.especes[2]), "<empty>");
  ASSERT_EQ(b.parametres.size(), 50u * 3);
  EXPECT_EQ(Cell(b.parametres[0]), "kk");
  EXPECT_EQ(Cell(b.parametres[50]), "A1");
  EXPECT_EQ(Cell(b.parametres[100]), "A1");
  ASSERT_EQ(b.derivees.size(), 30u * 31);
  EXPECT_EQ(Cell(b.derivees[0 * 30 + 0]), "-P1");  // (rate of A, coefficient of A)
  EXPECT_EQ(Cell(b.derivees[0 * 30 + 1]), "P1");   // (rate of B, coefficient of A)
  EXPECT_EQ(Cell(b.derivees[1 * 30 + 1]), "<empty>");
  EXPECT_EQ(Cell(b.derivees[30 * 30 + 1]), "0*A3");  // free term of B in column 31
  EXPECT_EQ(Cell(b.sorties.Formula[0]), "F1+2*F2");
  EXPECT_EQ(Cell(*AdjName(&b.adjustables, 1)), "k");
  EXPECT_EQ(Cell(*AdjEqualTo(&b.adjustables, 3)), "A1*3");
  EXPECT_EQ(Cell(*AdjEqualTo(&b.adjustables, 1)), "<empty>");
  EXPECT_EQ(b.adjustables.Value[0], 0.5);
  EXPECT_EQ(b.adjustables.Adjustable[0], -1);
  EXPECT_EQ(b.adjustables.Adjustable[1], 0);
  FreeHostRecords(b);
  EXPECT_TRUE(b.especes.empty());
}

TEST(CliHost, PassesANameFoundInItsOwnEqualToInBraces) {
  // The library drops an EqualTo that contains the adjustable's Name; "A" occurs in "A1*2".
  Model m = FirstOrder(0.5);
  m.adjustables[0].name = "E";
  m.adjustables[2].equal_to = F("E*2");
  m.parameters[0].equation = {F("E")};
  TranslatedModel t;
  std::vector<std::string> errors;
  ASSERT_EQ(TranslateModel(m, 2, t, errors), 0) << errors[0];
  m.adjustables[2].name = "A";
  HostBlocks b;
  BuildHostBlocks(m, t, 2, "x", {0.5, 2, 0}, {true, false, false}, b);
  EXPECT_EQ(Cell(*AdjEqualTo(&b.adjustables, 3)), "A1*2");
  EXPECT_EQ(Cell(*AdjName(&b.adjustables, 3)), "{A}");
  EXPECT_EQ(Cell(*AdjName(&b.adjustables, 1)), "E");
  FreeHostRecords(b);
}

Prepared FirstOrderRun(double k, std::vector<DataPoint> points) {
  Prepared p;
  p.model = FirstOrder(k);
  p.values = {k, 2, 0};
  p.free = {false, false, false};
  p.data.points = std::move(points);
  p.data.path = "data.csv";
  p.data.last_interval = p.data.points.back().interval;
  std::vector<std::string> errors;
  EXPECT_EQ(TranslateModel(p.model, 2, p.text, errors), 0);
  return p;
}

// n points at t = 0, 1, ... with one measured value each (1, 2, ...).
std::vector<DataPoint> CountingPoints(int n) {
  std::vector<DataPoint> points(static_cast<size_t>(n));
  for (int j = 0; j < n; ++j) {
    points[j].time = j;
    points[j].values = {{1.0 + j}};
  }
  return points;
}

TEST(CliHost, SimulatesThroughTheExportedCalls) {
  std::vector<DataPoint> points;
  for (int j = 0; j <= 6; ++j) {
    DataPoint d;
    d.interval = j < 4 ? 1 : 2;
    d.time = j;
    d.values.assign(1, {});
    points.push_back(d);
  }
  const double k = 0.5;
  const Prepared p = FirstOrderRun(k, points);
  std::vector<std::vector<double>> y;
  std::string message;
  ASSERT_EQ(SimulateAt(p, p.values, p.data.points, y, message), 0) << message;
  ASSERT_EQ(y.size(), 7u);
  for (int j = 0; j <= 6; ++j) {
    // Y = A + 2B with A + B = total: 2 total - A. A second portion of 2 enters at t = 4.
    const double a = j < 4 ? 2 * std::exp(-k * j)
                           : (2 * std::exp(-k * 4) + 2) * std::exp(-k * (j - 4));
    const double total = j < 4 ? 2 : 4;
    EXPECT_NEAR(y[j][0], 2 * total - a, 1e-6) << "t = " << j;
  }
}

// A session hands its points to the library in memory, and its end passes the instance on to
// a later session of any thread (whose set-up replaces the model).
TEST(CliHost, SessionsPassTheirInstanceOn) {
  const Prepared p = FirstOrderRun(0.5, CountingPoints(3));
  const Instance* used = nullptr;
  std::thread([&] {
    Session s;
    ASSERT_EQ(StartSession(s, p.model, p.text, p.data.points, p.values, p.free), 0) << s.failure;
    used = s.instance.get();
    EXPECT_EQ(RunSimulation(s), 0);
    std::vector<std::vector<double>> y;
    EXPECT_EQ(ReadResults(s, y), 0);
    EXPECT_EQ(y.size(), 3u);
    EXPECT_EQ(AdjustableValue(s, 2), 1.5);  // the bound adjustable comes back evaluated
  }).join();
  // A refused model reports the set-up's Erreur, on the instance the thread left.
  Prepared bad = p;
  bad.model.method = "RUNGE-KUTTA 6";
  Session s;
  EXPECT_EQ(StartSession(s, bad.model, bad.text, bad.data.points, bad.values, bad.free), 9);
  EXPECT_EQ(s.instance.get(), used);
  EndSession(s);
  EndSession(s);  // twice is harmless
  std::vector<std::vector<double>> y;
  EXPECT_NE(ReadResults(s, y), 0);  // nothing loaded any more
}

// A process forked after a session (Python's multiprocessing does that) sets its models up on
// instances of its own: its parent's have no worker threads in the child.
TEST(CliHost, AForkedProcessUsesInstancesOfItsOwn) {
  const Prepared p = FirstOrderRun(0.5, CountingPoints(2));
  const Instance* kept = nullptr;
  {
    Session s;
    ASSERT_EQ(StartSession(s, p.model, p.text, p.data.points, p.values, p.free), 0) << s.failure;
    kept = s.instance.get();
  }
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    Session s;
    const bool own = StartSession(s, p.model, p.text, p.data.points, p.values, p.free) == 0 &&
                     s.instance.get() != kept && RunSimulation(s) == 0;
    EndSession(s);
    _exit(own ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  Session s;  // the parent's spare is still its own
  ASSERT_EQ(StartSession(s, p.model, p.text, p.data.points, p.values, p.free), 0) << s.failure;
  EXPECT_EQ(s.instance.get(), kept);
}

TEST(CliHost, ExchangeRecordsHoldTheHostPoints) {
  DataPoint a;
  a.interval = 2;
  a.time = 1.25;
  a.values = {{0.5, -1}, {}, {3}};
  const std::vector<FileRecord> records = ExchangeRecords({a, a}, {0.0, 0.0, 0.25});
  ASSERT_EQ(records.size(), 2u);
  const FileRecord& r = records[1];
  EXPECT_EQ(r.Interval, 2);
  EXPECT_EQ(r.Time, 1.25);
  EXPECT_EQ(r.NRep[0], 2);
  EXPECT_EQ(r.NRep[1], 0);
  EXPECT_EQ(r.NRep[2], 1);
  EXPECT_EQ(r.YExp[0][1], -1);  // the library, not the host, stores values below 0 as 0
  EXPECT_EQ(r.YExp[2][0], 3.25);  // shifted by the output's offset
}

TEST(CliHost, DenseGridFollowsTheIntervals) {
  Dataset d;
  for (auto [interval, time] : {std::pair{1, 0.0}, {1, 1.0}, {2, 3.0}, {2, 9.0}, {3, 10.0}}) {
    DataPoint p;
    p.interval = interval;
    p.time = time;
    d.points.push_back(p);
  }
  const std::vector<DataPoint> g = DenseGrid(d, 2, 600);
  ASSERT_GE(g.size(), 600u);
  EXPECT_LE(g.size(), 1000u);
  EXPECT_EQ(g.front().time, 0.0);
  EXPECT_EQ(g.back().time, 10.0);
  for (size_t j = 1; j < g.size(); ++j) {
    EXPECT_GT(g[j].time, g[j - 1].time);
    EXPECT_GE(g[j].interval, g[j - 1].interval);
    EXPECT_EQ(g[j].values.size(), 2u);
    if (g[j].interval != g[j - 1].interval) {
      // Each interval opens at its first data time, the previous one ends just before it.
      EXPECT_EQ(g[j].time, g[j].interval == 2 ? 3.0 : 10.0);
      EXPECT_NEAR(g[j - 1].time, g[j].time, 1e-5);
    }
  }
}

TEST(CliHost, ReplaysTheFixedStepWalk) {
  EXPECT_EQ(FixedStepOvershoot(0, 1, 0.25), 0);     // steps of 0.5 land on 1
  EXPECT_NEAR(FixedStepOvershoot(0, 1, 0.09), 0.2, 1e-12);  // 4 steps of 0.3
  EXPECT_NEAR(FixedStepOvershoot(2, 3, 0.09), 0.2, 1e-12);
  EXPECT_EQ(FixedStepOvershoot(1, 1, 0.01), 0);     // no interval, no step
  EXPECT_EQ(FixedStepOvershoot(0, 1, 0), 0);
  // Steps of 0.1 add up to 0.9999999999999999 after ten: one more full step is taken.
  EXPECT_NEAR(FixedStepOvershoot(0, 1, 0.01), 0.1, 1e-12);
}

TEST(CliHost, KnowsTheLibrarysMethodNamesExactly) {
  for (const char* name : {"CHU-BERMAN", "RUNGE-KUTTA QC", "RUNGE-KUTTA 4", "RUNGE-KUTTA 5"})
    EXPECT_TRUE(KnownMethod(name)) << name;
  for (const char* name : {"", "runge-kutta 4", "RUNGE-KUTTA  4", "RUNGE-KUTTA 4 ", "RK4",
                           "RUNGE-KUTTA 6", "Chu-Berman"})
    EXPECT_FALSE(KnownMethod(name)) << name;
  EXPECT_EQ(MethodNames(), "\"CHU-BERMAN\", \"RUNGE-KUTTA QC\", \"RUNGE-KUTTA 4\", "
                           "\"RUNGE-KUTTA 5\"");
}

TEST(CliHost, PutsErreurCodesIntoSentences) {
  SetupFacts f{"RUNGE-KUTTA 6", 2, 3, ""};
  int faults = -1;
  auto lines = SetupErreurText(9 + 1 + 4, f, &faults);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_NE(lines[0].find("method 'RUNGE-KUTTA 6' is not one of"), std::string::npos);
  EXPECT_NE(lines[1].find("only 2 measured values for 3 free adjustables"), std::string::npos);
  EXPECT_NE(lines[2].find("4 faults in the formulas"), std::string::npos);
  EXPECT_EQ(faults, 4);
  f = {"CHU-BERMAN", 10, 1, "NPoints 1200 above 1000"};
  lines = SetupErreurText(1000, f, &faults);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("size limit of the library: NPoints 1200 above 1000"), std::string::npos);
  EXPECT_TRUE(SetupErreurText(0, f).empty());
  // Formula faults past a thousand are not read as a refusal.
  lines = SetupErreurText(2004, f, &faults);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("2004 faults in the formulas"), std::string::npos) << lines[0];
  const struct {
    int code;
    const char* method;
    const char* text;
  } engine[] = {
      {1, "RUNGE-KUTTA 4", "tolerance is not above"},
      {1, "CHU-BERMAN", "step size fell below 1e-130"},
      {2, "RUNGE-KUTTA QC", "1/tolerance steps"},
      {2, "CHU-BERMAN", "collapsed below 1e-130"},
      {3, "RUNGE-KUTTA 5", "same time"},
      {32000, "RUNGE-KUTTA 5", "no model is loaded"},
      {16002, "RUNGE-KUTTA QC", "not a finite number (a rate that grows without bound, a "
                                "division by zero, a huge start value) (Erreur 16000); and the "
                                "integration took 1/tolerance steps"},
  };
  for (const auto& e : engine)
    EXPECT_NE(SimulationErreurText(e.code, e.method).find(e.text), std::string::npos)
        << e.code << " " << e.method;
  EXPECT_NE(FitErreurText(1, "RUNGE-KUTTA QC", 0).find("no free adjustable"), std::string::npos);
  EXPECT_NE(FitErreurText(4, "RUNGE-KUTTA 4", 2).find("normal equations are singular"),
            std::string::npos);
  // A method that cannot integrate the model: 9 with the refusal's message, not 9 faults.
  f = {"EXACT", 10, 1, "model refused: method EXACT cannot integrate it: the free term of B reads A"};
  lines = SetupErreurText(9, f, &faults);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "the library refused the model: method EXACT cannot integrate it: the free "
                      "term of B reads A (Erreur 9)");
  EXPECT_EQ(faults, 0);
  // Code 1 of a fit with free adjustables is the engine's tolerance, not the solver's.
  const std::string one = FitErreurText(1, "RUNGE-KUTTA 4", 2);
  EXPECT_EQ(one.find("no free adjustable"), std::string::npos) << one;
  EXPECT_NE(one.find("tolerance is not above"), std::string::npos) << one;
  f = {"CHU-BERMAN", 10, 1, "NPoints 1200 above 1000"};
  EXPECT_NE(SetupErreurText(6000, f)[0].find("a point has a replicate count outside 0..10; and "
                                             "a point's interval is outside the model's "
                                             "intervals: NPoints 1200 above 1000 (Erreur 6000)"),
            std::string::npos);
}

}  // namespace
}  // namespace tarvo::frontend
