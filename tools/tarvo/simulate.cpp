// tarvo simulate MODEL [--set name=value]... [-o DIR]: one Simulation at the model's values
// (with the overrides), its goodness-of-fit figures, DIR/points.csv and the plot. With
// --times START:STOP:N, no data: the model on N equal steps from START to STOP (intervals 2,
// 3, ... opening at the model's interval_times), every species and output in DIR/times.csv.
// Exit status: 0 done, 1 the library reported an integration failure, 2 bad input.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>

#include "api/limits.h"

#include "tarvo/command.h"
#include "session/erreur_text.h"
#include "language/model_warnings.h"
#include "tarvo/results.h"
#include "analysis/simulate_at.h"
#include "analysis/simulate_run.h"

namespace tarvo::cli {

using namespace tarvo::frontend;

namespace {

struct SimulateArgs {
  std::string model;
  std::vector<std::string> sets;
  std::string out;
  bool quiet = false;  // simulate has no progress lines to hide
  std::string times;   // START:STOP:N
};

// The grid of --times: N + 1 equal times, and a point wherever an interval opens between
// them (a grid time within a hair of an opening time opens the interval itself). written
// tells which points are grid times.
int GridPoints(const std::string& grid, const Model& model, std::vector<DataPoint>& points,
               std::vector<bool>& written, std::string& message) {
  double start = 0, stop = 0;
  long n = 0;
  char* end = nullptr;
  const char* c = grid.c_str();
  start = std::strtod(c, &end);
  bool ok = end != c && *end == ':';
  if (ok) stop = std::strtod(c = end + 1, &end), ok = end != c && *end == ':';
  if (ok) n = std::strtol(c = end + 1, &end, 10), ok = end != c && *end == 0;
  if (!ok || !std::isfinite(start) || !std::isfinite(stop) || !(stop > start) || n < 1) {
    message = "--times " + grid + ": write START:STOP:N, N equal steps from START to a later "
              "STOP, as in --times 0:10:100";
    return 2;
  }
  if (model.intervals > 1 && static_cast<int>(model.interval_times.size()) < model.intervals - 1) {
    message = model.path + ": the model has " + std::to_string(model.intervals) + " intervals; "
              "give the times at which the later ones begin (interval_times = [...])";
    return 2;
  }
  const double hair = 1e-9 * (stop - start);
  size_t next = 0;  // the next interval_times entry
  int interval = 1;
  for (long i = 0; i <= n; ++i) {
    const double t = i == n ? stop : start + (stop - start) * static_cast<double>(i) / n;
    while (next < model.interval_times.size() && model.interval_times[next] <= t + hair) {
      const double open = model.interval_times[next++];
      ++interval;
      if (open > start + hair && open < t - hair) {  // between two grid times
        DataPoint p;
        p.interval = interval;
        p.time = open;
        points.push_back(p);
        written.push_back(false);
      }
    }
    DataPoint p;
    p.interval = interval;
    p.time = t;
    points.push_back(p);
    written.push_back(true);
  }
  if (points.size() > static_cast<size_t>(kMaxPoints)) {
    message = "--times " + grid + ": " + std::to_string(points.size()) + " points with the "
              "interval starts, at most " + std::to_string(kMaxPoints);
    return 2;
  }
  return 0;
}

int RunOnGrid(const SimulateArgs& args) {
  Model model;
  std::string message;
  if (ReadModel(args.model, model, message) != 0) return ReportBadInput({message});
  if (!model.experiments.empty())
    return ReportBadInput({model.path + ": --times simulates a model without [[experiments]]"});
  // Every species is reported, as an output of its own unless one already has its name.
  std::vector<OutputDecl> outputs;
  for (const auto& sp : model.species) {
    bool has = false;
    for (const auto& o : model.outputs) has = has || o.name == sp.name;
    if (!has) outputs.push_back({sp.name, {sp.name, "species " + sp.name, 0, 0}, 0, sp.line});
  }
  outputs.insert(outputs.end(), model.outputs.begin(), model.outputs.end());
  Dataset data;
  data.path = "--times";
  std::vector<bool> written;
  if (GridPoints(args.times, model, data.points, written, message) != 0)
    return ReportBadInput({message});
  data.last_interval = data.points.back().interval;
  model.t0 = data.points.front().time;
  model.has_t0 = true;
  // The library computes at most 40 outputs per simulation: more take several simulations of
  // the same model, 40 outputs each (outputs do not change the integration).
  std::vector<std::vector<double>> ycalc(data.points.size());
  std::string folder;
  for (size_t first = 0; first < outputs.size(); first += kMaxOutputs) {
    const size_t count = std::min(outputs.size() - first, static_cast<size_t>(kMaxOutputs));
    model.outputs.assign(outputs.begin() + first, outputs.begin() + first + count);
    for (auto& p : data.points) p.values.assign(count, {});
    data.replicate_columns.assign(count, 0);
    Prepared p;
    std::vector<std::string> errors;
    if (PrepareModel(model, args.sets, &data, p, errors) != 0) return ReportBadInput(errors);
    if (folder.empty()) {
      folder = OutputFolder(p.model, args.out);
      if (MakeOutputFolder(folder, message) != 0) return ReportBadInput({message});
    }
    std::vector<std::vector<double>> part;
    if (SimulateAt(p, p.values, data.points, part, message) != 0) {
      std::fprintf(stderr, "tarvo: error: the simulation failed: %s\n", message.c_str());
      return 1;
    }
    for (size_t j = 0; j < part.size(); ++j) ycalc[j].insert(ycalc[j].end(), part[j].begin(), part[j].end());
  }
  const std::string path = folder + "/times.csv";
  std::ofstream f(path, std::ios::binary);
  f << "time";
  for (const auto& o : outputs) f << "," << o.name;
  f << "\n";
  char buf[32];
  for (size_t j = 0; j < data.points.size(); ++j) {
    if (!written[j]) continue;
    std::snprintf(buf, sizeof buf, "%.17g", data.points[j].time);
    f << buf;
    for (double v : ycalc[j]) {
      std::snprintf(buf, sizeof buf, "%.17g", v);
      f << "," << buf;
    }
    f << "\n";
  }
  if (!f.flush()) return ReportBadInput({path + ": cannot write"});
  std::printf("wrote %s\n", path.c_str());
  return 0;
}

int RunSimulate(const SimulateArgs& args) {
  if (!args.times.empty()) return RunOnGrid(args);
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
  cmd->add_option("--times", args->times, "START:STOP:N: simulate on N equal steps without "
                                          "data; every species and output to DIR/times.csv");
  cmd->add_flag("-q,--quiet", args->quiet, "Accepted for symmetry with fit; warnings are "
                                           "always shown");
  SetStatusCallback(cmd, [args] { return RunSimulate(*args); });
}

const Registration kRegistration{"simulate", AddSimulateCommand};

}  // namespace

}  // namespace tarvo::cli
