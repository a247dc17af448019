// tarvo simulate MODEL [--set name=value]... [-o DIR]: one Simulation at the model's values
// (with the overrides), its goodness-of-fit figures, DIR/points.csv and the plot.
// Exit status: 0 done, 1 the library reported an integration failure, 2 bad input.
#include <cstdio>
#include <memory>

#include "tarvo/command.h"
#include "session/erreur_text.h"
#include "language/model_warnings.h"
#include "tarvo/results.h"
#include "analysis/simulate_run.h"

namespace tarvo::frontend {

namespace {

struct SimulateArgs {
  std::string model;
  std::vector<std::string> sets;
  std::string out;
  bool quiet = false;  // simulate has no progress lines to hide
};

int RunSimulate(const SimulateArgs& args) {
  Prepared p;
  std::vector<std::string> errors;
  if (Prepare(args.model, args.sets, p, errors) != 0) return ReportBadInput(errors);
  for (const auto& w : ModelWarnings(p)) std::fprintf(stderr, "tarvo: warning: %s\n", w.c_str());
  std::string message;
  const std::string folder = OutputFolder(p.model, args.out);
  if (MakeOutputFolder(folder, message) != 0) return ReportBadInput({message});

  SimulateRun run;
  if (const int status = SimulateOn(p, run, message, errors); status != 0) {
    if (status == 2) return ReportBadInput(errors);
    std::fprintf(stderr, "tarvo: error: %s\n", message.c_str());
    return 1;
  }
  std::printf("Simulation of %s with %s\nStart at %s\n\n", p.model.path.c_str(),
              p.model.method.c_str(), StartText(p).c_str());
  if (run.erreur != 0) {
    std::fprintf(stderr, "tarvo: error: the simulation failed: %s\n",
                 SimulationErreurText(run.erreur, p.model.method).c_str());
    return 1;
  }
  PrintFigures(stdout, run.figures, p.model.error_type);
  std::vector<std::string> written, warnings;
  if (WriteResults(p, run.values, run.ycalc, folder, written, warnings, message) != 0)
    return ReportBadInput({message});
  for (const auto& w : warnings) std::fprintf(stderr, "tarvo: warning: %s\n", w.c_str());
  std::printf("\n");
  for (const auto& w : written) std::printf("wrote %s\n", w.c_str());
  return 0;
}

void AddSimulateCommand(CLI::App& app) {
  auto args = std::make_shared<SimulateArgs>();
  CLI::App* cmd = app.add_subcommand(
      "simulate", "Simulate a model file once at its values: figures, points.csv and the plot");
  cmd->add_option("MODEL", args->model, "Model file (TOML)")->required();
  cmd->add_option("--set", args->sets, "Value of an adjustable for this run, as name=value");
  cmd->add_option("-o,--output", args->out, "Output folder (default: MODEL-results beside it)");
  cmd->add_flag("-q,--quiet", args->quiet, "Accepted for symmetry with fit; warnings are "
                                           "always shown");
  SetStatusCallback(cmd, [args] { return RunSimulate(*args); });
}

const Registration kRegistration{"simulate", AddSimulateCommand};

}  // namespace

}  // namespace tarvo::frontend
