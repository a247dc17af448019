// What tarvo tells a user about results it cannot vouch for, and about inputs it takes or
// refuses: guards and huge values behind an output, the start point that pushes the data past
// the library's limit, a reaction written twice, the per-experiment names the report shows,
// the points and start of experiments, a failed start of a multi-start fit.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/cli_run.h"

namespace {

namespace fs = std::filesystem;

const char* kModel = R"toml(method = "RUNGE-KUTTA QC"
tolerance = 1e-8
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

// Y = A + 0.5 B with k = 0.5 at t = first, first + 1, ..., two replicates a little apart.
std::string Data(double first = 0, int points = 11) {
  std::string d = "time,Y,Y\n";
  for (int j = 0; j < points; ++j) {
    const double t = first + j, y = 0.5 + 0.5 * std::exp(-0.5 * t);
    d += std::to_string(t) + "," + std::to_string(y * 1.01) + "," + std::to_string(y * 0.99) + "\n";
  }
  return d;
}

using tarvo::testcli::Replace;
using Result = tarvo::testcli::RunResult;

// kModel over two experiments, run1 and run2, with a per-experiment Atot.
std::string TwoExperiments() {
  std::string m = Replace(kModel, "data = \"data.csv\"\n", "");
  m = Replace(m, "{ name = \"Atot\", value = 1 }",
              "{ name = \"Atot\", value = 1, per_experiment = true }");
  return m + "\n[[experiments]]\nname = \"run1\"\ndata = \"one.csv\"\n"
             "[[experiments]]\nname = \"run2\"\ndata = \"two.csv\"\n";
}

class CliMessages : public tarvo::testcli::CliTest {
 protected:
  CliMessages() : CliTest("cli-messages") {}
};

// A guard inside an output formula decides its value even when the value looks ordinary:
// 0.001*ln(B) is -0.3 at B = 0, 1/(1 + 1/B) is 1e-130. Each is named with its formula and point;
// formulas whose ln and divisions stay clear of the guards get no word.
TEST_F(CliMessages, GuardInsideAnOutputFormulaIsNamed) {
  const struct {
    const char* formula;
    const char* expected;  // "" for no guard warning
  } cases[] = {
      {"A + 0.001*ln(B)", "m.toml:15:38: output Y: ln(B) at t = 0 (data.csv line 2): its "
                          "argument is 0, so the library's logarithm clamp"},
      {"A + 1/(1 + 1/B)", "m.toml:15:38: output Y: the divisor B is 0 at t = 0 (data.csv line "
                          "2), so the library's division guard"},
      {"A + 0.5*B/(B + A)^2", ""},  // a divisor that is never 0
      {"A + 0.1*ln(1 + B)", ""},
  };
  Write("data.csv", Data());
  for (const auto& c : cases) {
    Write("m.toml", Replace(kModel, "A + 0.5*B", c.formula));
    const Result r = Run("simulate m.toml -o res");
    ASSERT_EQ(r.code, 0) << c.formula << r.err;
    const std::string expected = c.expected;
    if (expected.empty()) {
      EXPECT_EQ(r.err.find("guard"), std::string::npos) << c.formula << r.err;
      EXPECT_EQ(r.err.find("clamp"), std::string::npos) << c.formula << r.err;
    } else {
      EXPECT_NE(r.err.find(expected), std::string::npos) << c.formula << r.err;
    }
  }
}

// An output of 1e43 against data near 1 drowns every other effect: the fit fails as singular,
// and the warning names the output, its value and the likely cause.
TEST_F(CliMessages, HugeOutputIsNamedBesideTheSingularFit) {
  Write("data.csv", Data());
  Write("m.toml", Replace(Replace(kModel, "A + 0.5*B", "A + 0.5*B + exp(1000*k1)"),
                          "{ name = \"Atot\", value = 1 },",
                          "{ name = \"Atot\", value = 1 },\n  { name = \"k1\", value = 0.1, free = true },"));
  const Result r = Run("fit -q m.toml -o res");
  EXPECT_EQ(r.code, 1) << r.out << r.err;
  EXPECT_NE(r.err.find("m.toml:16:38: output Y: the simulated value 2.68812e+43 at t = 0 (data.csv line 2) is "
                       "2.7e+43 times the largest measured value"),
            std::string::npos) << r.err;
  EXPECT_NE(r.err.find("an exp() of a large argument"), std::string::npos) << r.err;
  // Data on the output's scale are no cause for a word.
  Write("m.toml", kModel);
  EXPECT_EQ(Run("simulate m.toml -o res").err, "");
}

// 1000 data points are the library's limit; a start point at t0 before them makes 1001, and
// the message says so and what to do. With t0 at the first time, the same data are taken.
TEST_F(CliMessages, StartPointBeyondThePointLimitIsExplained) {
  Write("data.csv", Data(1, 1000));
  Write("m.toml", kModel);
  Result r = Run("check m.toml");
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("data.csv: 1000 data points and the start point at t0 = 0 (the simulation "
                       "starts there, before the first data point, t = 1) make 1001 points, more "
                       "than the library's 1000: set t0 = 1 in the model file"),
            std::string::npos) << r.err;
  Write("m.toml", Replace(kModel, "max_calls = 40\n", "max_calls = 40\nt0 = 1\n"));
  r = Run("check m.toml");
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("1000 points"), std::string::npos) << r.out;
}

// A reaction that repeats [rates] term for term would double the rate: refused with both
// places. One that repeats some terms is taken with a warning naming them.
TEST_F(CliMessages, ReactionRepeatingTheRatesIsRefused) {
  const struct {
    const char* equation;
    const char* rate;
    int code;
    const char* expected;
  } cases[] = {
      {"A -> B", "k", 2,
       "m.toml:18:13: reaction 1: 'A -> B' repeats what [rates] writes: rates A/A (line 22) "
       "holds -k; rates B/A (line 23) holds k. The rate would count twice"},
      {"A -> B", " k ", 2, "repeats what [rates] writes"},  // blanks change nothing
      {"A ->", "k", 2, "rates A/A (line 22) holds -k. The rate would count twice"},
      {"A -> 2 B", "k", 0,
       "m.toml:18:13: reaction 1: 'A -> 2 B' repeats what [rates] writes: rates A/A (line 22) "
       "holds -k; these terms count twice"},
      {"A -> B", "2*k", 0, ""},
  };
  Write("data.csv", Data());
  for (const auto& c : cases) {
    Write("m.toml", Replace(kModel, "[rates]", std::string("[[reactions]]\nequation = \"") +
                                                   c.equation + "\"\nrate = \"" + c.rate +
                                                   "\"\n\n[rates]"));
    const Result r = Run("check m.toml");
    EXPECT_EQ(r.code, c.code) << c.equation << r.err;
    if (*c.expected) {
      EXPECT_NE(r.err.find(c.expected), std::string::npos) << c.equation << r.err;
    } else {
      EXPECT_EQ(r.err, "") << c.equation;
    }
  }
}

// The per-experiment names the report shows (Atot@run2) are taken by --set, --free and --fix,
// for that experiment's copy alone; the plain name stands for every copy.
TEST_F(CliMessages, PerExperimentNamesAreTakenAsTheReportShowsThem) {
  Write("m.toml", TwoExperiments());
  Write("one.csv", Data());
  Write("two.csv", Data());
  const struct {
    const char* args;
    const char* run1;  // status, value of Atot@run1 and Atot@run2 in fit.json
    const char* run2;
    double value2;
  } cases[] = {
      {"--set Atot@run2=1.2 --free Atot@run1 --fix k", "free", "fixed", 1.2},
      {"--free Atot@run2 --fix k", "fixed", "free", 0},
      {"--free Atot --fix Atot@run1 --fix k", "fixed", "free", 0},
      {"--free Atot --fix k", "free", "free", 0},
  };
  for (const auto& c : cases) {
    const Result r = Run(std::string("fit -q m.toml -o res --no-profiles ") + c.args);
    ASSERT_NE(r.code, 2) << c.args << r.err;
    const nlohmann::json fit = nlohmann::json::parse(Read("res/fit.json"));
    std::map<std::string, nlohmann::json> by_name;
    for (const auto& a : fit["adjustables"]) by_name[a["name"]] = a;
    EXPECT_EQ(by_name["Atot@run1"]["status"], c.run1) << c.args;
    EXPECT_EQ(by_name["Atot@run2"]["status"], c.run2) << c.args;
    if (c.value2 > 0) {
      EXPECT_EQ(by_name["Atot@run2"]["value"], c.value2) << c.args;
    }
  }
  const Result r = Run("fit -q m.toml -o res --fix Atot@run3");
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("--fix Atot@run3: 'Atot@run3' is not an adjustable of the model (one per "
                       "experiment: Atot@run1, Atot@run2)"),
            std::string::npos) << r.err;
}

// Experiments whose data start at 1.5: the report counts the points read and says where each
// experiment starts.
TEST_F(CliMessages, ReportCountsTheExperimentsPointsAndStarts) {
  Write("m.toml", TwoExperiments());
  Write("one.csv", Data(1.5, 30));
  Write("two.csv", Data(1.5, 30));
  Result r = Run("simulate m.toml -o res");
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("in each experiment, t0 = 0, before the first data point (t = 1.5)"),
            std::string::npos) << r.out;
  r = Run("fit -q m.toml -o res --no-profiles");
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("one.csv, two.csv (60 points)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\nrun1               30      60"), std::string::npos) << r.out;
  // One experiment starting at its first point, the other later: each is named.
  Write("one.csv", Data(0, 30));
  r = Run("fit -q m.toml -o res --no-profiles");
  EXPECT_NE(r.out.find("Start       run1: the first data point, t = 0; run2: t0 = 0, before the "
                       "first data point (t = 1.5)"),
            std::string::npos) << r.out;
}

// A start that fails prints "failed" and its reason in full, and no SSR it never had.
TEST_F(CliMessages, FailedStartPrintsItsWholeReason) {
  // The starts spread k over 0.03 .. 3: exp(1000*k) overflows for k above about 0.71.
  Write("data.csv", Data());
  Write("m.toml", Replace(kModel, "A + 0.5*B", "A + 0.5*B + 1e-300*exp(1000*k)"));
  const Result r = Run("fit m.toml -o res --no-profiles --starts 8");
  size_t failed = 0;
  std::istringstream lines(r.err);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("start ", 0) != 0 || line.find("failed") == std::string::npos) continue;
    ++failed;
    EXPECT_NE(line.find("  failed "), std::string::npos) << line;
    EXPECT_EQ(line.find("SSR"), std::string::npos) << line;
    // The whole reason, as the fit driver words it, after the elapsed time.
    EXPECT_NE(line.find("s: at the start values: the simulation left the finite numbers: "
                        "output 'Y' is inf"),
              std::string::npos) << line;
  }
  EXPECT_GT(failed, 0u) << r.err;
}

}  // namespace
