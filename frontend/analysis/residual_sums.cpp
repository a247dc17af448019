#include "analysis/residual_sums.h"

#include <algorithm>
#include <cmath>

#include "api/fit_rules.h"

namespace tarvo::frontend {

double LibraryWeight(double mean, double simulated, double offset, double error_type) {
  return api::PairWeight(mean + offset, simulated + offset, error_type);
}

ResidualSums SumResiduals(const Prepared& p, const std::vector<std::vector<double>>& ycalc,
                          size_t first, size_t count) {
  ResidualSums s;
  const size_t end = std::min({first + count, p.data.points.size(), ycalc.size()});
  for (size_t j = first; j < end; ++j) {
    const DataPoint& pt = p.data.points[j];
    for (size_t o = 0; o < pt.values.size() && o < ycalc[j].size(); ++o) {
      double mean = 0;
      if (!MeanOf(pt, static_cast<int>(o), mean)) continue;
      const double offset = o < p.model.outputs.size() ? p.model.outputs[o].offset : 0.0;
      const double w = LibraryWeight(mean, ycalc[j][o], offset, p.model.error_type);
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

ResidualSums SumResiduals(const Prepared& p, const std::vector<std::vector<double>>& ycalc) {
  return SumResiduals(p, ycalc, 0, p.data.points.size());
}

std::vector<ResidualSums> ExperimentSums(const Prepared& p,
                                         const std::vector<std::vector<double>>& ycalc) {
  std::vector<ResidualSums> sums;
  if (ycalc.size() != p.data.points.size()) return sums;
  for (const ExperimentSpan& x : p.experiments)
    sums.push_back(SumResiduals(p, ycalc, static_cast<size_t>(x.first_point),
                                static_cast<size_t>(x.points)));
  return sums;
}

}  // namespace tarvo::frontend
