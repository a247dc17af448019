// What a plot of a simulation or fit shows, as plain vectors: one panel per output with the
// measured replicates, the residuals (replicate minus simulated, in % of the simulated value
// when the error model is relative) and the model's curve (one piece per interval), and the
// times at which intervals begin. The command draws it with PLplot, Python with matplotlib.
#pragma once

#include <string>
#include <vector>

#include "language/prepare.h"

namespace tarvo::frontend {

struct Panel {
  std::string name;
  std::vector<double> point_t, point_y;        // measured replicates
  std::vector<double> residual_t, residual_y;  // replicate minus simulated, per replicate
  std::vector<std::vector<double>> curve_t, curve_y;  // one piece per interval
};

struct PlotData {
  std::string title;
  bool log_y = false;
  std::string time_label = "time";
  bool relative_residuals = false;  // residuals in % of the simulated value
  std::vector<double> boundaries;   // times at which intervals 2, 3, ... begin, within a run
  // Where each experiment of a model with experiments begins on the common time axis, and its
  // name: drawn unlike the interval boundaries, which are additions within one run.
  std::vector<double> experiment_starts;
  std::vector<std::string> experiment_names;
  std::vector<Panel> panels;
};

// ycalc: simulated outputs at the data points (may be empty); grid and curve: the dense
// simulation (may be empty when it failed).
PlotData BuildPlotData(const Prepared& p, const std::vector<std::vector<double>>& ycalc,
                       const std::vector<DataPoint>& grid,
                       const std::vector<std::vector<double>>& curve);

}  // namespace tarvo::frontend
