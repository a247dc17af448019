#include "analysis/fit_control.h"

#include <cmath>
#include <cstdlib>

#include "session/erreur_text.h"
#include "results/report.h"
#include "language/method_choice.h"

namespace tarvo::frontend {

namespace {

// The adjustable an option names, or -1 with a message.
int Named(const Prepared& p, const std::string& option, const std::string& name,
          std::vector<std::string>& errors) {
  const std::string where = option + " " + name + ": ";
  const int a = FindAdjustable(p.model, name);
  if (a < 0) errors.push_back(where + "'" + name + "' is not an adjustable of the model");
  else if (p.model.adjustables[a].bound)
    errors.push_back(where + "'" + name + "' is bound by equal_to and follows the adjustables "
                     "it uses; free or fix those");
  else return a;
  return -1;
}

bool ReadDouble(const std::string& text, double& v) {
  char* end = nullptr;
  v = std::strtod(text.c_str(), &end);
  return !text.empty() && end == text.c_str() + text.size() && std::isfinite(v);
}

void ApplyFlags(const FitControl& c, Prepared& p, std::vector<std::string>& errors) {
  for (const auto& name : c.free)
    for (const auto& other : c.fix)
      if (name == other)
        errors.push_back("--free " + name + " and --fix " + name + ": choose one");
  for (const auto& name : c.free)
    if (const int a = Named(p, "--free", name, errors); a >= 0) p.free[a] = true;
  for (const auto& name : c.fix)
    if (const int a = Named(p, "--fix", name, errors); a >= 0) p.free[a] = false;
}

void ApplySettings(const FitControl& c, Model& m, std::vector<std::string>& errors) {
  if (!c.method.empty()) {
    if (!KnownMethod(c.method) && c.method != kAutoMethod) {
      errors.push_back("--method " + c.method + ": not one of " + MethodNames() +
                       " or \"auto\" (spelled exactly so)");
      return;
    }
    m.method = c.method;
  }
  if (!c.tolerance.empty()) {
    double tol = 0;
    if (!ReadDouble(c.tolerance, tol) || !(tol > 0)) {
      errors.push_back("--tolerance " + c.tolerance + ": must be a number above 0");
      return;
    }
    if (const std::string why = ToleranceProblem(m.method, tol); !why.empty()) {
      errors.push_back("--tolerance " + c.tolerance + ": " + why);
      return;
    }
    m.tolerance = tol;
  } else if (const std::string why = ToleranceProblem(m.method, m.tolerance); !why.empty()) {
    errors.push_back("--method " + c.method + ": the model's " + why + "; add --tolerance");
  }
  if (!c.max_calls.empty()) {
    double n = 0;
    if (!ReadDouble(c.max_calls, n) || n != std::floor(n) || n < 1 || n > 100000)
      errors.push_back("--max-calls " + c.max_calls + ": must be a whole number from 1 to 100000");
    else m.max_calls = static_cast<int>(n);
  }
}

// A whole number from low to high typed after option, or a message.
bool WholeNumber(const std::string& option, const std::string& text, double low, double high,
                 double& n, std::vector<std::string>& errors) {
  if (ReadDouble(text, n) && n == std::floor(n) && n >= low && n <= high) return true;
  errors.push_back(option + " " + text + ": must be a whole number from " + Num(low) + " to " +
                   Num(high));
  return false;
}

void ApplyStarts(FitControl& c, std::vector<std::string>& errors) {
  double n = 1;
  if (!c.starts.empty() && WholeNumber("--starts", c.starts, 1, 1000, n, errors))
    c.start_count = static_cast<int>(n);
  if (!c.seed.empty() && WholeNumber("--seed", c.seed, 0, 1e15, n, errors))
    c.start_seed = static_cast<uint64_t>(n);
}

}  // namespace

int ApplyFitControl(FitControl& c, Prepared& p, std::vector<std::string>& errors) {
  const size_t before = errors.size();
  ApplyFlags(c, p, errors);
  if (!c.method.empty()) p.method_choice.clear();
  ApplySettings(c, p.model, errors);
  ResolveMethod(p);  // --method auto
  ApplyStarts(c, errors);
  return errors.size() == before ? 0 : 2;
}

}  // namespace tarvo::frontend
