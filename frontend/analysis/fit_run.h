// The fit driver. Every fit of the front end runs its calls in FitFrom: the main fit of
// `tarvo fit`, batch and the Python module, each start of a multi-start fit, each refit of a
// profile and each model of `compare`. It applies the work budget, runs one simulation at the
// start values and the fitting calls until the library reports Done, an error or max_calls,
// checks every simulation for values that left the finite numbers and recognises a fit that
// cycles (fit_cycle.h).
//
// A whole fit (SetUpFit, then RunFitOn): the fit control applied and the transforms expanded,
// the starts of a multi-start fit, the main pass, and after it:
//   - a free value the fit pushed to one of its bounds (transforms.h, AtBound) is held at that
//     bound and the others are fitted again (RefitHeld): the fit converges at the bound and
//     says so ("active is at its upper bound 0.3: the data ask for more"), and its interval
//     runs from the bound inwards, cut by the bound;
//   - a fit that failed or stalled while a free value ran away by orders of magnitude names
//     that value, its growth and the remedies;
//   - after convergence, the uncertainty stage;
//   - every message names the user's adjustables (never the hidden NAME_fit or the internal
//     names of per-experiment values).
// Nothing is printed or written: progress goes to the callbacks, and the caller reports the
// run. The run owns its sessions, so runs in different threads share nothing.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "analysis/fit_control.h"
#include "analysis/profile.h"
#include "analysis/progress.h"
#include "language/prepare.h"
#include "language/transforms.h"
#include "results/fit_result.h"
#include "session/library_session.h"

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
  Prepared user;                       // as prepared and controlled, before the transforms
  std::vector<Transform> transforms;
  size_t declared = 0;                 // adjustables of the model file, before the expansion
  FitResult r;                         // on the user's scale
  std::vector<double> values;          // every adjustable at the end, on the library's scale
  std::vector<std::vector<double>> ycalc;  // simulated outputs at the data points (may be empty)
  double walk_seconds = 0;                 // the last simulation's walk (what a column costs)
  std::vector<Profile> profiles;
  std::shared_ptr<Session> session;  // the last pass's, while RunFitOn runs; let go after it
};

// Applies the control and expands the transforms of run.p. 0, or 2 with errors filled.
int SetUpFit(FitControl& control, FitRun& run, std::vector<std::string>& errors);

// What one pass of the fitting calls leaves, on the library's scale.
struct FitPass {
  FitResult r;  // outcome, calls, history, erreur, erreur_text, figures, adjustables
  std::vector<double> values;              // every adjustable as the pass left it
  std::vector<std::vector<double>> ycalc;  // simulated outputs there (empty after a failure)
  double walk_seconds = 0;                 // the last simulation's walk
  // The pass's model, still set up at values (null when the pass ended without outputs).
  std::shared_ptr<Session> session;
};

// One pass over a set-up model p from start (every adjustable, library's scale) with the
// adjustables flagged in free fitted and the others held at their start values. ts names the
// values in the messages of a cycling fit. With nothing free it is one simulation at start
// ("converged" after 0 calls). 0 when it ran (pass.r.outcome tells how it ended), 2 with
// errors filled when the model was refused (set-up, work budget).
int FitFrom(const Prepared& p, const std::vector<Transform>& ts, const std::vector<double>& start,
            const std::vector<bool>& free, const FitProgress& progress, FitPass& pass,
            std::vector<std::string>& errors);

// A pass of run's model with declared adjustables held at values on the user's scale: a held
// adjustable is fixed before the transforms are expanded, so one with min, max or scale is
// held at exactly that value (its bound included). The others start from start_user (the
// declared adjustables, user's scale; nudged inside their bounds). out receives the set-up
// of the pass. 0 or 2 as FitFrom.
int RefitHeld(const FitRun& run, const std::vector<std::pair<int, double>>& held,
              const std::vector<double>& start_user, const FitProgress& progress, FitRun& out,
              FitPass& pass, std::vector<std::string>& errors);

// The declared adjustables of run on the user's scale, from values on the library's scale.
std::vector<double> UserValues(const FitRun& run, const std::vector<double>& values);

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
