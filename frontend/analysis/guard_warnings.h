// Outputs decided by the library's guards rather than by the model: its division guard makes
// x/0 worth 1e130 and its logarithm clamp makes ln(0) worth ln(1e-130), about -299.3.
#pragma once

#include <string>
#include <vector>

#include "language/prepare.h"

namespace tarvo::frontend {

// One warning per output whose simulated values (at the data points) were decided by a guard,
// naming the output formula and the first such point.
void GuardWarnings(const Prepared& p, const std::vector<std::vector<double>>& ycalc,
                   std::vector<std::string>& warnings);

}  // namespace tarvo::frontend
