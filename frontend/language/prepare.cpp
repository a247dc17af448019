#include "language/prepare.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "api/limits.h"
#include "language/experiments.h"
#include "language/method_choice.h"
#include "language/text.h"

namespace tarvo::frontend {

namespace {

int ApplySet(const std::string& set, Prepared& p, std::vector<std::string>& errors) {
  const size_t eq = set.find('=');
  const std::string name = eq == std::string::npos ? set : set.substr(0, eq);
  const std::string value = eq == std::string::npos ? "" : set.substr(eq + 1);
  const std::string where = "--set " + set + ": ";
  if (eq == std::string::npos) {
    errors.push_back(where + "write name=value, as in --set k1=0.5");
    return 2;
  }
  const int a = FindShownAdjustable(p, name);
  if (a < 0) {
    errors.push_back(where + "'" + name + "' is not an adjustable of the model" +
                     ShownNamesHint(p, name));
    return 2;
  }
  char* end = nullptr;
  const double v = std::strtod(value.c_str(), &end);
  if (value.empty() || end != value.c_str() + value.size() || !std::isfinite(v)) {
    errors.push_back(where + "'" + value + "' is not a number");
    return 2;
  }
  if (p.model.adjustables[a].bound) {
    errors.push_back(where + "'" + name + "' is bound by equal_to; set the adjustables it uses");
    return 2;
  }
  p.values[a] = v;
  return 0;
}

}  // namespace

int LeadPoints(const Model& model, const std::vector<DataPoint>& points) {
  return !points.empty() && model.t0 < points.front().time ? 1 : 0;
}

namespace {

// More points than the library takes once the start point at t0 is put in front.
void CheckPointCount(const Model& model, const Dataset& data, std::vector<std::string>& errors) {
  const int lead = LeadPoints(model, data.points);
  const int total = static_cast<int>(data.points.size()) + lead;
  if (lead == 0 || total <= kMaxPoints) return;
  errors.push_back(data.path + ": " + std::to_string(data.points.size()) + " data points and the "
                   "start point at t0 = " + Num(model.t0) + " (the simulation starts there, " +
                   "before the first data point, t = " + Num(data.points.front().time) +
                   ") make " + std::to_string(total) + " points, more than the library's " +
                   std::to_string(kMaxPoints) + ": set t0 = " + Num(data.points.front().time) +
                   " in the model file (the start formulas then apply at the first data point), "
                   "or drop a data point");
}

}  // namespace

void CheckStartTime(const Model& model, const Dataset& data, std::vector<std::string>& errors) {
  if (data.points.empty()) return;
  const DataPoint& first = data.points.front();
  const std::string at = data.path + ":" + std::to_string(first.line) + ": ";
  if (!model.has_t0 && first.time < 0)
    errors.push_back(at + "time " + Num(first.time) + " is negative: the simulation starts at "
                     "t0 = 0 unless the model file sets t0 (the time at which the start formulas "
                     "apply), for example t0 = " + Num(first.time));
  else if (first.time < model.t0)
    errors.push_back(at + "time " + Num(first.time) + " comes before t0 = " + Num(model.t0) +
                     " (" + model.path + ":" + std::to_string(model.t0_line) +
                     "), where the simulation starts");
  else
    CheckPointCount(model, data, errors);
}


void CheckFreeValues(const Prepared& p, std::vector<std::string>& errors) {
  for (size_t a = 0; a < p.model.adjustables.size(); ++a)
    if (p.free[a] && p.values[a] == 0)
      errors.push_back(p.model.path + ":" + std::to_string(p.model.adjustables[a].line) +
                       ": adjustable '" + p.model.adjustables[a].name + "' is free with value "
                       "0: the fit moves a value in proportion to itself, so it would stay at 0; "
                       "give it a plausible non-zero start value (or --set " +
                       p.model.adjustables[a].name + "=...)");
}

int DataPoints(const Prepared& p) {
  int n = static_cast<int>(p.data.points.size());
  for (const ExperimentSpan& x : p.experiments) n -= x.lead;
  return n;
}

int DataValues(const Dataset& data) {
  int n = 0;
  for (const auto& pt : data.points)
    for (const auto& reps : pt.values) n += static_cast<int>(reps.size());
  return n;
}

int PrepareExperiments(Prepared& p, std::vector<std::string>& errors) {
  // The model as written first, so that each message points into the file.
  TranslatedModel as_written;
  if (TranslateModel(p.model, p.model.intervals, as_written, errors) != 0) return 2;
  if (LayExperiments(p, errors) != 0) return 2;
  return TranslateModel(p.model, p.model.intervals, p.text, errors);
}

int Prepare(const std::string& model_path, const std::vector<std::string>& sets, Prepared& p,
            std::vector<std::string>& errors) {
  std::string message;
  Model model;
  if (ReadModel(model_path, model, message) != 0) {
    errors.push_back(message);
    return 2;
  }
  return PrepareModel(model, sets, nullptr, p, errors);
}

int PrepareModel(const Model& model, const std::vector<std::string>& sets, const Dataset* data,
                 Prepared& p, std::vector<std::string>& errors) {
  p = Prepared{};
  p.model = model;
  for (const auto& a : p.model.adjustables) {
    p.values.push_back(a.value);
    p.free.push_back(a.free);
  }
  bool bad = false;
  // NAME@EXP names one experiment's copy, which exists once the experiments are laid out;
  // a plain NAME set before that holds for every copy.
  std::vector<std::string> per_experiment;
  for (const auto& s : sets) {
    if (!p.model.experiments.empty() && s.substr(0, s.find('=')).find('@') != std::string::npos)
      per_experiment.push_back(s);
    else bad = ApplySet(s, p, errors) != 0 || bad;
  }
  if (!p.model.experiments.empty()) {
    if (data) {
      errors.push_back(p.model.path + ": the model's [[experiments]] name their own data; "
                       "give no other");
      return 2;
    }
    if (PrepareExperiments(p, errors) != 0) return 2;
    for (const auto& s : per_experiment) bad = ApplySet(s, p, errors) != 0 || bad;
    if (bad) return 2;
    ResolveMethod(p);
    return 0;
  }
  std::string message;
  if (data) {
    p.data = *data;
  } else if (p.model.data.empty()) {
    errors.push_back(p.model.path + ": the model names no data file (data = \"data.csv\")");
    return 2;
  } else {
    std::vector<std::string> outputs;
    for (const auto& o : p.model.outputs) outputs.push_back(o.name);
    if (ReadData(p.model.data, outputs, p.data, message) != 0) {
      errors.push_back(message);
      return 2;
    }
  }
  CheckStartTime(p.model, p.data, errors);
  if (errors.size() > 0) bad = true;
  const int intervals = std::max(p.model.intervals, p.data.last_interval);
  if (TranslateModel(p.model, intervals, p.text, errors) != 0) bad = true;
  if (bad) return 2;
  ResolveMethod(p);
  return 0;
}

int ReportBadInput(const std::vector<std::string>& errors) {
  for (const auto& e : errors) std::fprintf(stderr, "tarvo: error: %s\n", e.c_str());
  return 2;
}

}  // namespace tarvo::frontend
