// The method table: the four integration methods by the name the host writes in
// BFitSet.Method, in the order set-up compares them. Names match exactly (upper case, one
// blank before "QC", "4" and "5"); anything else selects no engine.
#pragma once

#include <string_view>

#include "engines/engine.h"

namespace tarvo {

struct MethodEntry {
  std::u16string_view name;
  Engine_proc engine;
};

inline constexpr int kMethodCount = 4;
extern const MethodEntry kMethods[kMethodCount];

// The engine of the method named exactly name; nil when no method matches.
Engine_proc EngineForMethod(std::u16string_view name);

}  // namespace tarvo
