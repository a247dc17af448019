// The weighted residuals of a model against its data, with the library's own weights
// (api/fit_rules.h): a pair (point, output) weighs what the library gives it, computed on the
// values the library saw (data and simulation shifted by the output's offset); a pair of
// weight 0 drops out, as in the library's statistics. Every replicate of a pair carries its
// weight. So the fit, its statistics and every figure built on these sums count the same
// values.
//
// In: a prepared model with its data and the simulated outputs at the data points (on the
// user's scale, offsets removed). Out: the sums the uncertainty figures are built from.
#pragma once

#include <vector>

#include "language/prepare.h"
#include "results/fit_result.h"

namespace tarvo::frontend {

// The library's weight of a pair whose measured mean and simulated value are given on the
// user's scale, for an output shifted by offset.
double LibraryWeight(double mean, double simulated, double offset, double error_type);

ResidualSums SumResiduals(const Prepared& p, const std::vector<std::vector<double>>& ycalc);

// The sums of the points [first, first + count) alone.
ResidualSums SumResiduals(const Prepared& p, const std::vector<std::vector<double>>& ycalc,
                          size_t first, size_t count);

// One sum per experiment of a model with experiments, in their order; empty otherwise.
std::vector<ResidualSums> ExperimentSums(const Prepared& p,
                                         const std::vector<std::vector<double>>& ycalc);

}  // namespace tarvo::frontend
