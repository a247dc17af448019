// The one fit driver: compare, profiles and multi-start fit as `fit` does (bounds held),
// a value at its bound is a converged fit that says so, compare refuses other data and
// applies its F test to nested models only, and a fit that did not converge has no criteria.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <nlohmann/json.hpp>

#include "analysis/compare.h"
#include "analysis/fit_run.h"
#include "results/report.h"
#include "support/cli_run.h"

namespace {

namespace fs = std::filesystem;
using namespace tarvo::frontend;

class Driver : public tarvo::testcli::TempFolderTest {
 protected:
  Driver() : TempFolderTest("cli-driver") {}

  // examples/bounded with `active` capped at max (truth 0.8), written into the folder.
  std::string CappedBounded(const std::string& name, const std::string& max) {
    const fs::path src = fs::path(TARVO_SOURCE_DIR) / "examples/bounded";
    std::ifstream in(src / "model.toml");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string from = "value = 0.5\nfree = true\nmin = 0\nmax = 1";
    EXPECT_NE(text.find(from), std::string::npos);
    text.replace(text.find(from), from.size(),
                 "value = 0.2\nfree = true\nmin = 0\nmax = " + max);
    const std::string data = "data = \"data.csv\"";
    text.replace(text.find(data), data.size(), "data = \"" + (src / "data.csv").string() + "\"");
    std::ofstream(Path(name)) << text;
    return Path(name).string();
  }

  // A line y = a + b t fitted to ten points; formula and free flags vary.
  std::string Line(const std::string& name, const std::string& formula, bool a_free,
                   const std::string& data = "data.csv", int max_calls = 60) {
    if (!fs::exists(Path(data))) {
      std::ofstream d(Path(data));
      d << "time,Y,Y\n";
      const double e[] = {0.21, -0.13, 0.05, 0.3, -0.27, 0.11, -0.08, 0.19, -0.22, 0.02};
      for (int t = 1; t <= 10; ++t)
        d << t << "," << 2 + 0.5 * t + e[t - 1] << "," << 2 + 0.5 * t - e[(t + 3) % 10] << "\n";
    }
    std::ofstream(Path(name))
        << "precision = 1e-12\nmax_calls = " << max_calls << "\ndata = \"" << data << "\"\n"
        << "species = [ { name = \"X\", start = \"1\" } ]\n"
        << "adjustables = [ { name = \"a\", value = 1" << (a_free ? ", free = true" : "")
        << " }, { name = \"b\", value = 1, free = true } ]\n"
        << "outputs = [ { name = \"Y\", formula = \"" << formula << "\" } ]\n";
    return Path(name).string();
  }
};

double Value(const FitResult& r, const std::string& name) {
  for (const AdjustableResult& a : r.adjustables)
    if (a.name == name) return a.value;
  return NAN;
}

// `fit` and `compare` both hold active at its cap; the fit converges there and says so, with
// the interval cut by the bound and no hidden name in any message.
TEST_F(Driver, ValueAtItsBoundConvergesThereInFitAndCompare) {
  const std::string capped = CappedBounded("capped.toml", "0.3");
  FitRun run;
  std::vector<std::string> errors;
  ASSERT_EQ(Prepare(capped, {}, run.p, errors), 0) << errors.front();
  FitControl control;
  ASSERT_EQ(SetUpFit(control, run, errors), 0) << errors.front();
  ASSERT_EQ(RunFitOn(run, FitOptions{}, {}, errors), 0) << errors.front();
  const FitResult& r = run.r;
  EXPECT_EQ(r.outcome, "converged") << r.erreur_text;
  EXPECT_DOUBLE_EQ(Value(r, "active"), 0.3);
  EXPECT_NE(r.erreur_text.find("active is at its upper bound 0.3: the data ask for more"),
            std::string::npos) << r.erreur_text;
  EXPECT_EQ(r.erreur_text.find("_fit"), std::string::npos) << r.erreur_text;
  // Held at 0.3, the fit takes Km down to its lower bound too: both are named.
  const BoundValue* active = nullptr;
  for (const BoundValue& b : r.uncertainty.at_bound)
    if (b.name == "active") active = &b;
  ASSERT_NE(active, nullptr);
  EXPECT_TRUE(active->upper);
  const Interval& ci = active->interval;
  EXPECT_TRUE(ci.computed);
  EXPECT_TRUE(ci.upper_cut);
  EXPECT_DOUBLE_EQ(ci.upper, 0.3);
  EXPECT_LT(ci.lower, 0.3);
  EXPECT_GT(ci.lower, 0);
  const auto j = nlohmann::json::parse(FitJsonText(run.p, r));
  for (const auto& a : j["adjustables"])
    if (a["name"] == "active") {
      EXPECT_EQ(a["at_bound"], "upper");
      EXPECT_EQ(a["ci"]["upper_cut"], true);
    }

  Comparison c;
  ASSERT_EQ(CompareModels({capped, CappedBounded("open.toml", "1")}, {}, c, errors), 0)
      << errors.front();
  // Before the one driver, compare fitted the capped model to 0.80, unbounded.
  EXPECT_DOUBLE_EQ(Value(c.models[0].run.r, "active"), 0.3);
  EXPECT_NEAR(Value(c.models[1].run.r, "active"), 0.8, 0.05);
  EXPECT_TRUE(c.models[0].converged && c.models[1].converged);
  EXPECT_GT(c.models[0].sums.ssr, c.models[1].sums.ssr);
  EXPECT_EQ(c.order.front(), 1u);
}

TEST_F(Driver, CompareRefusesModelsOnOtherData) {
  const std::string a = Line("a.toml", "a + b*T", true);
  const std::string same = Line("same.toml", "a + b*T", false);
  fs::copy_file(Path("data.csv"), Path("copy.csv"));
  const std::string copy = Line("copy.toml", "a + b*T", false, "copy.csv");
  std::ofstream(Path("other.csv")) << "time,Y\n1,2.4\n2,3.1\n3,3.4\n4,4.2\n5,4.4\n";
  const std::string other = Line("other.toml", "a + b*T", false, "other.csv");
  Comparison c;
  std::vector<std::string> errors;
  EXPECT_EQ(CompareModels({a, same}, {}, c, errors), 0);
  EXPECT_EQ(CompareModels({a, copy}, {}, c, errors), 0);  // another name, the same data
  ASSERT_EQ(CompareModels({a, other}, {}, c, errors), 2);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].find("other data"), std::string::npos) << errors[0];
}

// The F test for a pair only when one is the other with adjustables held.
TEST_F(Driver, FTestOnlyForNestedModels) {
  const struct {
    std::string formula;
    bool a_free;
    std::string why;  // empty: an F test
  } cases[] = {
      {"a + b*T", false, ""},
      {"a + b*T", true, "they have the same free adjustables"},
      {"a + b*T*T", false, "their outputs differ"},
  };
  const std::string big = Line("big.toml", "a + b*T", true);
  int n = 0;
  for (const auto& k : cases) {
    SCOPED_TRACE(k.formula + (k.a_free ? " a free" : " a fixed"));
    const std::string other = Line("m" + std::to_string(++n) + ".toml", k.formula, k.a_free);
    Comparison c;
    std::vector<std::string> errors;
    ASSERT_EQ(CompareModels({big, other}, {}, c, errors), 0);
    if (k.why.empty()) {
      ASSERT_EQ(c.f_tests.size(), 1u);
      EXPECT_EQ(c.f_tests[0].small, 1u);
      EXPECT_EQ(c.f_tests[0].dof_num, 1);
      EXPECT_EQ(c.f_tests[0].dof_den, 18);
      EXPECT_TRUE(c.f_tests[0].needed);  // a = 2, far from its held value 1
      EXPECT_TRUE(c.no_f_tests.empty());
    } else {
      EXPECT_TRUE(c.f_tests.empty());
      ASSERT_EQ(c.no_f_tests.size(), 1u);
      EXPECT_NE(c.no_f_tests[0].why.find(k.why), std::string::npos) << c.no_f_tests[0].why;
    }
  }
}

// A fit that did not converge has no AIC, AICc or BIC: null in fit.json, NaN in compare.
TEST_F(Driver, CriteriaNullWhenNotConverged) {
  const std::string stalled = Line("stalled.toml", "a*exp(-b*T) + a*b", true, "data.csv", 1);
  FitRun run;
  std::vector<std::string> errors;
  ASSERT_EQ(Prepare(stalled, {}, run.p, errors), 0);
  FitControl control;
  ASSERT_EQ(SetUpFit(control, run, errors), 0);
  ASSERT_EQ(RunFitOn(run, FitOptions{}, {}, errors), 0);
  ASSERT_EQ(run.r.outcome, "not converged") << run.r.erreur_text;
  const auto j = nlohmann::json::parse(FitJsonText(run.p, run.r));
  for (const char* key : {"aic", "aicc", "bic"}) EXPECT_TRUE(j[key].is_null()) << key;

  Comparison c;
  ASSERT_EQ(CompareModels({Line("fits.toml", "a + b*T", true), stalled}, {}, c, errors), 0);
  EXPECT_TRUE(std::isfinite(c.models[0].criteria.aicc));
  EXPECT_TRUE(std::isnan(c.models[1].criteria.aic));
  EXPECT_TRUE(std::isnan(c.models[1].weight));
  EXPECT_EQ(c.order, (std::vector<size_t>{0, 1}));
}

// A fit that fails while a value runs away names the value, its growth and the remedies.
TEST_F(Driver, RunawayValueIsNamed) {
  std::ofstream(Path("flat.csv")) << "time,Y\n0,1.01\n1,0.0100\n2,0.0101\n3,0.0099\n"
                                     "4,0.0100\n5,0.0101\n6,0.0099\n";
  std::ofstream(Path("run.toml"))
      << "max_calls = 40\ndata = \"flat.csv\"\n"
      << "adjustables = [ { name = \"k\", value = 0.01, free = true } ]\n"
      << "outputs = [ { name = \"Y\", formula = \"A + 0.01\" } ]\n"
      << "[[species]]\nname = \"A\"\nstart = \"1\"\n[[species]]\nname = \"B\"\n"
      << "[[reactions]]\nequation = \"A -> B\"\nrate = \"k*A\"\n";
  FitRun run;
  std::vector<std::string> errors;
  ASSERT_EQ(Prepare(Path("run.toml").string(), {}, run.p, errors), 0) << errors.front();
  FitControl control;
  ASSERT_EQ(SetUpFit(control, run, errors), 0);
  ASSERT_EQ(RunFitOn(run, FitOptions{}, {}, errors), 0);
  const std::string& m = run.r.erreur_text;
  EXPECT_NE(run.r.outcome, "converged");
  for (const char* part : {"k grew ", "-fold over ", "max", "marquardt"})
    EXPECT_NE(m.find(part), std::string::npos) << part << " in " << m;
  EXPECT_EQ(m.find("time scale"), std::string::npos) << m;
}

}  // namespace
