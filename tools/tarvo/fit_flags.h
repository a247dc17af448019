// The command-line flags of the fit settings (language/fit_settings.h): tarvo fit reads its
// options by them and names them in its messages; tarvo batch hands a manifest row's settings
// to its worker, a tarvo fit, by them.
#pragma once

#include <charconv>
#include <string>
#include <vector>

#include "language/fit_settings.h"

namespace tarvo::cli {

using namespace tarvo::frontend;

inline const char* FlagOf(Setting s) {
  switch (s) {
    case Setting::kFree: return "--free";
    case Setting::kFix: return "--fix";
    case Setting::kMethod: return "--method";
    case Setting::kTolerance: return "--tolerance";
    case Setting::kMaxCalls: return "--max-calls";
    case Setting::kStarts: return "--starts";
    case Setting::kSeed: return "--seed";
  }
  return "";
}

// The options after "tarvo fit MODEL" that give sets and c's settings (numbers exact).
inline std::vector<std::string> FitArguments(const std::vector<std::string>& sets,
                                             const FitControl& c) {
  std::vector<std::string> args;
  auto add = [&args](Setting s, const std::string& value) {
    args.push_back(FlagOf(s));
    args.push_back(value);
  };
  for (const auto& set : sets) args.insert(args.end(), {"--set", set});
  for (const auto& name : c.free) add(Setting::kFree, name);
  for (const auto& name : c.fix) add(Setting::kFix, name);
  if (c.method) add(Setting::kMethod, *c.method);
  if (c.tolerance) {
    char b[32];
    const auto r = std::to_chars(b, b + sizeof b, *c.tolerance);
    add(Setting::kTolerance, std::string(b, r.ptr));
  }
  if (c.max_calls) add(Setting::kMaxCalls, std::to_string(*c.max_calls));
  if (c.starts) add(Setting::kStarts, std::to_string(*c.starts));
  if (c.seed) add(Setting::kSeed, std::to_string(*c.seed));
  return args;
}

}  // namespace tarvo::cli
