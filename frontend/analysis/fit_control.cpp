#include "analysis/fit_control.h"

#include <cmath>

#include "language/experiments.h"
#include "language/method_choice.h"
#include "language/text.h"
#include "session/erreur_text.h"

namespace tarvo::frontend {

namespace {

// The adjustables a free or fix entry names (experiments.h), or none with a message.
std::vector<int> Named(const FitControl& c, const Prepared& p, Setting s, const std::string& name,
                       std::vector<std::string>& errors) {
  const std::string where = NameOf(c, s, name) + ": ";
  const std::vector<int> all = AdjustablesNamed(p, name);
  if (all.empty())
    errors.push_back(where + "'" + name + "' is not an adjustable of the model" +
                     ShownNamesHint(p, name));
  else if (p.model.adjustables[all.front()].bound)
    errors.push_back(where + "'" + name + "' is bound by equal_to and follows the adjustables "
                     "it uses; free or fix those");
  else return all;
  return {};
}

void ApplyFlags(const FitControl& c, Prepared& p, std::vector<std::string>& errors) {
  for (const auto& name : c.free)
    for (const auto& other : c.fix)
      if (name == other)
        errors.push_back(NameOf(c, Setting::kFree, name) + " and " +
                         NameOf(c, Setting::kFix, name) + ": choose one");
  for (const auto& name : c.free)
    for (const int a : Named(c, p, Setting::kFree, name, errors)) p.free[a] = true;
  for (const auto& name : c.fix)
    for (const int a : Named(c, p, Setting::kFix, name, errors)) p.free[a] = false;
}

void ApplySettings(const FitControl& c, Model& m, std::vector<std::string>& errors) {
  if (c.method) {
    if (!KnownMethod(*c.method) && *c.method != kAutoMethod) {
      errors.push_back(NameOf(c, Setting::kMethod, *c.method) + ": not one of " +
                       MethodNames() + " or \"auto\" (spelled exactly so)");
      return;
    }
    m.method = *c.method;
  }
  if (c.tolerance) {
    const std::string where = NameOf(c, Setting::kTolerance, Num(*c.tolerance, 17)) + ": ";
    if (!(*c.tolerance > 0) || !std::isfinite(*c.tolerance)) {
      errors.push_back(where + "must be a number above 0");
      return;
    }
    if (const std::string why = ToleranceProblem(m.method, *c.tolerance); !why.empty()) {
      errors.push_back(where + why);
      return;
    }
    m.tolerance = *c.tolerance;
  } else if (const std::string why = ToleranceProblem(m.method, m.tolerance); !why.empty()) {
    errors.push_back(NameOf(c, Setting::kMethod, c.method.value_or(m.method)) +
                     ": the model's " + why + "; give a tolerance within it");
  }
}

// A whole-number setting within its range, or a message.
bool InRange(const FitControl& c, Setting s, long long n, long long low, long long high,
             std::vector<std::string>& errors) {
  if (n >= low && n <= high) return true;
  errors.push_back(NameOf(c, s, std::to_string(n)) + ": " + WholeNumberRule(s));
  return false;
}

void ApplyCounts(FitControl& c, Model& m, std::vector<std::string>& errors) {
  if (c.max_calls && InRange(c, Setting::kMaxCalls, *c.max_calls, 1, kMaxCallsLimit, errors))
    m.max_calls = static_cast<int>(*c.max_calls);
  if (c.starts && InRange(c, Setting::kStarts, *c.starts, 1, kMaxStarts, errors))
    c.start_count = static_cast<int>(*c.starts);
  if (c.seed && InRange(c, Setting::kSeed, *c.seed, 0, kMaxSeed, errors))
    c.start_seed = static_cast<uint64_t>(*c.seed);
}

}  // namespace

int ApplyFitControl(FitControl& c, Prepared& p, std::vector<std::string>& errors) {
  const size_t before = errors.size();
  ApplyFlags(c, p, errors);
  if (c.method) p.method_choice.clear();
  ApplySettings(c, p.model, errors);
  ApplyCounts(c, p.model, errors);
  ResolveMethod(p);  // a method setting of "auto"
  return errors.size() == before ? 0 : 2;
}

}  // namespace tarvo::frontend
