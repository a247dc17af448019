// Warnings for a model that is legal but likely wrong:
//   - a fixed-step method (kMethodFacts: "RUNGE-KUTTA 4" / "5") whose last step overshoots a point (the state
//     at the first step boundary past the point is taken as the state there): by how much,
//     and a tolerance whose steps land on every point, or "RUNGE-KUTTA QC";
//   - "CHU-BERMAN" on a model with species that start at 0, which its step test makes slow;
//   - a free adjustable of value 0 (the fit steps in proportion to the value) or below 0 (its
//     steps point against the solved direction);
//   - an output that no data constrains, an adjustable no formula uses;
//   - measured values not above 0 (stored as 0 by the library);
//   - a parameter equation that reads a parameter declared after it (it gets the value of the
//     previous interval);
//   - intervals of the model that no point reaches, an interval opened by the last point.
#pragma once

#include <string>
#include <vector>

#include "language/prepare.h"

namespace tarvo::frontend {

// The fixed-step engines' walk between two times, as they take it: steps of
// (t1 - t0) * sqrt(tol) until the time is no longer below t1. Returns how far past t1 the
// last step ends (0 when it lands on it).
double FixedStepOvershoot(double t0, double t1, double tol);

std::vector<std::string> ModelWarnings(const Prepared& p);

}  // namespace tarvo::frontend
