// The method library's "EXACT" and "BDF" in the front end: model files that name them (or
// "auto") load and fit through the tarvo command to the answer "RUNGE-KUTTA QC" gives; what
// "auto" picks; "EXACT" refused for a nonlinear model, naming the formulas; tolerances outside
// each method's range of kMethodFacts refused.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>

#include <nlohmann/json.hpp>

#include "engines/methods.h"
#include "language/method_choice.h"
#include "language/prepare.h"
#include "support/cli_run.h"
#ifdef TARVO_HAVE_METHODS
#include "engines/external/method_library.h"
#endif

namespace tarvo::frontend {
namespace {

namespace fs = std::filesystem;

// A -> B, Y = A + B/2; METHOD and RATE_A are replaced per case.
const char* kModel = R"toml(method = "METHOD"
tolerance = 1e-8
precision = 1e-10
data = "data.csv"

species = [ { name = "A", start = "1" }, { name = "B", start = "0" } ]
adjustables = [ { name = "k", value = 0.3, free = true } ]
outputs = [ { name = "Y", formula = "A + 0.5*B" } ]

[rates]
A = { A = "RATE_A" }
B = { A = "k" }
)toml";

using testcli::Replace;
using Result = testcli::RunResult;

std::string ModelText(const std::string& method, const std::string& rate_a = "-k") {
  return Replace(Replace(kModel, "METHOD", method), "RATE_A", rate_a);
}

// Y at k = 0.5 up to t = last, two replicates 1 % apart.
std::string Data(int last = 10) {
  std::string d = "time,Y,Y\n";
  for (int j = 0; j <= last; ++j) {
    const double y = 0.5 + 0.5 * std::exp(-0.5 * j);
    d += std::to_string(j) + "," + std::to_string(y * 1.01) + "," + std::to_string(y * 0.99) + "\n";
  }
  return d;
}

class CliMethods : public testcli::CliTest {
 protected:
  CliMethods() : CliTest("cli-methods") {}
  static void SetUpTestSuite() {
#ifdef TARVO_HAVE_METHODS
    RegisterMethodLibrary();
#endif
  }
  void SetUp() override {
#ifndef TARVO_HAVE_METHODS
    GTEST_SKIP() << "built without the method library";
#endif
    CliTest::SetUp();
  }
  // The model text prepared with data (the folder's data.csv).
  int PrepareText(const std::string& text, Prepared& p, std::string& message) {
    Write("data.csv", Data());
    Model m;
    if (ReadModelText(text, dir_ + "/m.toml", m, message) != 0) return 2;
    std::vector<std::string> errors;
    const int status = PrepareModel(m, {}, nullptr, p, errors);
    for (const auto& e : errors) message += e + "\n";
    return status;
  }
};

double FittedK(const std::string& json_text) {
  const nlohmann::json j = nlohmann::json::parse(json_text);
  for (const auto& a : j["adjustables"])
    if (a["name"] == "k") return a["value"].get<double>();
  return NAN;
}

TEST_F(CliMethods, ModelFilesNamingTheMethodsFitLikeRungeKuttaQc) {
  Write("data.csv", Data());
  Write("qc.toml", ModelText("RUNGE-KUTTA QC"));
  ASSERT_EQ(Run("fit qc.toml -q --no-profiles -o qc").code, 0);
  const double reference = FittedK(Read("qc/fit.json"));
  ASSERT_NEAR(reference, 0.5, 0.02);
  struct Case {
    const char* method;
    const char* option;
    const char* reported;
  };
  const Case cases[] = {{"EXACT", "", "EXACT"},
                        {"BDF", "", "BDF"},
                        {"auto", "", "EXACT"},
                        {"RUNGE-KUTTA QC", "--method auto", "EXACT"},
                        {"RUNGE-KUTTA QC", "--method BDF", "BDF"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.method) + " " + c.option);
    Write("m.toml", ModelText(c.method));
    const Result r = Run(std::string("fit m.toml -q --no-profiles -o out ") + c.option);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find(std::string("Method      ") + c.reported + ","), std::string::npos)
        << r.out;
    const nlohmann::json j = nlohmann::json::parse(Read("out/fit.json"));
    EXPECT_EQ(j["method"], c.reported);
    const bool picked = std::string(c.method) == "auto" || std::string(c.option) == "--method auto";
    EXPECT_EQ(j.contains("method_choice"), picked);
    EXPECT_EQ(r.out.find("picked \"EXACT\"") != std::string::npos, picked) << r.out;
    EXPECT_NEAR(FittedK(Read("out/fit.json")), reference, 1e-5 * reference);
  }
}

TEST_F(CliMethods, AutoPicksExactForLinearBdfForStiffElseRungeKuttaQc) {
  // A's coefficient reads B (nonlinear); at the start |M_AA| = 1000 k B and |M_BB| = 0.1:
  // a spread of 1e4, stiff when the data span enough of the fast rate's time.
  const std::string stiff = Replace(Replace(ModelText("auto", "-1000*k*B"), "B = { A = \"k\" }",
                                            "B = { B = \"-0.1\" }"),
                                    "name = \"B\", start = \"0\"", "name = \"B\", start = \"1\"");
  struct Case {
    const char* name;
    std::string text;
    int last_time;
    const char* method;
  };
  const Case cases[] = {
      {"linear", ModelText("auto"), 10, "EXACT"},
      {"linear, time-dependent", ModelText("auto", "-k*T"), 10, "RUNGE-KUTTA QC"},
      {"nonlinear, one time scale", ModelText("auto", "-k*A"), 10, "RUNGE-KUTTA QC"},
      {"stiff", stiff, 10, "BDF"},
      {"fast rate over a short span", stiff, 0, "RUNGE-KUTTA QC"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Prepared p;
    std::string message;
    Write("data.csv", Data(c.last_time));
    Model m;
    ASSERT_EQ(ReadModelText(c.text, dir_ + "/m.toml", m, message), 0) << message;
    if (c.last_time == 0) m.data.clear();
    Dataset one;
    one.path = "one point";
    one.points.push_back(DataPoint{});
    one.points.back().interval = 1;
    one.points.back().time = 0.5;
    one.points.back().values.assign(1, {0.9});
    std::vector<std::string> errors;
    ASSERT_EQ(PrepareModel(m, {}, c.last_time == 0 ? &one : nullptr, p, errors), 0)
        << (errors.empty() ? "" : errors[0]);
    EXPECT_EQ(p.model.method, c.method);
    EXPECT_FALSE(p.method_choice.empty());
    // A model that names its method keeps it, with a note suggesting the better one.
    Prepared named;
    ASSERT_EQ(PrepareText(Replace(c.text, "\"auto\"", "\"RUNGE-KUTTA QC\""), named, message), 0);
    EXPECT_EQ(named.model.method, "RUNGE-KUTTA QC");
    EXPECT_TRUE(named.method_choice.empty());
  }
  Prepared p;
  std::string message;
  ASSERT_EQ(PrepareText(Replace(stiff, "\"auto\"", "\"RUNGE-KUTTA QC\""), p, message), 0);
  ASSERT_EQ(MethodNotes(p).size(), 1u);
  EXPECT_NE(MethodNotes(p)[0].find("\"BDF\""), std::string::npos) << MethodNotes(p)[0];
}

TEST_F(CliMethods, ExactRefusesANonlinearModelNamingTheFormulas) {
  Write("data.csv", Data());
  Write("m.toml", ModelText("EXACT", "-k*A*T"));
  for (const char* command : {"fit m.toml -q -o out", "check m.toml", "simulate m.toml -o s"}) {
    SCOPED_TRACE(command);
    const Result r = Run(command);
    EXPECT_EQ(r.code, 2);
    // The method's line, then the formula's place and what it reads.
    EXPECT_NE(r.err.find("m.toml:1: method \"EXACT\" solves linear kinetics only"),
              std::string::npos) << r.err;
    EXPECT_NE(r.err.find("m.toml:11:12: rates A/A reads species A and the time T"),
              std::string::npos) << r.err;
  }
}

TEST_F(CliMethods, ToleranceOutsideEachMethodsRangeIsRefused) {
  for (const MethodFacts& f : kMethodFacts) {
    SCOPED_TRACE(std::string(f.name));
    for (const double tol : {f.tolerance_low, f.tolerance_high, f.tolerance_low / 10,
                             f.tolerance_high * 10}) {
      char tol_text[32];
      std::snprintf(tol_text, sizeof tol_text, "%g", tol);
      Model m;
      std::string message;
      const std::string text = Replace(ModelText(std::string(f.name)), "tolerance = 1e-8",
                                       std::string("tolerance = ") + tol_text);
      const int status = ReadModelText(text, "m.toml", m, message);
      const bool inside = tol >= f.tolerance_low && tol <= f.tolerance_high;
      EXPECT_EQ(status, inside ? 0 : 2) << tol_text << ": " << message;
      if (inside) continue;
      EXPECT_NE(message.find("m.toml:2:13: 'tolerance' = " + std::string(tol_text)),
                std::string::npos) << message;
      EXPECT_NE(message.find(std::string(tol > f.tolerance_high ? f.why_high : f.why_low)),
                std::string::npos) << message;
    }
  }
  // "auto" must suit every method it may pick; --method checks the file's tolerance too.
  std::string message;
  Model m;
  EXPECT_EQ(ReadModelText(Replace(ModelText("auto"), "1e-8", "0.05"), "m.toml", m, message), 2);
  EXPECT_NE(message.find("(method = \"auto\" may pick BDF)"), std::string::npos) << message;
  Write("data.csv", Data());
  Write("m.toml", Replace(ModelText("RUNGE-KUTTA QC"), "1e-8", "1e-13"));
  const Result r = Run("fit m.toml -q --method BDF");
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("--method BDF: the model's 'tolerance' = 1e-13 is outside 1e-12 .. 0.01"),
            std::string::npos) << r.err;
}

// A chain A -> B1 -> ... -> BN with the Bs starting at start_b, for CHU-BERMAN's warning.
std::string ChainText(int n, const std::string& start_b) {
  std::string species = "{ name = \"A\", start = \"1\" }", rates = "A = { A = \"-k\" }\n";
  std::string before = "A";
  for (int i = 1; i <= n; ++i) {
    const std::string b = "B" + std::to_string(i);
    species += ", { name = \"" + b + "\", start = \"" + start_b + "\" }";
    rates += b + " = { " + before + " = \"k\"" + (i < n ? ", " + b + " = \"-k\"" : "") + " }\n";
    before = b;
  }
  return "method = \"CHU-BERMAN\"\ntolerance = 1e-8\ndata = \"data.csv\"\n\nspecies = [ " + species +
         " ]\nadjustables = [ { name = \"k\", value = 0.3, free = true } ]\n"
         "outputs = [ { name = \"Y\", formula = \"A + 0.5*B1\" } ]\n\n[rates]\n" + rates;
}

// Warned for a network growing from one species; a species or two at 0 cost little.
TEST_F(CliMethods, ChuBermanWithSpeciesAtZeroIsWarnedBeforeTheRun) {
  Write("data.csv", Data());
  Write("m.toml", ChainText(6, "0"));
  const Result r = Run("check m.toml");
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.err.find("warning: m.toml:1: \"CHU-BERMAN\" sums the relative correction of every "
                       "species in its step test, and B1, B2, B3, B4 and 2 more start at 0"),
            std::string::npos) << r.err;
  Write("m.toml", ChainText(6, "0.1"));
  EXPECT_EQ(Run("check m.toml").err.find("step test"), std::string::npos);
  Write("m.toml", ModelText("CHU-BERMAN"));
  EXPECT_EQ(Run("check m.toml").err.find("step test"), std::string::npos);
}

}  // namespace
}  // namespace tarvo::frontend
