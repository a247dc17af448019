#include "language/fit_settings.h"

#include <cmath>
#include <cstdlib>

#include "language/text.h"

namespace tarvo::frontend {

namespace {

struct Range {
  long long low, high;
};

Range RangeOf(Setting s) {
  switch (s) {
    case Setting::kMaxCalls: return {1, kMaxCallsLimit};
    case Setting::kStarts: return {1, kMaxStarts};
    default: return {0, kMaxSeed};
  }
}

bool ReadNumber(const std::string& text, double& v) {
  char* end = nullptr;
  v = std::strtod(text.c_str(), &end);
  return !text.empty() && end == text.c_str() + text.size() && std::isfinite(v);
}

}  // namespace

std::string NeutralName(Setting s, const std::string& value) {
  switch (s) {
    case Setting::kFree: return "free adjustable '" + value + "'";
    case Setting::kFix: return "fixed adjustable '" + value + "'";
    case Setting::kMethod: return "method '" + value + "'";
    case Setting::kTolerance: return "tolerance " + value;
    case Setting::kMaxCalls: return "max_calls " + value;
    case Setting::kStarts: return "number of starts " + value;
    case Setting::kSeed: return "seed " + value;
  }
  return value;
}

std::string NameOf(const FitControl& c, Setting s, const std::string& value) {
  return c.name ? c.name(s, value) : NeutralName(s, value);
}

std::string WholeNumberRule(Setting s) {
  const Range r = RangeOf(s);
  return "must be a whole number from " + Num(static_cast<double>(r.low)) + " to " +
         Num(static_cast<double>(r.high));
}

std::string ReadSetting(Setting s, const std::string& text, FitControl& c) {
  double v = 0;
  switch (s) {
    case Setting::kFree: c.free.push_back(text); return "";
    case Setting::kFix: c.fix.push_back(text); return "";
    case Setting::kMethod: c.method = text; return "";
    case Setting::kTolerance:
      if (!ReadNumber(text, v) || !(v > 0)) return "must be a number above 0";
      c.tolerance = v;
      return "";
    case Setting::kMaxCalls:
    case Setting::kStarts:
    case Setting::kSeed: {
      const Range r = RangeOf(s);
      if (!ReadNumber(text, v) || v != std::floor(v) || v < static_cast<double>(r.low) ||
          v > static_cast<double>(r.high))
        return WholeNumberRule(s);
      const long long n = static_cast<long long>(v);
      (s == Setting::kMaxCalls ? c.max_calls : s == Setting::kStarts ? c.starts : c.seed) = n;
      return "";
    }
  }
  return "";
}

}  // namespace tarvo::frontend
