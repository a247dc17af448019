// One simulation of a prepared model at its values and data points, as `tarvo simulate` runs
// it and the Python module calls it, in a session of its own: the outputs at the points and
// the goodness-of-fit figures. Nothing is printed.
#pragma once

#include <string>
#include <vector>

#include "language/prepare.h"
#include "results/report.h"

namespace tarvo::frontend {

struct SimulateRun {
  int erreur = 0;  // the library's Erreur of the simulation (its text: SimulationErreurText)
  Figures figures;
  std::vector<double> values;              // every adjustable, bound ones as the library set them
  std::vector<std::vector<double>> ycalc;  // per data point, per output
};

// 0 simulated (run.erreur may still be non-zero); 1 the simulation failed or left the finite
// numbers (message, the command's sentence); 2 bad input (errors filled).
int SimulateOn(Prepared& p, SimulateRun& run, std::string& message,
               std::vector<std::string>& errors);

}  // namespace tarvo::frontend
