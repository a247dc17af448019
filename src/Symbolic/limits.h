// Fixed sizes of the system. Every table in the library is dimensioned by these, and every
// count or index that comes from the host is checked against them before it is used.
#pragma once

#include <cstdint>

namespace tarvo {

inline constexpr int kMaxSpecies = 30;
inline constexpr int kMaxIntervals = 30;
inline constexpr int kMaxParameters = 50;
inline constexpr int kMaxAdjustables = 50;
inline constexpr int kMaxOutputs = 40;
inline constexpr int kMaxReplicates = 10;
inline constexpr int kMaxPoints = 1000;
inline constexpr int kMaxSlots = 256;
inline constexpr int kMaxConstants = 255;

// The library-wide magnitude below which a value counts as zero.
inline constexpr double kTiny = 1e-130;

}  // namespace tarvo
