// The residual-based uncertainty of tarvo fit: the F quantiles it rests on, the covariance of
// a model linear in its adjustables against the closed form of weighted least squares, its
// profile intervals against estimate +- t SE, the non-identifiable reversible reaction, and
// the shape of fit.json that other programs read.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <nlohmann/json.hpp>

#include "analysis/distributions.h"
#include "analysis/parallel.h"
#include "analysis/profile.h"
#include "analysis/fit_run.h"
#include "results/uncertainty_report.h"
#include "support/cli_run.h"

namespace {

namespace fs = std::filesystem;
using namespace tarvo::frontend;

TEST(Distributions, FQuantilesMatchTables) {
  const struct {
    double d1, d2, q95;
  } cases[] = {{1, 19, 4.38075}, {1, 60, 4.00119}, {2, 10, 4.10282}, {5, 30, 2.53355}};
  for (const auto& c : cases) {
    EXPECT_NEAR(FQuantile(0.95, c.d1, c.d2), c.q95, 2e-5) << c.d1 << "," << c.d2;
    EXPECT_NEAR(FUpperTail(c.q95, c.d1, c.d2), 0.05, 1e-5);
  }
}

// y = a + b T (or b T alone), two replicates per time with a fixed, uneven scatter.
class LinearModel : public tarvo::testcli::TempFolderTest {
 protected:
  LinearModel() : TempFolderTest("cli-uncertainty") {}

  // Prepares the model; formula of Y, error type, free adjustables a and b.
  void Load(const std::string& formula, int error_type, bool a_free) {
    p_ = Prepared{};
    std::ofstream(Path("data.csv")) << Data();
    std::ofstream(Path("model.toml"))
        << "error_type = " << error_type << "\nprecision = 1e-14\nmax_calls = 60\n"
        << "data = \"data.csv\"\nspecies = [ { name = \"X\", start = \"1\" } ]\n"
        << "adjustables = [ { name = \"a\", value = " << (a_free ? "1, free = true" : "0")
        << " }, { name = \"b\", value = 1, free = true } ]\n"
        << "outputs = [ { name = \"Y\", formula = \"" << formula << "\" } ]\n";
    std::vector<std::string> errors;
    ASSERT_EQ(Prepare(Path("model.toml").string(), {}, p_, errors), 0);
    FitPass r;
    ASSERT_EQ(FitFrom(p_, {}, p_.values, p_.free, {}, r, errors), 0) << errors.front();
    ASSERT_EQ(r.r.outcome, "converged") << r.r.erreur_text;
    best_ = r.values;
    ycalc_ = r.ycalc;
    u_ = AssessUncertainty(p_, best_, ycalc_);
    ASSERT_TRUE(u_.available) << u_.why_not;
  }

  static std::string Data() {
    std::string d = "time,Y,Y\n";
    const double e[] = {0.21, -0.13, 0.05, 0.3, -0.27, 0.11, -0.08, 0.19, -0.22, 0.02};
    for (int t = 1; t <= 10; ++t) {
      const double y = 2 + 0.5 * t;
      d += std::to_string(t) + "," + std::to_string(y + e[t - 1]) + "," +
           std::to_string(y - 0.6 * e[(t + 3) % 10]) + "\n";
    }
    return d;
  }

  // The closed form s^2 (X^T W X)^-1 over every replicate, weights at the fitted values.
  void ClosedForm(bool with_a, std::vector<std::vector<double>>& cov, double& s2) const {
    double sw = 0, st = 0, stt = 0, ssr = 0;
    int n = 0;
    for (size_t j = 0; j < p_.data.points.size(); ++j) {
      const auto& pt = p_.data.points[j];
      double mean = 0;
      for (double y : pt.values[0]) mean += y / pt.values[0].size();
      const double yc = ycalc_[j][0];
      const double w = p_.model.error_type == 0 ? 1 : 1 / (mean * yc);
      for (double y : pt.values[0]) {
        sw += w, st += w * pt.time, stt += w * pt.time * pt.time;
        ssr += w * (y - yc) * (y - yc);
        ++n;
      }
    }
    const int np = with_a ? 2 : 1;
    s2 = ssr / (n - np);
    if (!with_a) {
      cov = {{s2 / stt}};
      return;
    }
    const double det = sw * stt - st * st;
    cov = {{s2 * stt / det, -s2 * st / det}, {-s2 * st / det, s2 * sw / det}};
  }

  Prepared p_;
  std::vector<double> best_;
  std::vector<std::vector<double>> ycalc_;
  Uncertainty u_;
};

TEST_F(LinearModel, CovarianceMatchesClosedFormOfWeightedLeastSquares) {
  const struct {
    const char* formula;
    int error_type;
    bool a_free;
  } cases[] = {{"a + b*T", 0, true}, {"a + b*T", 2, true}, {"b*T", 0, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.formula) + ", error type " + std::to_string(c.error_type));
    Load(c.formula, c.error_type, c.a_free);
    std::vector<std::vector<double>> cov;
    double s2 = 0;
    ClosedForm(c.a_free, cov, s2);
    EXPECT_NEAR(u_.s2, s2, 1e-9 * s2);
    ASSERT_EQ(u_.covariance.size(), cov.size());
    for (size_t i = 0; i < cov.size(); ++i)
      for (size_t j = 0; j < cov.size(); ++j)
        EXPECT_NEAR(u_.covariance[i][j], cov[i][j], 1e-6 * std::sqrt(cov[i][i] * cov[j][j]));
    EXPECT_EQ(u_.dof, 20 - static_cast<int>(cov.size()));
  }
}

// For a model linear in its adjustables the profile is an exact parabola: the interval is
// estimate +- t(0.975, n - p) SE, with t from tables.
TEST_F(LinearModel, ProfileIntervalIsEstimatePlusMinusTTimesSE) {
  const struct {
    const char* formula;
    bool a_free;
    double t975;
  } cases[] = {{"b*T", false, 2.093024}, {"a + b*T", true, 2.100922}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.formula);
    Load(c.formula, 0, c.a_free);
    for (size_t i = 0; i < u_.names.size(); ++i) {
      const Profile prof = ProfileAdjustable(p_, best_, u_, i);
      const double half = c.t975 * u_.se[i];
      EXPECT_FALSE(prof.interval.lower_open || prof.interval.upper_open || prof.interval.flat);
      EXPECT_NEAR(prof.interval.lower, u_.values[i] - half, 1e-4 * half) << u_.names[i];
      EXPECT_NEAR(prof.interval.upper, u_.values[i] + half, 1e-4 * half) << u_.names[i];
      // Linear in its adjustables, the others' optimum at each x lies on the covariance's
      // line through the estimate: every refit starts there and is done after one call
      // (none is needed with nothing else free).
      EXPECT_EQ(prof.calls, c.a_free ? prof.refits : 0) << u_.names[i];
      // The first step passes the parabola's crossing: one step and two refinements a side.
      EXPECT_EQ(prof.refits, 6) << u_.names[i];
    }
  }
}

// The SE differences simulate on the fit's own session (set up with its adjustables free and
// walked by the fitting calls) as they would on a model set up afresh: the same figures, bit
// for bit, with the adaptive and the exponential schemes and with several lanes; on a machine
// with threads to spare the lent session's lanes are its workers, which walk the outputs alone
// (made by the fit when its walks were worth sharing: surely so for the enzyme's).
TEST(LentSession, GivesTheFiguresOfAFreshSetUp) {
  const struct {
    const char* model;
    double walk_seconds;  // HUGE_VAL: as many lanes as threads allow
    bool shared;          // the fit's walks are long enough to share
  } cases[] = {{"reversible/model_eps_known.toml", 0, false},
               {"enzyme/model.toml", HUGE_VAL, true},
               {"two_compartment/model.toml", 0, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.model);
    Prepared p;
    std::vector<std::string> errors;
    ASSERT_EQ(Prepare(std::string(TARVO_SOURCE_DIR) + "/examples/" + c.model, {}, p, errors), 0);
    FitPass r;
    ASSERT_EQ(FitFrom(p, {}, p.values, p.free, {}, r, errors), 0) << errors.front();
    ASSERT_EQ(r.r.outcome, "converged") << r.r.erreur_text;
    ASSERT_TRUE(r.session);
    if (TaskThreads(2) > 1 && c.shared) {
      EXPECT_GT(SessionLanes(*r.session), 1);
    }
    const Uncertainty lent =
        AssessUncertainty(p, r.values, r.ycalc, c.walk_seconds, r.session.get());
    const Uncertainty fresh = AssessUncertainty(p, r.values, r.ycalc, c.walk_seconds);
    ASSERT_TRUE(fresh.available) << fresh.why_not;
    EXPECT_EQ(lent.covariance, fresh.covariance);
    EXPECT_EQ(lent.notes, fresh.notes);
  }
}

// The reversible reaction A <=> B of examples/reversible: with k1, k2 and epsB free the data
// fix only two combinations; with epsB known both constants are determined.
TEST(ReversibleReaction, WarnsWhenConstantsCannotBeToldApartAndClosesWhenTheyCan) {
  const struct {
    const char* model;
    bool identifiable;
  } cases[] = {{"model.toml", false}, {"model_eps_known.toml", true}};
  const std::map<std::string, double> truth{{"k1", 0.2}, {"k2", 0.1}, {"epsB", 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.model);
    Prepared p;
    std::vector<std::string> errors;
    const std::string path = std::string(TARVO_SOURCE_DIR) + "/examples/reversible/" + c.model;
    ASSERT_EQ(Prepare(path, {}, p, errors), 0);
    FitPass r;
    ASSERT_EQ(FitFrom(p, {}, p.values, p.free, {}, r, errors), 0) << errors.front();
    ASSERT_EQ(r.r.outcome, "converged") << r.r.erreur_text;
    Uncertainty u = AssessUncertainty(p, r.values, r.ycalc);
    ASSERT_TRUE(u.available);
    bool open = false;
    for (size_t i = 0; i < u.names.size(); ++i) {
      u.intervals.push_back(ProfileAdjustable(p, r.values, u, i).interval);
      const Interval& ci = u.intervals.back();
      open = open || ci.lower_open || ci.upper_open;
      if (c.identifiable) {
        EXPECT_LT(ci.lower, truth.at(u.names[i])) << u.names[i];
        EXPECT_GT(ci.upper, truth.at(u.names[i])) << u.names[i];
      }
    }
    bool told_apart = true;
    for (const std::string& w : UncertaintyWarnings(u))
      told_apart = told_apart && w.find("cannot be told apart") == std::string::npos;
    EXPECT_EQ(told_apart, c.identifiable);
    EXPECT_EQ(open, !c.identifiable);
  }
}

TEST(FitJson, CarriesSEIntervalsCorrelationAndCriteria) {
  const fs::path out = fs::temp_directory_path() / "cli-uncertainty-json";
  const std::string cmd = std::string("'") + TARVO_BINARY_DIR + "/tarvo' fit -q '" +
                          TARVO_SOURCE_DIR + "/examples/reversible/model_eps_known.toml' -o '" +
                          out.string() + "' > /dev/null";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  std::ifstream in(out / "fit.json");
  const nlohmann::json j = nlohmann::json::parse(in);
  fs::remove_all(out);
  const std::vector<std::string> names{"k1", "k2"};
  for (const char* key : {"correlation", "covariance"}) {
    EXPECT_EQ(j[key]["names"], names) << key;
    ASSERT_EQ(j[key]["matrix"].size(), 2u) << key;
    EXPECT_EQ(j[key]["matrix"][1].size(), 2u) << key;
  }
  EXPECT_DOUBLE_EQ(j["correlation"]["matrix"][0][0].get<double>(), 1.0);
  for (const char* key : {"aic", "aicc", "bic"}) EXPECT_TRUE(j[key].is_number()) << key;
  EXPECT_EQ(j["dof"], 60);
  for (const auto& a : j["adjustables"]) {
    for (const char* key : {"name", "value", "sd", "status", "se", "ci"})
      EXPECT_TRUE(a.contains(key)) << a["name"] << " " << key;
    if (a["status"] != "free") {
      EXPECT_TRUE(a["se"].is_null() && a["ci"].is_null()) << a["name"];
      continue;
    }
    const auto& ci = a["ci"];
    EXPECT_EQ(ci["level"], 0.95);
    EXPECT_EQ(ci["method"], "profile");
    EXPECT_EQ(ci["lower_open"], false);
    EXPECT_EQ(ci["upper_open"], false);
    EXPECT_LT(ci["lower"].get<double>(), a["value"].get<double>());
    EXPECT_GT(ci["upper"].get<double>(), a["value"].get<double>());
    EXPECT_GT(a["se"].get<double>(), 0);
  }
}

}  // namespace

// The residual sums behind SE, AIC and the lack-of-fit test count the values the fit counts:
// an output's offset shifts what the library weighs, so points whose data sit at or below 0
// before the shift still count (examples/bounded: 306 values, not 303).
TEST(ResidualSums, CountTheValuesTheLibraryCountsWithTheOutputsOffset) {
  using namespace tarvo::frontend;
  FitRun run;
  std::vector<std::string> errors;
  ASSERT_EQ(Prepare(TARVO_SOURCE_DIR "/examples/bounded/model.toml", {}, run.p, errors), 0);
  FitControl control;
  ASSERT_EQ(SetUpFit(control, run, errors), 0);
  FitOptions options;
  options.profiles = false;
  ASSERT_EQ(RunFitOn(run, options, {}, errors), 0);
  ASSERT_EQ(run.r.outcome, "converged") << run.r.erreur_text;
  ASSERT_TRUE(run.r.uncertainty.available) << run.r.uncertainty.why_not;
  EXPECT_EQ(run.r.figures.data_values, 306);
  EXPECT_EQ(run.r.uncertainty.sums.values, run.r.figures.data_values);
  EXPECT_EQ(run.r.uncertainty.dof, run.r.figures.data_values - run.r.free_count);
}
