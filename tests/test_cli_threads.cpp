// The front end's analyses on several threads: the SE columns, the profiles and the starts of
// a multi-start fit run side by side give every figure of the plain loop bit for bit, and the
// progress lines come in the same order; the task runner keeps the loop's order of lines and
// its first failure.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "analysis/fit_run.h"
#include "analysis/parallel.h"

namespace {

using namespace tarvo::frontend;

// Every double of a fit that the threads could change, flattened in a fixed order, and the
// progress lines without their timings.
struct Outcome {
  std::vector<double> figures;
  std::vector<std::string> lines;
};

void Add(Outcome& o, const std::vector<double>& v) { o.figures.insert(o.figures.end(), v.begin(), v.end()); }

Outcome Fit(const std::string& example, long long starts, const char* threads) {
  if (threads) setenv("TARVO_THREADS", threads, 1);
  else unsetenv("TARVO_THREADS");
  FitRun run;
  std::vector<std::string> errors;
  const std::string model = std::string(TARVO_SOURCE_DIR) + "/examples/" + example + "/model.toml";
  EXPECT_EQ(Prepare(model, {}, run.p, errors), 0) << errors.front();
  FitControl control;
  if (starts > 1) control.starts = starts;
  EXPECT_EQ(SetUpFit(control, run, errors), 0) << errors.front();
  Outcome o;
  std::mutex mutex;
  FitProgress progress;
  progress.note = [&](const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex);  // a second caller at once would be a fault
    o.lines.push_back(line.substr(0, line.rfind(' ')));  // without the seconds
  };
  FitOptions options;
  options.control = control;
  EXPECT_EQ(RunFitOn(run, options, progress, errors), 0) << errors.front();
  EXPECT_EQ(run.r.outcome, "converged") << run.r.erreur_text;
  const Uncertainty& u = run.r.uncertainty;
  EXPECT_TRUE(u.available) << u.why_not;
  Add(o, run.values);
  Add(o, u.se);
  for (const auto& row : u.covariance) Add(o, row);
  for (const Interval& i : u.intervals) Add(o, {i.lower, i.upper});
  for (const Profile& p : run.profiles)
    for (const ProfilePoint& pt : p.points) Add(o, {pt.value, pt.z});
  for (const StartRecord& st : run.r.starts) {
    Add(o, {st.ssr, static_cast<double>(st.calls), st.reached_best ? 1.0 : 0.0});
    for (const auto& [name, v] : st.end) Add(o, {v});
  }
  unsetenv("TARVO_THREADS");
  return o;
}

TEST(FrontEndThreads, EveryFigureAsOnOneThread) {
  const struct {
    const char* example;
    long long starts;
    size_t lines;  // starts and profiles
  } cases[] = {{"consecutive", 1, 3}, {"enzyme", 1, 3}, {"enzyme", 4, 4 + 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.example) + " starts " + std::to_string(c.starts));
    const Outcome one = Fit(c.example, c.starts, "1");
    const Outcome all = Fit(c.example, c.starts, nullptr);
    EXPECT_EQ(one.lines.size(), c.lines);
    EXPECT_EQ(all.lines, one.lines);
    ASSERT_EQ(all.figures.size(), one.figures.size());
    for (size_t i = 0; i < one.figures.size(); ++i)
      EXPECT_TRUE(all.figures[i] == one.figures[i] ||
                  (std::isnan(all.figures[i]) && std::isnan(one.figures[i])))
          << "figure " << i << ": " << all.figures[i] << " against " << one.figures[i];
  }
}

// Tasks that end out of order (the later ones first) are reported in order; a failing task
// stops the reports there and its exception, the first in task order, reaches the caller.
TEST(FrontEndThreads, RunTasksKeepsTheLoopsOrderAndFirstFailure) {
  const struct {
    const char* threads;
    int fail_at;  // -1: none
  } cases[] = {{"1", -1}, {"4", -1}, {"1", 2}, {"4", 2}, {"4", 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.threads) + " threads, failing at " + std::to_string(c.fail_at));
    setenv("TARVO_THREADS", c.threads, 1);
    const int n = 6;
    std::vector<int> reported;
    std::string caught;
    try {
      RunTasks(
          n,
          [&](int i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(3 * (n - i)));
            if (c.fail_at >= 0 && (i == c.fail_at || i == c.fail_at + 2)) throw std::runtime_error(std::to_string(i));
          },
          [&](int i) { reported.push_back(i); });
    } catch (const std::runtime_error& e) {
      caught = e.what();
    }
    unsetenv("TARVO_THREADS");
    const int last = c.fail_at < 0 ? n : c.fail_at;
    std::vector<int> expected;
    for (int i = 0; i < last; ++i) expected.push_back(i);
    EXPECT_EQ(reported, expected);
    EXPECT_EQ(caught, c.fail_at < 0 ? "" : std::to_string(c.fail_at));
  }
}

}  // namespace
