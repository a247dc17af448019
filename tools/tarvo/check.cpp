// tarvo check MODEL: validates a model file and its data without simulating. Reads both,
// translates every formula (naming the formula and column of each problem), loads the model
// into the library with Calcul_initial and puts its Erreur into sentences (naming, through
// the library's own formula stages, any formula it refuses), then warns where the model is
// legal but likely wrong (model_warnings.h) and notes what "auto" picked or which method suits
// the model better (method_choice.h). A model with reactions also gets the
// differential equations they derive, in the user's names.
// Exit status: 0 valid (warnings allowed), 2 bad input.
#include <algorithm>
#include <cstdio>
#include <memory>

#include "tarvo/command.h"
#include "language/formula_diagnosis.h"
#include "language/method_choice.h"
#include "session/load_model.h"
#include "language/model_warnings.h"
#include "language/reactions.h"

namespace tarvo::cli {

using namespace tarvo::frontend;

namespace {

struct CheckArgs {
  std::string model;
};

void Print(const char* kind, const std::vector<std::string>& lines) {
  for (const auto& l : lines) std::fprintf(stderr, "tarvo: %s: %s\n", kind, l.c_str());
}

// Notes (which method suits the model) go to stdout with the summary: they are no warning.
void PrintNotes(const std::vector<std::string>& lines) {
  for (const auto& l : lines) std::printf("note: %s\n", l.c_str());
}

// The library's verdict on a model that the front end found sound.
void LibraryVerdict(const Prepared& p, std::vector<std::string>& errors) {
  Session s;
  int formula_faults = 0;
  if (LoadModel(s, p, errors, &formula_faults) == 0) return;
  EndSession(s);  // the diagnosis below needs the library's constant table to itself
  if (formula_faults > 0) {
    const std::vector<std::string> named = DiagnoseFormulas(p.model, p.text);
    errors.insert(errors.end(), named.begin(), named.end());
  }
}

// The differential equations the reactions (and [rates]) add up to, in the user's names.
void PrintRates(const Model& m) {
  std::printf("rates derived from %zu reaction%s:\n", m.reactions.size(),
              m.reactions.size() == 1 ? "" : "s");
  for (const auto& s : m.species) {
    std::string rate = "0";
    for (const auto& r : m.rates)
      if (r.species == s.name) rate = RateExpression(r);
    std::printf("  d%s/dt = %s\n", s.name.c_str(), rate.c_str());
  }
}

int Summary(const Prepared& p, int intervals, const Model& written);

int RunCheck(const CheckArgs& args) {
  Prepared p;
  std::vector<std::string> errors;
  std::string message;
  if (ReadModel(args.model, p.model, message) != 0) return ReportBadInput({message});
  for (const auto& a : p.model.adjustables) {
    p.values.push_back(a.value);
    p.free.push_back(a.free);
  }
  std::vector<std::string> outputs;
  for (const auto& o : p.model.outputs) outputs.push_back(o.name);
  bool data_ok = false;
  if (!p.model.experiments.empty()) {
    const Model written = p.model;  // the rates in the user's names, before the layout
    data_ok = PrepareExperiments(p, errors) == 0;
    CheckFreeValues(p, errors);
    if (data_ok) ResolveMethod(p);
    if (data_ok) LibraryVerdict(p, errors);
    if (data_ok) Print("warning", ModelWarnings(p));
    if (!errors.empty()) return ReportBadInput(errors);
    const int status = Summary(p, p.model.intervals, written);
    PrintNotes(MethodNotes(p));
    return status;
  }
  if (p.model.data.empty())
    errors.push_back(p.model.path + ": the model names no data file (data = \"data.csv\")");
  else if (ReadData(p.model.data, outputs, p.data, message) != 0)
    errors.push_back(message);
  else
    data_ok = true;
  const int intervals = std::max(p.model.intervals, data_ok ? p.data.last_interval : 1);
  if (data_ok) CheckStartTime(p.model, p.data, errors);
  CheckFreeValues(p, errors);
  TranslateModel(p.model, intervals, p.text, errors);
  if (errors.empty()) ResolveMethod(p);
  if (errors.empty()) LibraryVerdict(p, errors);
  if (data_ok) Print("warning", ModelWarnings(p));
  if (!errors.empty()) return ReportBadInput(errors);
  const int status = Summary(p, intervals, p.model);
  PrintNotes(MethodNotes(p));
  return status;
}

int Summary(const Prepared& p, int intervals, const Model& written) {
  int free = 0;
  for (bool f : p.free) free += f;
  std::printf("%s: valid: %zu species, %d interval%s, %zu parameters, %zu adjustables (%d free), "
              "%zu output%s; %s: %d points, %d values\n",
              p.model.path.c_str(), p.model.species.size(), intervals, intervals == 1 ? "" : "s",
              p.model.parameters.size(), p.model.adjustables.size(), free,
              p.model.outputs.size(), p.model.outputs.size() == 1 ? "" : "s",
              p.data.path.c_str(), DataPoints(p), DataValues(p.data));
  if (!written.reactions.empty()) PrintRates(written);
  return 0;
}

void AddCheckCommand(CLI::App& app) {
  auto args = std::make_shared<CheckArgs>();
  CLI::App* cmd = app.add_subcommand(
      "check", "Validate a model file and its data without simulating; warn about likely "
               "mistakes");
  cmd->add_option("MODEL", args->model, "Model file (TOML)")->required();
  SetStatusCallback(cmd, [args] { return RunCheck(*args); });
}

const Registration kRegistration{"check", AddCheckCommand};

}  // namespace

}  // namespace tarvo::cli
