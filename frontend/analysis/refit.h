// A fit of a prepared model from chosen start values with a chosen set of free adjustables,
// in a session of its own and without output: the refits of the profiles and of compare.
// The library takes values and free flags only at set-up, so each refit loads the model
// afresh; it then runs one Simulation and Ajustement until Done, an error or max_calls.
// With no free adjustable it is a single simulation at the start values.
#pragma once

#include <string>
#include <vector>

#include "language/prepare.h"

namespace tarvo::frontend {

struct Refit {
  std::vector<double> values;              // every adjustable, as the fit left it
  std::vector<std::vector<double>> ycalc;  // simulated outputs at the data points
  int calls = 0;
  std::string message;  // why it failed
};

// 0 converged, 1 not converged within the model's max_calls (values and ycalc are those
// reached), 2 failed (message; values and ycalc may be empty).
int RefitFrom(const Prepared& p, const std::vector<double>& start, const std::vector<bool>& free,
              Refit& r);

}  // namespace tarvo::frontend
