// The fit settings as the library holds them: read from text (a command line, a manifest
// cell), checked against a model with messages that name each setting the caller's way, and
// the one summary table of many fits with its rule for the best of them.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "analysis/fit_control.h"
#include "results/batch_summary.h"

namespace tarvo::frontend {
namespace {

TEST(FitSettings, TextIsReadIntoTypedSettings) {
  const struct {
    Setting s;
    const char* text;
    const char* problem;  // "" when read
  } cases[] = {
      {Setting::kStarts, "4", ""},
      {Setting::kStarts, "3.5", "must be a whole number from 1 to 1000"},
      {Setting::kStarts, "1001", "must be a whole number from 1 to 1000"},
      {Setting::kSeed, "0", ""},
      {Setting::kSeed, "-1", "must be a whole number from 0 to 1e+15"},
      {Setting::kMaxCalls, "x", "must be a whole number from 1 to 100000"},
      {Setting::kMaxCalls, "1e3", ""},
      {Setting::kTolerance, "1e-9", ""},
      {Setting::kTolerance, "0", "must be a number above 0"},
      {Setting::kTolerance, "nan", "must be a number above 0"},
  };
  for (const auto& c : cases) {
    FitControl control;
    EXPECT_EQ(ReadSetting(c.s, c.text, control), c.problem) << c.text;
  }
  FitControl control;
  ASSERT_EQ(ReadSetting(Setting::kMaxCalls, "1e3", control), "");
  EXPECT_EQ(control.max_calls, 1000);
}

TEST(FitSettings, MessagesNameEachSettingTheCallersWay) {
  Prepared p;
  std::vector<std::string> errors;
  ASSERT_EQ(Prepare(std::string(TARVO_SOURCE_DIR) + "/examples/enzyme/model.toml", {}, p, errors),
            0);
  FitControl c;
  c.fix = {"nope", "Km"};
  c.free = {"Km"};
  c.starts = 0;
  ASSERT_EQ(ApplyFitControl(c, p, errors), 2);
  const std::vector<std::string> neutral = {
      "free adjustable 'Km' and fixed adjustable 'Km': choose one",
      "fixed adjustable 'nope': 'nope' is not an adjustable of the model",
      "number of starts 0: must be a whole number from 1 to 1000"};
  EXPECT_EQ(errors, neutral);
  errors.clear();
  c.name = [](Setting s, const std::string& v) {
    return std::string(s == Setting::kFix ? "fixed" : s == Setting::kFree ? "free" : "starts") +
           "=" + v;
  };
  ASSERT_EQ(ApplyFitControl(c, p, errors), 2);
  EXPECT_EQ(errors.at(1), "fixed=nope: 'nope' is not an adjustable of the model");
  EXPECT_EQ(errors.at(2), "starts=0: must be a whole number from 1 to 1000");
}

TEST(FitSettings, SummaryShowsWhatIsKnownAndTheBestIsTheLeastConvergedSsr) {
  SummaryRow done, stopped;
  done.outcome = "converged", done.converged = true, done.aic = -10, done.ssr = 0.5;
  done.adjustables = {{"k", 0.25, NAN, 0.01, 0.2, 0.3, false, true}};
  stopped.outcome = "not converged", stopped.aic = 0, stopped.ssr = 0.1, stopped.calls = 3;
  stopped.message = FitMessage(stopped.outcome, "", 3);
  const SummaryTable t = BuildSummary({"row"}, {{1LL}, {2LL}}, {done, stopped});
  const std::string csv = SummaryCsv(t);
  EXPECT_EQ(csv.substr(0, csv.find('\n')),
            "row,model,data,outcome,converged,calls,ErreurCalc,aic,ssr,seconds,k,k.sd,k.se,"
            "k.lower,k.upper,k.lower_open,k.upper_open,message,warnings");
  EXPECT_NE(csv.find("\n1,,,converged,true,,,-10,0.5,,0.25,,0.01,0.2,0.3,false,true,,\n"),
            std::string::npos) << csv;
  // A fit that stopped short has no information criteria, whatever its figures say.
  EXPECT_NE(csv.find("\n2,,,not converged,false,3,,,,,,,,,,,,not converged after 3 calls "
                     "(max_calls),\n"), std::string::npos) << csv;
  EXPECT_EQ(SummaryCsv(BuildSummary({}, {}, {SummaryRow{}})).find("ssr"), std::string::npos);

  EXPECT_EQ(BestFit({true, false, true, true}, {0.3, 0.1, 0.2, 0.2}), 2);  // ties: the first
  EXPECT_EQ(BestFit({true, true}, {NAN, 0.4}), 1);
  EXPECT_EQ(BestFit({false}, {0.1}), -1);
}

}  // namespace
}  // namespace tarvo::frontend
