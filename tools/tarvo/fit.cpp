// tarvo fit MODEL [-o DIR] [--quiet] [--set name=value]... [--free NAME]... [--fix NAME]...
// [--method M] [--tolerance T] [--max-calls N] [--starts N [--seed S]]: one Simulation at the start values,
// then Ajustement until the library reports Done, an error, or max_calls calls; one progress
// line per call on stderr; then the report table on stdout, DIR/fit.json, DIR/points.csv and
// the plot.
// Exit status: 0 converged, 1 not converged or failed, 2 bad input.
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>

#include "tarvo/command.h"
#include "tarvo/fit_flags.h"
#include "results/report.h"
#include "analysis/fit_run.h"
#include "tarvo/profile_plot.h"
#include "language/model_warnings.h"
#include "tarvo/results.h"

namespace tarvo::cli {

using namespace tarvo::frontend;

namespace {

struct FitArgs {
  std::string model;
  std::vector<std::string> sets;
  FitControl control;
  std::map<Setting, std::string> typed;  // the settings given as one value, as typed
  std::string out;
  bool quiet = false;
  bool no_profiles = false;
};

// Ctrl-C ends the fit after the current call, so the temporary folder is still removed and
// the results so far are written.
volatile std::sig_atomic_t g_interrupted = 0;
void OnInterrupt(int) { g_interrupted = 1; }

// The progress lines on stderr, and Ctrl-C caught while the calls run.
FitProgress StderrProgress(bool quiet, void (*&old_handler)(int)) {
  FitProgress progress;
  progress.begin = [quiet, &old_handler] {
    if (!quiet) std::fputs(ProgressHeader().c_str(), stderr);
    old_handler = std::signal(SIGINT, OnInterrupt);
  };
  if (!quiet)
    progress.call = [](const CallRecord& c, double elapsed) {
      std::fputs(ProgressLine(c, elapsed).c_str(), stderr);
      std::fflush(stderr);
    };
  if (!quiet) progress.note = [](const std::string& line) {
      std::fprintf(stderr, "%s\n", line.c_str());
      std::fflush(stderr);
    };
  progress.end = [&old_handler] { std::signal(SIGINT, old_handler); };
  progress.stop = [] { return g_interrupted != 0; };
  return progress;
}

// The typed settings read into the control, whose messages name each setting by its flag
// and the value as typed.
void ReadTyped(FitArgs& args, std::vector<std::string>& errors) {
  for (const auto& [s, text] : args.typed)
    if (const std::string why = ReadSetting(s, text, args.control); !why.empty())
      errors.push_back(std::string(FlagOf(s)) + " " + text + ": " + why);
  args.control.name = [typed = args.typed](Setting s, const std::string& value) {
    const auto it = typed.find(s);
    return std::string(FlagOf(s)) + " " + (it != typed.end() ? it->second : value);
  };
}

int RunFit(FitArgs& args) {
  FitRun run;
  std::vector<std::string> errors;
  ReadTyped(args, errors);
  if (!errors.empty()) return ReportBadInput(errors);
  if (Prepare(args.model, args.sets, run.p, errors) != 0) return ReportBadInput(errors);
  if (SetUpFit(args.control, run, errors) != 0) return ReportBadInput(errors);
  // --quiet hides the progress lines only: a warning may change what the result means.
  for (const auto& w : ModelWarnings(run.p))
    std::fprintf(stderr, "tarvo: warning: %s\n", w.c_str());
  std::string message;
  const std::string folder = OutputFolder(run.p.model, args.out);
  if (MakeOutputFolder(folder, message) != 0) return ReportBadInput({message});
  FitOptions options;
  options.control = args.control;
  options.profiles = !args.no_profiles;
  void (*old_handler)(int) = SIG_DFL;
  if (RunFitOn(run, options, StderrProgress(args.quiet, old_handler), errors) != 0)
    return ReportBadInput(errors);

  std::fputs(FitReportText(run).c_str(), stdout);
  std::vector<std::string> written, warnings;
  const std::string json = (std::filesystem::path(folder) / "fit.json").string();
  if (WriteFitJson(json, run.p, run.r, message) != 0) return ReportBadInput({message});
  written.push_back(json);
  if (WriteResults(run.p, run.values, run.ycalc, folder, written, warnings, message) != 0)
    return ReportBadInput({message});
  WriteProfilePlots(run.profiles, folder, written, warnings);
  for (const auto& w : warnings) std::fprintf(stderr, "tarvo: warning: %s\n", w.c_str());
  std::printf("\n");
  for (const auto& w : written) std::printf("wrote %s\n", w.c_str());
  return run.r.outcome == "converged" ? 0 : 1;
}

void AddFitCommand(CLI::App& app) {
  auto args = std::make_shared<FitArgs>();
  CLI::App* cmd = app.add_subcommand(
      "fit", "Fit the free adjustables of a model file to its data: report, fit.json, plot");
  cmd->add_option("MODEL", args->model, "Model file (TOML)")->required();
  cmd->add_option("--set", args->sets, "Start value of an adjustable, as name=value");
  cmd->add_option("--free", args->control.free, "Fit this adjustable, whatever the file says");
  cmd->add_option("--fix", args->control.fix, "Hold this adjustable at its value");
  auto typed = [cmd, args](Setting s, const char* help) {
    cmd->add_option_function<std::string>(
        FlagOf(s), [args, s](const std::string& text) { args->typed[s] = text; }, help);
  };
  typed(Setting::kMethod, "Integration method, over the file's");
  typed(Setting::kTolerance, "Tolerance, over the file's");
  typed(Setting::kMaxCalls, "Most fitting calls, over the file's");
  typed(Setting::kStarts, "Fit from N starts spread over the values' ranges; keep the best");
  typed(Setting::kSeed, "Seed of the starts' random values (default 1)");
  cmd->add_option("-o,--output", args->out, "Output folder (default: MODEL-results beside it)");
  cmd->add_flag("-q,--quiet", args->quiet, "No progress lines (warnings are still shown)");
  cmd->add_flag("--no-profiles", args->no_profiles,
                "Skip the profile-likelihood intervals (SE and correlations only)");
  SetStatusCallback(cmd, [args] { return RunFit(*args); });
}

const Registration kRegistration{"fit", AddFitCommand};

}  // namespace

}  // namespace tarvo::cli
