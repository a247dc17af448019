#include "results/plot_data.h"

#include <cmath>

namespace tarvo::frontend {

PlotData BuildPlotData(const Prepared& p, const std::vector<std::vector<double>>& ycalc,
                       const std::vector<DataPoint>& grid,
                       const std::vector<std::vector<double>>& curve) {
  PlotData d;
  d.title = p.model.title.empty() ? p.model.path : p.model.title;
  d.log_y = p.model.log_y;
  d.time_label = p.model.time_label;
  d.relative_residuals = p.model.error_type > 0;
  std::vector<bool> starts_experiment(p.data.points.size(), false);
  for (const ExperimentSpan& x : p.experiments) {
    if (x.first_point < 0 || static_cast<size_t>(x.first_point) >= p.data.points.size()) continue;
    starts_experiment[x.first_point] = true;
    d.experiment_starts.push_back(p.data.points[x.first_point].time);
    d.experiment_names.push_back(x.name);
  }
  for (size_t j = 1; j < p.data.points.size(); ++j)
    if (p.data.points[j].interval != p.data.points[j - 1].interval && !starts_experiment[j])
      d.boundaries.push_back(p.data.points[j].time);
  for (size_t o = 0; o < p.model.outputs.size(); ++o) {
    Panel panel;
    panel.name = p.model.outputs[o].name;
    for (size_t j = 0; j < p.data.points.size(); ++j) {
      const DataPoint& pt = p.data.points[j];
      for (double v : pt.values[o]) {
        panel.point_t.push_back(pt.time);
        panel.point_y.push_back(v);
        if (j >= ycalc.size()) continue;
        const double sim = ycalc[j][o];
        double r = v - sim;
        if (d.relative_residuals) r = sim != 0 ? 100 * r / sim : NAN;
        if (!std::isfinite(r)) continue;
        panel.residual_t.push_back(pt.time);
        panel.residual_y.push_back(r);
      }
    }
    for (size_t j = 0; j < grid.size() && j < curve.size(); ++j) {
      if (j == 0 || grid[j].interval != grid[j - 1].interval) {
        panel.curve_t.emplace_back();
        panel.curve_y.emplace_back();
      }
      panel.curve_t.back().push_back(grid[j].time);
      panel.curve_y.back().push_back(curve[j][o]);
    }
    d.panels.push_back(std::move(panel));
  }
  return d;
}

}  // namespace tarvo::frontend
