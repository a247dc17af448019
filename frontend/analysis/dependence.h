// Which free adjustables make the fit's equations singular: each one's effect on the
// simulated data is differenced (1 % of its value, 0.01 at 0) by separate simulations at the
// data points, and an effect that vanishes, or two effects that point the same way (cosine
// above 0.999), are named.
#pragma once

#include <string>
#include <vector>

#include "language/prepare.h"

namespace tarvo::frontend {

// "k2 has no effect on the data; k1 and epsB have nearly the same effect (cosine 0.99998)",
// or empty when no cause is found (or the simulations fail).
std::string SingularCulprits(const Prepared& p, const std::vector<double>& values);

}  // namespace tarvo::frontend
