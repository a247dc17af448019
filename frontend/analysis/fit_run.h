// A whole fit of a prepared model, as `tarvo fit` runs it and the Python module calls it:
// the fit control applied and the transforms expanded (SetUpFit), then the starts of a
// multi-start fit, one simulation at the start values, the fitting calls until the library
// reports Done, an error or max_calls, and after convergence the uncertainty stage
// (RunFitOn). Nothing is printed or written: progress goes to the callbacks, and the caller
// reports the run.
//
// The run owns its sessions, so runs in different threads share nothing.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "analysis/fit_control.h"
#include "analysis/profile.h"
#include "analysis/progress.h"
#include "language/prepare.h"
#include "language/transforms.h"
#include "results/fit_result.h"

namespace tarvo::frontend {

struct FitOptions {
  FitControl control;
  bool profiles = true;  // the profile-likelihood intervals after convergence
};

// Called around the fitting calls of the main fit; any may be empty. stop is asked after
// each call: true ends the fit there, as "interrupted". note receives the one-line progress
// of each start of a multi-start fit and of each profile.
struct FitProgress {
  std::function<void()> begin;
  std::function<void(const CallRecord& call, double elapsed_seconds)> call;
  std::function<void()> end;
  std::function<bool()> stop;
  ProgressNote note;
};

struct FitRun {
  Prepared p;                          // as prepared, then as fitted (transforms expanded)
  std::vector<Transform> transforms;
  size_t declared = 0;                 // adjustables of the model file, before the expansion
  FitResult r;                         // on the user's scale
  std::vector<double> values;          // every adjustable at the end, on the library's scale
  std::vector<std::vector<double>> ycalc;  // simulated outputs at the data points (may be empty)
  std::vector<Profile> profiles;
};

// Applies the control and expands the transforms of run.p. 0, or 2 with errors filled.
int SetUpFit(FitControl& control, FitRun& run, std::vector<std::string>& errors);

// Runs the fit set up. 0 when it ran (run.r.outcome tells how it ended), 2 with errors
// filled when the input is bad (nothing free, a refused set-up, work beyond the budget).
int RunFitOn(FitRun& run, const FitOptions& options, const FitProgress& progress,
             std::vector<std::string>& errors);

// The progress lines of the fitting calls: a header, then one line per call.
std::string ProgressHeader();
std::string ProgressLine(const CallRecord& c, double elapsed_seconds);

// The text `tarvo fit` prints on stdout before the files: the report table, the experiments
// and the starts of a multi-start fit.
std::string FitReportText(const FitRun& run);

}  // namespace tarvo::frontend
