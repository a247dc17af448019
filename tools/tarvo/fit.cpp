// tarvo fit MODEL [-o DIR] [--quiet] [--set name=value]... [--free NAME]... [--fix NAME]...
// [--method M] [--tolerance T] [--max-calls N] [--starts N [--seed S]]: one Simulation at the start values,
// then Ajustement until the library reports Done, an error, or max_calls calls; one progress
// line per call on stderr; then the report table on stdout, DIR/fit.json, DIR/points.csv and
// the plot.
// Exit status: 0 converged, 1 not converged or failed, 2 bad input.
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "fitting/ajustement.h"
#include "tarvo/command.h"
#include "tarvo/erreur_text.h"
#include "tarvo/dependence.h"
#include "tarvo/experiments.h"
#include "tarvo/fit_control.h"
#include "tarvo/fit_uncertainty.h"
#include "tarvo/load_model.h"
#include "tarvo/model_warnings.h"
#include "tarvo/multi_start.h"
#include "tarvo/non_finite.h"
#include "tarvo/report.h"
#include "tarvo/results.h"
#include "tarvo/transforms.h"
#include "tarvo/work_budget.h"

namespace tarvo::tool {

namespace {

struct FitArgs {
  std::string model;
  std::vector<std::string> sets;
  FitControl control;
  std::string out;
  bool quiet = false;
  bool no_profiles = false;
};

// Ctrl-C ends the fit after the current call, so the temporary folder is still removed and
// the results so far are written.
volatile std::sig_atomic_t g_interrupted = 0;
void OnInterrupt(int) { g_interrupted = 1; }

std::vector<double> Values(const Session& s, size_t n) {
  std::vector<double> v(n);
  for (size_t a = 0; a < n; ++a) v[a] = AdjustableValue(s, static_cast<int>(a));
  return v;
}

// The library's convergence measure of one call, over the free adjustables.
double Change(const std::vector<double>& before, const std::vector<double>& after,
              const std::vector<bool>& free) {
  std::vector<int32_t> index;
  for (size_t a = 0; a < before.size(); ++a)
    if (free[a]) index.push_back(static_cast<int32_t>(a));
  return ConvergenceMeasure(static_cast<int32_t>(index.size()), index.data(), before.data(),
                            after.data());
}

// Empty when the session's last simulation stayed within the finite numbers; else the
// sentence that names where it left them.
std::string NonFiniteCheck(Session& s, const Prepared& p, int e) {
  std::vector<std::vector<double>> y;
  if (ReadResults(s, y) != 0) y.clear();
  int j = -1, o = -1;
  FirstNonFinite(y, j, o);
  // A fit always has data, so its ErreurCalc is a measure.
  if (j < 0 && !LeftFiniteNumbers(e, s.blocks.fitset.ErreurCalc)) return "";
  return NonFiniteText(p, y, Values(s, p.values.size()));
}

// Runs the calls; fills the history and the outcome.
void FitLoop(Session& s, const Prepared& p, bool quiet, FitResult& r) {
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  std::vector<double> before = Values(s, p.values.size());
  if (!quiet)
    std::fprintf(stderr, "%5s  %-14s %-12s %9s\n", "call", "ErreurCalc", "change", "elapsed");
  auto old_handler = std::signal(SIGINT, OnInterrupt);
  for (int call = 1; call <= p.model.max_calls; ++call) {
    const auto t0 = Clock::now();
    const int e = RunFitCall(s);
    const auto t1 = Clock::now();
    CallRecord c;
    c.call = call;
    c.seconds = std::chrono::duration<double>(t1 - t0).count();
    c.erreur = e;
    c.erreur_calc = s.blocks.fitset.ErreurCalc;
    c.done = s.blocks.fitset.Done != 0;
    c.values = Values(s, p.values.size());
    c.change = Change(before, c.values, p.free);
    before = c.values;
    r.history.push_back(c);
    r.calls = call;
    if (!quiet) {
      std::fprintf(stderr, "%5d  %-14s %-12s %8.2fs%s\n", call, Num(c.erreur_calc, 8).c_str(),
                   Num(c.change, 3).c_str(),
                   std::chrono::duration<double>(t1 - start).count(), c.done ? "  done" : "");
      std::fflush(stderr);
    }
    if (e == kRaised) {
      r.outcome = "failed";
      r.erreur_text = "the library raised a failure: " + s.failure;
      break;
    }
    // Checked before the error code: an overflow must not be reported as singular equations.
    if (const std::string nf = NonFiniteCheck(s, p, e); !nf.empty()) {
      r.outcome = "failed";
      r.erreur = e;
      r.erreur_text = nf;
      r.non_finite = true;
      break;
    }
    if (e != 0) {
      r.outcome = "failed";
      r.erreur = e;
      r.erreur_text = FitErreurText(e, p.model.method, r.free_count);
      break;
    }
    if (c.done) {
      r.outcome = "converged";
      break;
    }
    if (g_interrupted) {
      r.outcome = "interrupted";
      break;
    }
  }
  std::signal(SIGINT, old_handler);
  if (r.outcome.empty()) r.outcome = "not converged";
}

void CollectAdjustables(const Session& s, const Prepared& p, FitResult& r) {
  const bool sds = r.outcome == "converged" || (p.model.sd_every_call && r.erreur == 0 &&
                                                r.calls > 0 && r.outcome != "failed");
  for (size_t a = 0; a < p.model.adjustables.size(); ++a) {
    const AdjustableDecl& d = p.model.adjustables[a];
    AdjustableResult x;
    x.name = d.name;
    x.value = AdjustableValue(s, static_cast<int>(a));
    x.status = d.bound ? "bound" : p.free[a] ? "free" : "fixed";
    if (d.bound) x.equal_to = d.equal_to.text;
    if (x.status == "free" && sds) {
      x.sd = AdjustableSD(s, static_cast<int>(a));
      x.has_sd = true;
    }
    r.adjustables.push_back(x);
  }
}

void PrintStarts(const FitResult& r) {
  if (r.starts.empty()) return;
  int reached = 0, converged = 0;
  for (const auto& st : r.starts) {
    reached += st.reached_best;
    converged += st.outcome == "converged";
  }
  std::printf("\nMulti-start: %zu starts, %d converged, %d reached the best weighted SSR "
              "(within %s of it); fit.json lists them all\n",
              r.starts.size(), converged, reached, Num(r.starts_tolerance).c_str());
}

int RunFit(FitArgs& args) {
  Prepared p;
  std::vector<std::string> errors;
  if (Prepare(args.model, args.sets, p, errors) != 0) return ReportBadInput(errors);
  ApplyFitControl(args.control, p, errors);
  FollowOriginals(p);
  const size_t declared = p.model.adjustables.size();
  std::vector<Transform> transforms;
  if (errors.empty()) ExpandTransforms(p, transforms, errors);
  CheckFreeValues(p, errors);
  if (!errors.empty()) return ReportBadInput(errors);
  // --quiet hides the progress lines only: a warning may change what the result means.
  for (const auto& w : ModelWarnings(p)) std::fprintf(stderr, "tarvo: warning: %s\n", w.c_str());
  std::string message;
  const std::string folder = OutputFolder(p.model, args.out);
  FitResult r;
  if (args.control.start_count > 1) {
    // The main fit below starts at the best start's optimum, so the report is that fit's.
    const std::vector<double> best =
        RunStarts(p, transforms, declared, args.control.start_count, args.control.start_seed,
                  args.quiet, r);
    for (size_t a = 0; a < p.values.size(); ++a)
      if (p.free[a]) p.values[a] = best[a];
  }
  if (MakeOutputFolder(folder, message) != 0) return ReportBadInput({message});

  r.max_calls = p.model.max_calls;
  for (bool f : p.free) r.free_count += f;
  if (r.free_count == 0)
    return ReportBadInput({p.model.path + ": no adjustable is free: mark the ones to fit with "
                           "free = true"});
  Session s;
  if (LoadModel(s, p, errors) != 0) return ReportBadInput(errors);
  // Work beyond the budget of a simulation is refused before it starts, or after the probe.
  if (std::string why = FixedStepBudgetProblem(p, WithStartPoint(p.model, p.data.points));
      !why.empty() || !(why = ProbeSimulation(s, p)).empty())
    return ReportBadInput({p.model.path + ": " + why});
  // The fit's first step starts from the outputs of a simulation at the current values.
  const int e = RunSimulation(s);
  const std::string first_nf = e == kRaised ? "" : NonFiniteCheck(s, p, e);
  if (!first_nf.empty()) {
    r.outcome = "failed";
    r.erreur = e;
    r.erreur_text = "at the start values: " + first_nf;
    r.non_finite = true;
  } else if (e != 0) {
    r.outcome = "failed";
    r.erreur = e == kRaised ? 0 : e;
    r.erreur_text = e == kRaised ? "the first simulation raised a failure: " + s.failure
                                 : "the first simulation failed: " +
                                       SimulationErreurText(e, p.model.method);
  } else {
    FitLoop(s, p, args.quiet, r);
  }
  // The exchange file holds the last simulation inside the fit; after an error its values
  // may be error codes, so simulate once more at the values reached.
  std::vector<std::vector<double>> ycalc;
  int last = r.history.empty() ? e : r.history.back().erreur;
  if (last != 0 && last != kRaised) last = RunSimulation(s);
  if (last == 0 && !r.non_finite) ReadResults(s, ycalc);
  const BFitSet& f = s.blocks.fitset;
  r.figures = Figures{f.ErreurCalc, f.ErreurExp, f.Coeff, DataValues(p.data)};
  CollectAdjustables(s, p, r);
  const std::vector<double> values = Values(s, p.values.size());
  EndSession(s);
  if (r.outcome == "failed" && r.erreur_text.find("singular") != std::string::npos) {
    const std::string culprits = SingularCulprits(p, values);
    if (!culprits.empty()) r.erreur_text += ". At the values reached: " + culprits;
  }
  std::vector<Profile> profiles;
  if (r.outcome == "converged" && !ycalc.empty())
    profiles = AssessFit(p, values, ycalc, !args.no_profiles, args.quiet, r.uncertainty);
  ToUserScale(transforms, values, declared, r, profiles);
  ShowExperimentNames(p, r, profiles);

  PrintFitReport(stdout, p, r);
  PrintExperiments(stdout, p, ycalc);
  PrintStarts(r);
  std::vector<std::string> written, warnings;
  const std::string json = (std::filesystem::path(folder) / "fit.json").string();
  if (WriteFitJson(json, p, r, message) != 0) return ReportBadInput({message});
  written.push_back(json);
  if (WriteResults(p, values, ycalc, folder, written, warnings, message) != 0)
    return ReportBadInput({message});
  WriteProfilePlots(profiles, folder, written, warnings);
  for (const auto& w : warnings) std::fprintf(stderr, "tarvo: warning: %s\n", w.c_str());
  std::printf("\n");
  for (const auto& w : written) std::printf("wrote %s\n", w.c_str());
  return r.outcome == "converged" ? 0 : 1;
}

void AddFitCommand(CLI::App& app) {
  auto args = std::make_shared<FitArgs>();
  CLI::App* cmd = app.add_subcommand(
      "fit", "Fit the free adjustables of a model file to its data: report, fit.json, plot");
  cmd->add_option("MODEL", args->model, "Model file (TOML)")->required();
  cmd->add_option("--set", args->sets, "Start value of an adjustable, as name=value");
  cmd->add_option("--free", args->control.free, "Fit this adjustable, whatever the file says");
  cmd->add_option("--fix", args->control.fix, "Hold this adjustable at its value");
  cmd->add_option("--method", args->control.method, "Integration method, over the file's");
  cmd->add_option("--tolerance", args->control.tolerance, "Tolerance, over the file's");
  cmd->add_option("--max-calls", args->control.max_calls, "Most fitting calls, over the file's");
  cmd->add_option("--starts", args->control.starts,
                  "Fit from N starts spread over the values' ranges; keep the best");
  cmd->add_option("--seed", args->control.seed, "Seed of the starts' random values (default 1)");
  cmd->add_option("-o,--output", args->out, "Output folder (default: MODEL-results beside it)");
  cmd->add_flag("-q,--quiet", args->quiet, "No progress lines (warnings are still shown)");
  cmd->add_flag("--no-profiles", args->no_profiles,
                "Skip the profile-likelihood intervals (SE and correlations only)");
  SetStatusCallback(cmd, [args] { return RunFit(*args); });
}

const Registration kRegistration{"fit", AddFitCommand};

}  // namespace

}  // namespace tarvo::tool
