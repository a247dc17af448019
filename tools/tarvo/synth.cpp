// tarvo synth MODEL --design DESIGN.csv --truth TRUTH.toml [--noise SD] [--relative]
//                  [--replicates N] [--seed S] -o DATA.csv
// Synthetic data for examples and tests: simulates the model at the true values on the
// design's points (interval, time) and writes every output with N noisy replicates. The noise
// is normal with standard deviation SD (absolute), or SD times the value with --relative.
// The random numbers are reproducible on every machine (mt19937_64 and Box-Muller).
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>

#include <toml++/toml.h>

#include "tarvo/command.h"
#include "results/report.h"
#include "analysis/simulate_at.h"

namespace tarvo::cli {

using namespace tarvo::frontend;

namespace {

struct SynthArgs {
  std::string model, design, truth, out;
  double noise = 0;
  bool relative = false;
  int replicates = 3;
  uint64_t seed = 1;
};

// Standard normal deviates from a generator whose sequence the standard fixes.
struct Normal {
  std::mt19937_64 engine;
  bool has_spare = false;
  double spare = 0;
  double Uniform() { return (static_cast<double>(engine() >> 11) + 0.5) * 0x1.0p-53; }
  double Next() {
    if (has_spare) {
      has_spare = false;
      return spare;
    }
    const double r = std::sqrt(-2 * std::log(Uniform())), a = 2 * M_PI * Uniform();
    spare = r * std::sin(a);
    has_spare = true;
    return r * std::cos(a);
  }
};

int ReadTruth(const std::string& path, Prepared& p, std::vector<std::string>& errors) {
  try {
    const toml::table t = toml::parse_file(path);
    for (auto&& [key, node] : t) {
      const std::string name(key.str());
      const std::string where = path + ":" + std::to_string(key.source().begin.line) + ": ";
      const int a = FindAdjustable(p.model, name);
      auto v = node.value<double>();
      if (a < 0) errors.push_back(where + "'" + name + "' is not an adjustable of the model");
      else if (!v) errors.push_back(where + "the value of '" + name + "' is not a number");
      else p.values[a] = *v;
    }
  } catch (const toml::parse_error& e) {
    errors.push_back(path + ":" + std::to_string(e.source().begin.line) + ": " +
                     std::string(e.description()));
  }
  return errors.empty() ? 0 : 2;
}

// True when a and b name the same file (or both name none that exists and read alike).
bool SameFile(const std::string& a, const std::string& b) {
  std::error_code ec;
  if (std::filesystem::exists(a, ec) && std::filesystem::exists(b, ec))
    return std::filesystem::equivalent(a, b, ec);
  return std::filesystem::weakly_canonical(a, ec) == std::filesystem::weakly_canonical(b, ec);
}

int RunSynth(const SynthArgs& args) {
  Prepared p;
  std::vector<std::string> errors;
  std::string message;
  for (const std::string* input : {&args.model, &args.design, &args.truth})
    if (!input->empty() && SameFile(*input, args.out))
      return ReportBadInput({"-o " + args.out + " is an input of this command (" + *input +
                             "): it will not be written over; name another file"});
  if (ReadModel(args.model, p.model, message) != 0) return ReportBadInput({message});
  for (const auto& a : p.model.adjustables) {
    p.values.push_back(a.value);
    p.free.push_back(false);
  }
  std::vector<std::string> outputs;
  for (const auto& o : p.model.outputs) outputs.push_back(o.name);
  if (ReadData(args.design, outputs, p.data, message) != 0) return ReportBadInput({message});
  if (!args.truth.empty() && ReadTruth(args.truth, p, errors) != 0) return ReportBadInput(errors);
  if (TranslateModel(p.model, std::max(p.model.intervals, p.data.last_interval), p.text,
                     errors) != 0)
    return ReportBadInput(errors);
  if (args.replicates < 1 || args.replicates > 10)
    return ReportBadInput({"--replicates must be from 1 to 10"});
  if (!(args.noise >= 0)) return ReportBadInput({"--noise must be 0 or above"});

  std::vector<std::vector<double>> y;
  if (SimulateAt(p, p.values, p.data.points, y, message) != 0)
    return ReportBadInput({"the simulation at the true values failed: " + message});

  std::ofstream out(args.out);
  if (!out) return ReportBadInput({"cannot write '" + args.out + "'"});
  Normal normal{std::mt19937_64(args.seed)};
  out << "# made by: tarvo synth " << args.model << " --design " << args.design
      << (args.truth.empty() ? "" : " --truth " + args.truth) << " --noise " << Num(args.noise)
      << (args.relative ? " --relative" : "") << " --replicates " << args.replicates
      << " --seed " << args.seed << "\n";
  out << "interval,time";
  for (const auto& o : outputs)
    for (int r = 1; r <= args.replicates; ++r) out << "," << o << "." << r;
  out << "\n";
  for (size_t j = 0; j < p.data.points.size(); ++j) {
    out << p.data.points[j].interval << "," << Num(p.data.points[j].time, 10);
    for (size_t o = 0; o < outputs.size(); ++o)
      for (int r = 0; r < args.replicates; ++r) {
        const double e = args.noise * normal.Next();
        out << "," << Num(args.relative ? y[j][o] * (1 + e) : y[j][o] + e, 6);
      }
    out << "\n";
  }
  if (!out) return ReportBadInput({"cannot write '" + args.out + "'"});
  std::printf("wrote %s (%zu points, %d replicates of %zu outputs)\n", args.out.c_str(),
              p.data.points.size(), args.replicates, outputs.size());
  return 0;
}

void AddSynthCommand(CLI::App& app) {
  auto args = std::make_shared<SynthArgs>();
  CLI::App* cmd = app.add_subcommand(
      "synth", "Make synthetic data: simulate a model at known values and add noise");
  cmd->add_option("MODEL", args->model, "Model file (TOML)")->required();
  cmd->add_option("--design", args->design, "CSV of the points: interval (optional), time")
      ->required();
  cmd->add_option("--truth", args->truth, "TOML file of true adjustable values (name = value)");
  cmd->add_option("--noise", args->noise, "Standard deviation of the noise (default 0)");
  cmd->add_flag("--relative", args->relative, "Noise proportional to the value");
  cmd->add_option("--replicates", args->replicates, "Replicates per output (default 3)");
  cmd->add_option("--seed", args->seed, "Seed of the random numbers (default 1)");
  cmd->add_option("-o,--output", args->out, "Data CSV to write")->required();
  SetStatusCallback(cmd, [args] { return RunSynth(*args); });
}

const Registration kRegistration{"synth", AddSynthCommand};

}  // namespace

}  // namespace tarvo::cli
