// The weighted residuals of a model against its data, with the library's own weights: a pair
// (point, output) whose measured mean and simulated value are both above 1e-130 weighs
// (mean * simulated)^(-error_type / 2) (1 for error_type 0); any other pair weighs 0 and
// drops out, as in the library's statistics. Every replicate of a pair carries its weight.
//
// In: a prepared model with its data and the simulated outputs at the data points. Out: the
// sums the uncertainty figures are built from.
#pragma once

#include <vector>

#include "tarvo/prepare.h"

namespace tarvo::tool {

double LibraryWeight(double mean, double simulated, double error_type);

struct ResidualSums {
  double ssr = 0;          // sum of weight * (replicate - simulated)^2
  double pure_error = 0;   // sum of weight * (replicate - mean)^2
  int values = 0;          // replicates of pairs with a weight above 0
  int pairs = 0;           // pairs with a weight above 0
  double log_weights = 0;  // sum over those replicates of ln(weight)
};

ResidualSums SumResiduals(const Prepared& p, const std::vector<std::vector<double>>& ycalc);

}  // namespace tarvo::tool
