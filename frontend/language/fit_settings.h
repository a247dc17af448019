// The settings of a fit over the model file's own, typed: which adjustables are free or held,
// the method, tolerance and most fitting calls, and the number of starts of a multi-start fit
// and their seed. The command line, a batch manifest and Python each fill them their own way;
// analysis/fit_control.h holds them to the model file's rules.
//
// Messages never name a flag or an argument: each names its setting through the control's
// SettingName, which the caller gives ("--fix nope" on the command line, "fixed=['nope']" in
// Python); without one a setting is named plainly ("fixed adjustable 'nope'").
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tarvo::frontend {

enum class Setting { kFree, kFix, kMethod, kTolerance, kMaxCalls, kStarts, kSeed };

// How a message names a setting given the value value (an adjustable's name for kFree and
// kFix, the number as written otherwise).
using SettingName = std::function<std::string(Setting, const std::string& value)>;

struct FitControl {
  std::vector<std::string> free;
  std::vector<std::string> fix;
  std::optional<std::string> method;    // none: the file's
  std::optional<double> tolerance;      // none: the file's
  std::optional<long long> max_calls;   // none: the file's; 1 to kMaxCallsLimit
  std::optional<long long> starts;      // none: one start; 1 to kMaxStarts
  std::optional<long long> seed;        // none: 1; 0 to kMaxSeed
  SettingName name;                     // empty: NeutralName
  int start_count = 1;                  // starts and seed once checked (ApplyFitControl)
  uint64_t start_seed = 1;
};

inline constexpr long long kMaxCallsLimit = 100000;
inline constexpr long long kMaxStarts = 1000;
inline constexpr long long kMaxSeed = 1000000000000000;  // 1e15: exact in a double

// "fixed adjustable 'nope'", "number of starts 0", ...
std::string NeutralName(Setting s, const std::string& value);

// How c names s in its messages: c.name, or NeutralName.
std::string NameOf(const FitControl& c, Setting s, const std::string& value);

// What a whole-number setting must be: "must be a whole number from 1 to 1000".
std::string WholeNumberRule(Setting s);

// Sets s of c from text (a command-line value, a manifest cell): "" when read, else what is
// wrong with it, without the setting's name. Whole numbers are checked in full here; the
// rules that need the model (names, method, tolerance range) are ApplyFitControl's.
std::string ReadSetting(Setting s, const std::string& text, FitControl& c);

}  // namespace tarvo::frontend
