// tarvo compare MODEL MODEL... [--quiet]: fits each model to the data (all the same) through
// the fit driver and ranks them by AICc, with AIC, BIC and Akaike weights, and an F test for
// every nested pair (analysis/compare.h). A progress line per model on stderr.
// Exit status: 0 every fit converged, 1 some did not, 2 bad input.
#include <cmath>
#include <cstdio>
#include <memory>

#include "tarvo/command.h"
#include "analysis/compare.h"
#include "results/report.h"

namespace tarvo::cli {

using namespace tarvo::frontend;

namespace {

struct CompareArgs {
  std::vector<std::string> models;
  bool quiet = false;
};

// A figure of the table, "null" when there is none.
std::string Figure(double v, int digits) { return std::isfinite(v) ? Num(v, digits) : "null"; }

int RunCompare(const CompareArgs& args) {
  Comparison c;
  std::vector<std::string> errors;
  ProgressNote note;
  if (!args.quiet)
    note = [](const std::string& line) {
      std::fprintf(stderr, "%s\n", line.c_str());
      std::fflush(stderr);
    };
  if (CompareModels(args.models, note, c, errors) != 0) return ReportBadInput(errors);
  std::printf("%-4s %-32s %5s %3s %13s %12s %12s %12s %9s %7s\n", "rank", "model", "n", "p",
              "SSR", "AIC", "AICc", "BIC", "dAICc", "weight");
  bool all = true;
  int rank = 0;
  for (size_t i : c.order) {
    const ComparedModel& x = c.models[i];
    all = all && x.converged;
    if (x.failed) {
      std::printf("%-4s %-32s %s\n", "-", x.path.c_str(), x.outcome.c_str());
      continue;
    }
    std::printf("%-4s %-32s %5d %3d %13s %12s %12s %12s %9s %7s%s\n",
                x.converged ? std::to_string(++rank).c_str() : "-", x.path.c_str(),
                x.sums.values, x.free, Num(x.sums.ssr).c_str(), Figure(x.criteria.aic, 8).c_str(),
                Figure(x.criteria.aicc, 8).c_str(), Figure(x.criteria.bic, 8).c_str(),
                Figure(x.delta_aicc, 4).c_str(), Figure(x.weight, 3).c_str(),
                x.converged ? "" : "  (not converged: no criteria)");
  }
  for (const FTest& t : c.f_tests)
    std::printf("F test  %s within %s: F = %s on (%g, %g) dof, p = %s: %s\n",
                c.models[t.small].path.c_str(), c.models[t.big].path.c_str(), Num(t.f, 4).c_str(),
                t.dof_num, t.dof_den, Num(t.p_value, 3).c_str(),
                t.needed ? "the extra free adjustables improve the fit significantly"
                         : "the extra free adjustables are not needed");
  for (const NoFTest& t : c.no_f_tests)
    std::printf("No F test for %s and %s: %s\n", c.models[t.a].path.c_str(),
                c.models[t.b].path.c_str(), t.why.c_str());
  return all ? 0 : 1;
}

void AddCompareCommand(CLI::App& app) {
  auto args = std::make_shared<CompareArgs>();
  CLI::App* cmd = app.add_subcommand(
      "compare", "Fit several model files to the same data and rank them by AICc, with F tests "
                 "for nested ones");
  cmd->add_option("MODEL", args->models, "Model files (TOML)")->required()->expected(2, 50);
  cmd->add_flag("-q,--quiet", args->quiet, "No progress lines");
  SetStatusCallback(cmd, [args] { return RunCompare(*args); });
}

const Registration kRegistration{"compare", AddCompareCommand};

}  // namespace

}  // namespace tarvo::cli
