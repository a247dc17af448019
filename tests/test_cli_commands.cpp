// The tarvo binary as a user meets it: every bad input gets one message naming the place and
// exit status 2, never a crash; a simulation and a fit leave their files; exit statuses 0 / 1
// / 2; the temporary folder of the exchange file is always removed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/cli_run.h"

namespace {

namespace fs = std::filesystem;

const char* kModel = R"toml(method = "RUNGE-KUTTA QC"
tolerance = 1e-8
error_type = 0
precision = 1e-10
max_calls = 40
data = "data.csv"

species = [
  { name = "A", start = "Atot" },
  { name = "B", start = "0" },
]
adjustables = [
  { name = "k", value = 0.3, free = true },
  { name = "Atot", value = 1 },
]
outputs = [ { name = "Y", formula = "A + 0.5*B" } ]

[rates]
A = { A = "-k" }
B = { A = "k" }
)toml";

// Y = Atot (0.5 + 0.5 exp(-k t)) with k = 0.5, two replicates a little apart.
std::string Data() {
  std::string d = "time,Y,Y\n";
  for (int j = 0; j <= 10; ++j) {
    const double y = 0.5 + 0.5 * std::exp(-0.5 * j);
    d += std::to_string(j) + "," + std::to_string(y * 1.01) + "," + std::to_string(y * 0.99) + "\n";
  }
  return d;
}

// kModel with one reaction before [rates]: its equation text starts at line 19 column 13,
// its rate at line 20 column 9.
std::string WithReaction(const std::string& equation, const std::string& rate) {
  std::string m = kModel;
  return m.replace(m.find("[rates]"), 7, "[[reactions]]\nequation = \"" + equation +
                                             "\"\nrate = " + rate + "\n\n[rates]");
}

// A model with [[experiments]] (appended) instead of its top-level data file, so every line
// after the fifth moves up by one.
std::string WithExperiments(const std::string& experiments, std::string model = kModel) {
  model.erase(model.find("data = \"data.csv\"\n"), 18);
  return model + "\n" + experiments;
}

const char* kPerExperimentAtot = "{ name = \"Atot\", value = 1, per_experiment = true }";

using tarvo::testcli::Replace;
using Result = tarvo::testcli::RunResult;

class CliCommands : public tarvo::testcli::CliTest {
 protected:
  CliCommands() : CliTest("cli-commands") {}
  // Each run gets its own TMPDIR inside the test folder.
  void SetUp() override {
    CliTest::SetUp();
    tmpdir_ = dir_ + "/tmp";
    fs::create_directory(tmpdir_);
  }
  void TearDown() override {
    // No exchange file or temporary folder may survive a run, whatever its outcome.
    if (!tmpdir_.empty()) {
      EXPECT_TRUE(fs::is_empty(tmpdir_)) << "left in the temporary folder";
    }
    CliTest::TearDown();
  }
};

TEST_F(CliCommands, BadInputGetsOneMessageAndStatus2) {
  std::string many_points = "time,Y\n";
  for (int i = 0; i <= 1000; ++i) many_points += std::to_string(i) + ",1\n";
  std::string many_numbers = "A";
  for (int i = 1; i <= 300; ++i) many_numbers += " + " + std::to_string(i) + ".5e-9";
  const struct {
    std::string model, data, args, message;
  } cases[] = {
      {kModel, Data(), "", "A subcommand is required"},
      {kModel, Data(), "check", "MODEL is required"},
      {kModel, Data(), "check m.toml --bogus", "--bogus"},
      {kModel, Data(), "check none.toml", "cannot open model file 'none.toml': no such file"},
      {kModel, Data(), "fit .", "cannot open model file '.': it is a folder"},
      {"method = [\n", Data(), "check m.toml", "m.toml:1:"},
      {Replace(kModel, "max_calls", "max_cals"), Data(), "check m.toml",
       "m.toml:5:1: unknown key 'max_cals'"},
      {Replace(kModel, "\"-k\"", "\"-k3\""), Data(), "check m.toml",
       "m.toml:19:12: rates A/A: unknown name 'k3' at column 2"},
      {Replace(kModel, "\"-k\"", "\"-k*(A\""), Data(), "simulate m.toml",
       "rates A/A: '(' at column 4 is never closed"},
      {Replace(kModel, "name = \"Atot\"", "name = \"F1\""), Data(), "fit m.toml",
       "m.toml:14:12: adjustable 'F1' would be read as the library's own notation"},
      {Replace(kModel, "RUNGE-KUTTA QC", "runge-kutta 4"), Data(), "check m.toml",
       "m.toml:1: method 'runge-kutta 4' is not one of"},
      {Replace(kModel, "RUNGE-KUTTA QC", "RK4"), Data(), "fit m.toml", "(Erreur 9)"},
      {Replace(kModel, "\"A + 0.5*B\"", "\"" + many_numbers + "\""), Data(), "check m.toml",
       "more distinct numbers than the library's 255 constants"},
      {Replace(kModel, "\"A + 0.5*B\"", "\"" + many_numbers + "\""), Data(), "simulate m.toml",
       "tarvo check names the formula"},
      {Replace(kModel, "data.csv", "none.csv"), Data(), "check m.toml",
       "cannot open data file 'none.csv': no such file"},
      {kModel, "time,Z\n0,1\n1,2\n", "fit m.toml", "data.csv:1:2: column 'Z' is not an output"},
      {kModel, "time,Y\n0,1\n1,abc\n", "simulate m.toml", "data.csv:3:2: 'abc' in column 2"},
      {kModel, "time,Y\n0,1\n0,2\n", "check m.toml", "data.csv:3: time 0 is not after"},
      {kModel, many_points, "check m.toml", "data.csv:1002: more than 1000 points"},
      {kModel, "time,Y,Y,Y,Y,Y,Y,Y,Y,Y,Y,Y\n0,1\n1,1\n", "check m.toml",
       "data.csv:1:12: output 'Y' has more than 10 replicate columns"},
      {kModel, "time,Y\n0,\n1,\n", "fit m.toml", "only 0 measured values for 1 free adjustables"},
      {Replace(kModel, "free = true", "free = false"), Data(), "fit m.toml",
       "no adjustable is free"},
      {kModel, Data(), "simulate m.toml --set q=1", "--set q=1: 'q' is not an adjustable"},
      {kModel, Data(), "simulate m.toml --set k=x", "--set k=x: 'x' is not a number"},
      {kModel, Data(), "simulate m.toml -o data.csv", "cannot create the output folder"},
      {WithReaction("A -> Q", "\"k\""), Data(), "check m.toml",
       "m.toml:19:18: reaction 1: 'Q' is not a declared species"},
      {WithReaction("A + B", "\"k\""), Data(), "check m.toml", "m.toml:19:13: reaction 1: no arrow"},
      {WithReaction("A -> B -> A", "\"k\""), Data(), "fit m.toml", "19:20: reaction 1: more than one arrow"},
      {WithReaction("0 A -> B", "\"k\""), Data(), "check m.toml", "19:13: reaction 1: the count '0'"},
      {WithReaction("A + -> B", "\"k\""), Data(), "check m.toml", "19:15: reaction 1: a '+' without a species"},
      {WithReaction("->", "\"k\""), Data(), "check m.toml", "reaction 1: no species on either side"},
      {WithReaction("A <=> B", "\"k\""), Data(), "check m.toml",
       "m.toml:20:9: reaction 1: a reversible reaction takes two rates"},
      {WithReaction("A -> B", "[\"k\", \"k\"]"), Data(), "check m.toml",
       "m.toml:20:10: reaction 1: an irreversible reaction takes one rate"},
      {WithReaction("A -> B", "\"k*Z\""), Data(), "simulate m.toml",
       "m.toml:20:9: reaction 1: rate: unknown name 'Z' at column 3"},
      {WithReaction("A -> B", "true"), Data(), "check m.toml",
       "m.toml:20:8: reaction 1 rate: a formula must be a text"},
      {Replace(WithReaction("A -> B", "\"k\""), "equation", "equ"), Data(), "check m.toml",
       "m.toml:19:1: unknown key 'equ' in a reaction"},
      {Replace(WithReaction("A -> B", "\"k\""), "rate = \"k\"", ""), Data(), "check m.toml",
       "m.toml:18: reaction 1 has no rate"},
      {kModel, Data(), "fit m.toml --free q", "--free q: 'q' is not an adjustable"},
      {kModel, Data(), "fit m.toml --fix k --free k", "--free k and --fix k: choose one"},
      {kModel, Data(), "fit m.toml --fix k", "no adjustable is free"},
      {kModel, Data(), "fit m.toml --method rk4", "--method rk4: not one of"},
      {kModel, Data(), "fit m.toml --tolerance 0", "--tolerance 0: must be a number above 0"},
      {kModel, Data(), "fit m.toml --tolerance 1", "--tolerance 1: 'tolerance' = 1 is outside"},
      {Replace(kModel, "1e-8", "1e-13"), Data(), "fit m.toml --method 'RUNGE-KUTTA 4'",
       "--method RUNGE-KUTTA 4: the model's 'tolerance' = 1e-13 is outside 1e-12"},
      {kModel, Data(), "fit m.toml --max-calls 0", "--max-calls 0: must be a whole number"},
      {kModel, Data(), "fit m.toml --max-calls x", "--max-calls x: must be a whole number"},
      {kModel, Data(), "fit m.toml --starts 0", "--starts 0: must be a whole number from 1 to 1000"},
      {kModel, Data(), "fit m.toml --starts 2 --seed -1", "--seed -1: must be a whole number"},
      {Replace(kModel, "free = true }", "free = true, scale = \"exp\" }"), Data(), "check m.toml",
       "m.toml:13:51: adjustable k: scale must be \"log\""},
      {Replace(kModel, "free = true }", "free = true, min = 1, max = 1 }"), Data(), "check m.toml",
       "m.toml:13:58: adjustable k: max must be above min"},
      {Replace(kModel, "free = true }", "free = true, scale = \"log\", min = 0 }"), Data(),
       "check m.toml", "m.toml:13:64: adjustable k: a log-scale value needs min above 0"},
      {Replace(kModel, "free = true }", "free = true, min = \"a\" }"), Data(), "check m.toml",
       "m.toml:13:49: 'min' must be a number"},
      {Replace(kModel, "value = 1 }", "equal_to = \"k\", max = 2 }"), Data(), "check m.toml",
       "m.toml:14:42: adjustable Atot: 'max' does not apply to a value bound by equal_to"},
      {Replace(kModel, "free = true }", "free = true, max = 0.2 }"), Data(), "fit m.toml",
       "m.toml:13: adjustable k: start value 0.3 must lie strictly between its bounds"},
      {Replace(kModel, "free = true }", "free = true, scale = \"log\" }"), Data(),
       "fit m.toml --set k=-1", "m.toml:13: adjustable k: start value -1 cannot be fitted on a log"},
      {Replace(Replace(kModel, "free = true }", "free = true, scale = \"log\" }"), "value = 1 }",
               "value = 1 }, { name = \"k_fit\", value = 1 }"),
       Data(), "fit m.toml", "m.toml:13: adjustable k: the name k_fit, which its transform needs"},
      {std::string(kModel) + "[[experiments]]\ndata = \"data.csv\"\n", Data(), "check m.toml",
       "m.toml:6:8: with [[experiments]] each experiment names its data file"},
      {WithExperiments("[[experiments]]\nname = \"a\"\n"), Data(), "check m.toml",
       "m.toml:21: experiment a has no data file"},
      {WithExperiments("[[experiments]]\ndata = \"data.csv\"\nstart = { Q = \"1\" }\n"), Data(),
       "check m.toml", "m.toml:23:11: experiment exp1: 'Q' is not a declared species"},
      {WithExperiments("[[experiments]]\nname = \"a b\"\ndata = \"data.csv\"\n"), Data(),
       "check m.toml", "m.toml:22:8: an experiment's name is 1 to 20 letters"},
      {WithExperiments("[[experiments]]\nname = \"a\"\ndata = \"data.csv\"\n[[experiments]]\n"
                       "name = \"a\"\ndata = \"data.csv\"\n"),
       Data(), "check m.toml", "m.toml:24: experiment 'a' is declared twice"},
      {WithExperiments("[[experiments]]\ndata = \"data.csv\"\nbogus = 1\n"), Data(), "check m.toml",
       "m.toml:23:1: unknown key 'bogus' in an experiment"},
      {WithExperiments("[[experiments]]\ndata = \"none.csv\"\n"), Data(), "fit m.toml",
       "cannot open data file 'none.csv': no such file"},
      {Replace(kModel, "{ name = \"Atot\", value = 1 }", kPerExperimentAtot), Data(), "check m.toml",
       "m.toml:14:48: adjustable Atot: per_experiment needs [[experiments]]"},
      {WithExperiments("[[experiments]]\ndata = \"data.csv\"\n",
                       Replace(kModel, "{ name = \"Atot\", value = 1 }",
                               std::string(kPerExperimentAtot) +
                                   ", { name = \"q\", equal_to = \"Atot*2\" }")),
       Data(), "check m.toml",
       "m.toml:13: adjustable q: equal_to may not read Atot, which has one value per experiment"},
  };
  for (const auto& c : cases) {
    Write("m.toml", c.model);
    Write("data.csv", c.data);
    const Result r = Run(c.args);
    EXPECT_EQ(r.code, 2) << c.args << "\n" << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos)
        << c.args << ": got\n" << r.err << "expected \"" << c.message << "\"";
  }
}

// The command line decides what is free and how the fit runs, over the file.
TEST_F(CliCommands, FitControlOverridesTheFile) {
  Write("m.toml", kModel);
  Write("data.csv", Data());
  const Result r = Run("fit -q --no-profiles m.toml --set k=0.5 --fix k --free Atot --set Atot=0.8 "
                       "--method 'RUNGE-KUTTA 5' --tolerance 1e-9 --max-calls 33 -o res");
  ASSERT_EQ(r.code, 0) << r.err;
  const auto fit = nlohmann::json::parse(Read("res/fit.json"));
  EXPECT_EQ(fit["method"], "RUNGE-KUTTA 5");
  EXPECT_EQ(fit["tolerance"], 1e-9);
  EXPECT_EQ(fit["max_calls"], 33);
  EXPECT_EQ(fit["adjustables"][0]["status"], "fixed");
  EXPECT_EQ(fit["adjustables"][0]["value"], 0.5);
  EXPECT_EQ(fit["adjustables"][1]["status"], "free");
  EXPECT_NEAR(fit["adjustables"][1]["value"].get<double>(), 1.0, 0.01);
}

// Multi-start: every start is listed, start 1 is the file's own, the draws repeat with the
// seed, and the best minimum is reached.
TEST_F(CliCommands, MultiStartListsEveryStartAndRepeatsWithItsSeed) {
  Write("m.toml", kModel);
  Write("data.csv", Data());
  std::vector<nlohmann::json> runs;
  for (const char* seed : {"5", "5", "6"}) {
    const Result r = Run(std::string("fit -q --no-profiles m.toml --starts 4 -o res --seed ") + seed);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("Multi-start: 4 starts"), std::string::npos) << r.out;
    runs.push_back(nlohmann::json::parse(Read("res/fit.json"))["starts"]);
  }
  ASSERT_EQ(runs[0].size(), 4u);
  EXPECT_EQ(runs[0][0]["start_values"]["k"], 0.3);
  int reached = 0;
  for (const auto& st : runs[0]) {
    reached += st["reached_best"].get<bool>();
    const double k = st["start_values"]["k"];
    EXPECT_TRUE(k >= 0.03 && k <= 3) << k;  // a decade either way of 0.3
  }
  EXPECT_GE(reached, 1);
  EXPECT_EQ(runs[0], runs[1]);
  EXPECT_NE(runs[0][1]["start_values"], runs[2][1]["start_values"]);
}

// Reactions add to hand-written rates, and check shows the sum in the user's names.
TEST_F(CliCommands, CheckPrintsTheRatesReactionsDerive) {
  Write("m.toml", WithReaction("2 A -> B", "\"k\""));
  Write("data.csv", Data());
  const Result r = Run("check m.toml");
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("dA/dt = (-k - 2*k*A)*A\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("dB/dt = (k + k*A)*A\n"), std::string::npos) << r.out;
}

// Each experiment keeps its own time (T included) and start values; its points follow the
// previous experiment's, a start point at t0 put in front when its data begin later.
TEST_F(CliCommands, ExperimentsKeepTheirOwnTimeAndStarts) {
  Write("m.toml", R"toml(species = [ { name = "A", start = "a0" } ]
adjustables = [ { name = "a0", value = 1 }, { name = "c", value = 10, per_experiment = true } ]
outputs = [ { name = "Y", formula = "A + T + c" } ]
[[experiments]]
data = "one.csv"
[[experiments]]
name = "two"
data = "two.csv"
start = { A = "2*a0" }
)toml");
  Write("one.csv", "time,Y\n0,1\n1,2\n2,3\n");
  Write("two.csv", "time,Y\n0.5,1\n1.5,2\n");
  const Result r = Run("simulate m.toml -o res");
  ASSERT_EQ(r.code, 0) << r.err;
  std::istringstream csv(Read("res/points.csv"));
  std::string line;
  std::getline(csv, line);
  std::vector<double> simulated;
  while (std::getline(csv, line)) {
    std::vector<std::string> cells;
    for (size_t at = 0, end; at <= line.size(); at = end + 1) {
      end = std::min(line.find(',', at), line.size());
      cells.push_back(line.substr(at, end - at));
    }
    simulated.push_back(std::stod(cells.at(3)));
  }
  const std::vector<double> expected = {11, 12, 13, 12, 12.5, 13.5};
  ASSERT_EQ(simulated.size(), expected.size()) << Read("res/points.csv");
  for (size_t j = 0; j < expected.size(); ++j) EXPECT_NEAR(simulated[j], expected[j], 1e-9) << j;
}

TEST_F(CliCommands, CheckValidatesAndWarns) {
  Write("m.toml", kModel);
  Write("data.csv", Data());
  Result r = Run("check m.toml");
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("valid: 2 species, 1 interval"), std::string::npos) << r.out;
  EXPECT_EQ(r.err, "");
  // Legal but likely wrong: a fixed step overshooting the points (at the top of its
  // tolerance range), an output without data. (A free adjustable at 0 is refused: see
  // CliTrust.)
  std::string m = Replace(kModel, "RUNGE-KUTTA QC", "RUNGE-KUTTA 4");
  m = Replace(m, "tolerance = 1e-8", "tolerance = 0.01");
  m = Replace(m, "outputs = [ { name = \"Y\", formula = \"A + 0.5*B\" } ]",
              "outputs = [ { name = \"Y\", formula = \"A + 0.5*B\" }, { name = \"W\", formula = \"B\" } ]");
  Write("m.toml", m);
  r = Run("check m.toml");
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.err.find("the last step ends 0.1 later (10% of the gap); 7 of 10 steps"),
            std::string::npos) << r.err;
  EXPECT_NE(r.err.find("tolerance = 0.00390625, whose steps land on the points"),
            std::string::npos) << r.err;
  EXPECT_NE(r.err.find("output 'W' has no data in data.csv"), std::string::npos) << r.err;
}

TEST_F(CliCommands, SimulateWritesFiguresPointsAndPlot) {
  Write("m.toml", kModel);
  Write("data.csv", Data());
  const Result r = Run("simulate m.toml --set k=0.5 -o res");
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("ErreurCalc"), std::string::npos);
  EXPECT_NE(r.out.find("22 measured values"), std::string::npos) << r.out;
  const std::string points = Read("res/points.csv");
  EXPECT_EQ(points.substr(0, points.find('\n')), "time,interval,Y.mean,Y.sim,Y.res.1,Y.res.2");
  // At t = 2 the model (k = 0.5) gives 0.5 + 0.5 e^-1 = 0.68394; the mean of the data too.
  std::istringstream lines(points);
  std::string line;
  for (int i = 0; i < 4; ++i) std::getline(lines, line);
  double t, interval, mean, sim;
  char comma;
  std::istringstream(line) >> t >> comma >> interval >> comma >> mean >> comma >> sim;
  EXPECT_EQ(t, 2);
  EXPECT_NEAR(sim, 0.5 + 0.5 * std::exp(-1.0), 1e-7);
  EXPECT_NEAR(mean, sim, 1e-5);
  EXPECT_EQ(Read("res/plot.png").substr(1, 3), "PNG");
  EXPECT_NE(Read("res/plot.svg").find("<svg"), std::string::npos);
  EXPECT_FALSE(fs::exists(dir_ + "/res/fit.json"));
}

// The letters of a plot keep their size in pixels whatever the number of panels (PLplot's
// own size grows with the page, and on a page of six outputs ran over the panels).
TEST_F(CliCommands, PlotLettersKeepTheirSizeOnATallPage) {
  auto sizes = [](const std::string& svg) {
    std::set<std::string> found;
    for (size_t at = svg.find("font-size=\""); at != std::string::npos;
         at = svg.find("font-size=\"", at + 1))
      found.insert(svg.substr(at, svg.find('"', at + 11) - at));
    return found;
  };
  Write("data.csv", Data());
  std::set<std::string> seen[2];
  for (int tall = 0; tall < 2; ++tall) {
    std::string m = kModel;
    if (tall)
      m = Replace(m, "{ name = \"Y\", formula = \"A + 0.5*B\" }",
                  "{ name = \"Y\", formula = \"A + 0.5*B\" }, { name = \"W1\", formula = \"B\" }, "
                  "{ name = \"W2\", formula = \"B\" }, { name = \"W3\", formula = \"B\" }, "
                  "{ name = \"W4\", formula = \"B\" }, { name = \"W5\", formula = \"B\" }");
    Write("m.toml", m);
    const Result r = Run("simulate m.toml -o res");
    ASSERT_EQ(r.code, 0) << r.err;
    seen[tall] = sizes(Read("res/plot.svg"));
  }
  EXPECT_FALSE(seen[0].empty());
  EXPECT_EQ(seen[0], seen[1]);
}

TEST_F(CliCommands, FitExitStatusFollowsTheOutcome) {
  Write("m.toml", kModel);
  Write("data.csv", Data());
  Result r = Run("fit m.toml");
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("The fit converged"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("    1  "), std::string::npos) << "a progress line per call";
  nlohmann::json j = nlohmann::json::parse(Read("m-results/fit.json"));
  EXPECT_EQ(j["outcome"], "converged");
  EXPECT_NEAR(j["adjustables"][0]["value"].get<double>(), 0.5, 1e-3);
  EXPECT_GT(j["adjustables"][0]["sd"].get<double>(), 0);
  EXPECT_EQ(j["adjustables"][1]["status"], "fixed");
  EXPECT_EQ(j["history"].size(), j["calls"].get<size_t>());
  EXPECT_TRUE(fs::exists(dir_ + "/m-results/plot.png"));

  r = Run("fit --quiet m.toml");  // no progress lines
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.err, "");

  Write("m.toml", Replace(kModel, "max_calls = 40", "max_calls = 1"));
  r = Run("fit -q m.toml -o out");
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.out.find("did NOT converge within 1 calls"), std::string::npos) << r.out;
  j = nlohmann::json::parse(Read("out/fit.json"));
  EXPECT_EQ(j["outcome"], "not converged");
  EXPECT_TRUE(j["adjustables"][0]["sd"].is_null());

  // An integration that cannot reach the points: the fit fails with the sentence for it.
  Write("m.toml", Replace(kModel, "tolerance = 1e-8", "tolerance = 1e-2"));
  r = Run("fit -q m.toml --set k=1e4 -o out");
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.out.find("FAILED before its first call"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("1/tolerance steps"), std::string::npos) << r.out;
  r = Run("simulate -q m.toml --set k=1e4 -o out");
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("(Erreur 2)"), std::string::npos) << r.err;
}

// Inputs that once gave a wrong answer reported as success, ran for minutes, crashed a
// library underneath, or explained a failure wrongly: each now ends with its status and a
// message that says what is wrong.
TEST_F(CliCommands, UntrustworthyInputsAreRefusedOrStopped) {
  const std::string rk4 = Replace(kModel, "RUNGE-KUTTA QC", "RUNGE-KUTTA 4");
  const std::string deep = std::string(300, '(') + "A" + std::string(300, ')');
  std::string dotted = "[a";
  for (int i = 0; i < 100000; ++i) dotted += ".a";
  std::string few_dots = "[a";
  for (int i = 0; i < 20; ++i) few_dots += ".a";
  std::string forty_points = "time,Y\n";
  for (int i = 0; i <= 40; ++i) forty_points += std::to_string(i) + ",0.5\n";
  const std::string blow_up = Replace(kModel, "A = { A = \"-k\" }", "A = { A = \"k*1000\" }");
  const struct {
    std::string model, data, args;
    int code;
    std::string message;
  } cases[] = {
      {Replace(kModel, "tolerance = 1e-8", "tolerance = 10"), Data(), "fit m.toml", 2,
       "m.toml:2:13: 'tolerance' = 10 is outside 1e-14 .. 0.01"},
      {Replace(rk4, "tolerance = 1e-8", "tolerance = 1"), Data(), "fit m.toml", 2,
       "outside 1e-12 .. 0.01, the range in which RUNGE-KUTTA 4"},
      {Replace(kModel, "value = 0.3", "value = nan"), Data(), "check m.toml", 2,
       "'value' must be a finite number, not nan"},
      {Replace(kModel, "\"Atot\" }", "inf }"), Data(), "check m.toml", 2,
       "species A start: inf is not a finite number"},
      {kModel, Data(), "simulate m.toml --set k=inf", 2, "'inf' is not a number"},
      {Replace(kModel, "value = 0.3", "value = 0"), Data(), "fit -q m.toml", 2,
       "adjustable 'k' is free with value 0"},
      {kModel, Data(), "fit m.toml --set k=0", 2, "give it a plausible non-zero start value"},
      {Replace(kModel, "start = \"Atot\"", "start = \"Atot - B\""), Data(), "check m.toml", 2,
       "species A start: reads species 'B', but nothing precedes interval 1"},
      {kModel, Data(), "synth m.toml --design data.csv -o ./m.toml", 2,
       "is an input of this command"},
      {Replace(kModel, "data.csv", "."), Data(), "check m.toml", 2,
       "cannot open data file '.': it is a folder"},
      {kModel, std::string("time,Y\n0,1\x01\x02\n", 12), "check m.toml", 2,
       "data.csv:2: character 4 is a control byte"},
      {kModel, Data(), "m.toml fit", 2, "the command comes first: tarvo fit m.toml"},
      {std::string(kModel) + "[plot]\ntitle = \"" + std::string(5000, 'x') + "\"\n", Data(), "fit m.toml", 2,
       "'title' has 5000 characters, at most 200"},
      {dotted + "]\n" + kModel, Data(), "check m.toml", 2, "m.toml:1: a line of 200003 characters"},
      {few_dots + "]\n" + kModel, Data(), "check m.toml", 2, "a key of 21 dotted parts"},
      {Replace(kModel, "\"A + 0.5*B\"", "\"" + deep + "\""), Data(), "check m.toml", 2,
       "output Y: a formula of brackets nested more than 256 deep"},
      {kModel, Data(), "formula \"" + deep + "\"", 2, "nested more than 256 deep"},
      {kModel, "time,Y\n-1,1\n1,0.5\n", "check m.toml", 2, "time -1 is negative"},
      {Replace(kModel, "data = ", "t0 = 0.5\ndata = "), Data(), "simulate m.toml", 2,
       "time 0 comes before t0 = 0.5"},
      {Replace(rk4, "tolerance = 1e-8", "tolerance = 1e-12"), forty_points, "simulate m.toml", 2,
       "more than the budget of 2e+08"},
      {blow_up, Data(), "fit -q m.toml", 1, "the simulation left the finite numbers: output 'Y'"},
      {blow_up, Data(), "simulate m.toml", 1, "with k = 0.3, Atot = 1; likely causes"},
      {kModel, Data(), "--version", 0, "tarvo 0."},
  };
  for (const auto& c : cases) {
    Write("m.toml", c.model);
    Write("data.csv", c.data);
    const Result r = Run(c.args);
    EXPECT_EQ(r.code, c.code) << c.args << "\n" << r.err;
    EXPECT_NE((r.err + r.out).find(c.message), std::string::npos)
          << c.args << ": got\n" << r.err << r.out << "expected \"" << c.message << "\"";
  }
}

// Results that must not depend on how the model is written: the order of the declarations a
// start formula reads, a first data point after t0, a signed signal lifted by an offset.
TEST_F(CliCommands, ResultsFollowTheModelNotItsSpelling) {
  auto last_sim = [&](const std::string& file) {
    const std::string points = Read(file);
    const size_t line = points.rfind('\n', points.size() - 2) + 1;
    return std::stod(points.substr(points.rfind(',') + 1, points.size() - line));
  };
  // A quench: P takes what is left of S at the start of interval 2, declared before or after S.
  const std::string data = "interval,time,Y\n1,0,0\n1,1,0.3\n2,2,1\n2,3,1\n";
  const char* orders[] = {"{ name = \"A\", start = [\"Atot\", \"0\"] },\n  { name = \"B\", start = [\"0\", \"B + A\"] },",
                          "{ name = \"B\", start = [\"0\", \"B + A\"] },\n  { name = \"A\", start = [\"Atot\", \"0\"] },"};
  double quenched[2];
  for (int k = 0; k < 2; ++k) {
    Write("m.toml", Replace(kModel, "{ name = \"A\", start = \"Atot\" },\n  { name = \"B\", start = \"0\" },",
                            orders[k]));
    Write("data.csv", data);
    const Result r = Run("simulate m.toml -o o" + std::to_string(k));
    ASSERT_EQ(r.code, 0) << r.err;
    quenched[k] = last_sim("o" + std::to_string(k) + "/points.csv");
  }
  // Y = A + B/2 with all of A moved into B at t = 1: Y = Atot/2 from then on.
  EXPECT_NEAR(quenched[0], 0.5, 1e-9);
  EXPECT_EQ(quenched[0], quenched[1]);

  // Data from t = 1 on: the start formulas still apply at t0 = 0, and the fit finds k.
  std::string late = Data();
  late.erase(late.find('\n') + 1, late.find('\n', late.find('\n') + 1) - late.find('\n'));
  Write("m.toml", kModel);
  Write("data.csv", late);
  Result r = Run("fit -q m.toml");
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("Start       t0 = 0, before the first data point (t = 1)"),
            std::string::npos) << r.out;
  EXPECT_NEAR(nlohmann::json::parse(Read("m-results/fit.json"))["adjustables"][0]["value"]
                  .get<double>(), 0.5, 1e-3);

  // A signal that crosses 0: Y - 0.6 measured. Without an offset the warning names the values
  // the library would drop, even under --quiet; with it the fit finds k.
  std::string signed_data = "time,Y\n";
  for (int j = 0; j <= 10; ++j)
    signed_data += std::to_string(j) + "," + std::to_string(0.5 * std::exp(-0.5 * j) - 0.1) + "\n";
  const std::string shifted = Replace(kModel, "formula = \"A + 0.5*B\"", "formula = \"A + 0.5*B - 0.6\"");
  Write("m.toml", shifted);
  Write("data.csv", signed_data);
  r = Run("fit -q m.toml");
  EXPECT_NE(r.err.find("output 'Y': 7 of 11 measured values are 0 or below (lines 6, 7, 8, 9, 10, 11, ...)"),
            std::string::npos) << r.err;
  EXPECT_NE(r.err.find("add offset = 1 to the output"), std::string::npos) << r.err;
  Write("m.toml", Replace(shifted, "- 0.6\" }", "- 0.6\", offset = 1 }"));
  r = Run("fit -q m.toml");
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.err.find("0 or below"), std::string::npos) << r.err;
  EXPECT_NEAR(nlohmann::json::parse(Read("m-results/fit.json"))["adjustables"][0]["value"]
                  .get<double>(), 0.5, 1e-4);
}

}  // namespace
