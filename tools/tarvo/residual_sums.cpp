#include "tarvo/residual_sums.h"

#include <cmath>

namespace tarvo::tool {

double LibraryWeight(double mean, double simulated, double error_type) {
  constexpr double kZero = 1e-130;
  if (!(mean > kZero && simulated > kZero)) return 0;
  return error_type == 0 ? 1 : std::pow(mean * simulated, -0.5 * error_type);
}

ResidualSums SumResiduals(const Prepared& p, const std::vector<std::vector<double>>& ycalc) {
  ResidualSums s;
  for (size_t j = 0; j < p.data.points.size() && j < ycalc.size(); ++j) {
    const DataPoint& pt = p.data.points[j];
    for (size_t o = 0; o < pt.values.size() && o < ycalc[j].size(); ++o) {
      double mean = 0;
      if (!MeanOf(pt, static_cast<int>(o), mean)) continue;
      const double w = LibraryWeight(mean, ycalc[j][o], p.model.error_type);
      if (!(w > 0) || !std::isfinite(w)) continue;
      for (double y : pt.values[o]) {
        s.ssr += w * (y - ycalc[j][o]) * (y - ycalc[j][o]);
        s.pure_error += w * (y - mean) * (y - mean);
        s.log_weights += std::log(w);
        ++s.values;
      }
      ++s.pairs;
    }
  }
  return s;
}

}  // namespace tarvo::tool
