// What the fit reads from the engine state, bounded by the table sizes: the counts of the
// loaded model and the list of free adjustables in table order (free position c, 0-based,
// holds the 0-based adjustable number). The counts come from the engine copy of BInitials;
// they are clamped here so that no loop of the fit leaves its tables whatever the host sent.
#pragma once

#include <algorithm>
#include <cstdint>

#include "library/state.h"

namespace tarvo {

inline int32_t FitAdjustableCount(EngineState& st) {
  return std::clamp<int32_t>(st.initials.NAjustables, 0, kMaxAdjustables);
}
inline int32_t FitPointCount(EngineState& st) {
  return std::clamp<int32_t>(st.initials.NPoints, 0, kMaxPoints);
}
inline int32_t FitOutputCount(EngineState& st) {
  return std::clamp<int32_t>(st.initials.NSorties, 0, kMaxOutputs);
}

struct FreeList {
  int32_t count;
  int32_t index[kMaxAdjustables];
};

inline FreeList FreeAdjustables(EngineState& st) {
  FreeList f{};
  const int32_t n = FitAdjustableCount(st);
  for (int32_t a = 0; a < n; ++a) {
    if (st.adjustables[a].Adjustable != 0) f.index[f.count++] = a;
  }
  return f;
}

}  // namespace tarvo
