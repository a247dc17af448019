#include "analysis/dependence.h"

#include <cmath>

#include "language/text.h"
#include "analysis/simulate_at.h"

namespace tarvo::frontend {

namespace {

// The simulated outputs where the data have a value, as one vector.
bool Observed(const Prepared& p, const std::vector<double>& values, std::vector<double>& y) {
  std::vector<std::vector<double>> ycalc;
  std::string message;
  if (SimulateAt(p, values, p.data.points, ycalc, message) != 0) return false;
  y.clear();
  for (size_t j = 0; j < p.data.points.size(); ++j)
    for (size_t o = 0; o < p.model.outputs.size(); ++o)
      if (!p.data.points[j].values[o].empty()) y.push_back(ycalc[j][o]);
  return true;
}

}  // namespace

std::string SingularCulprits(const Prepared& p, const std::vector<double>& values) {
  std::vector<double> base;
  if (!Observed(p, values, base)) return "";
  std::vector<size_t> free;
  std::vector<std::vector<double>> column;
  for (size_t a = 0; a < values.size(); ++a) {
    if (!p.free[a]) continue;
    std::vector<double> moved = values, y;
    const double step = values[a] != 0 ? 0.01 * values[a] : 0.01;
    moved[a] += step;
    if (!Observed(p, moved, y)) return "";
    for (size_t i = 0; i < y.size(); ++i) y[i] = (y[i] - base[i]) / step * std::fabs(values[a]);
    free.push_back(a);
    column.push_back(std::move(y));
  }
  std::vector<double> norm;
  double largest = 0;
  for (const auto& c : column) {
    double s = 0;
    for (double v : c) s += v * v;
    norm.push_back(std::sqrt(s));
    largest = std::max(largest, norm.back());
  }
  std::string out;
  auto add = [&](const std::string& s) { out += (out.empty() ? "" : "; ") + s; };
  for (size_t i = 0; i < free.size(); ++i)
    if (!(norm[i] > 1e-9 * largest))
      add(p.model.adjustables[free[i]].name + " has no effect on the data");
  for (size_t i = 0; i < free.size(); ++i)
    for (size_t k = i + 1; k < free.size(); ++k) {
      if (!(norm[i] > 1e-9 * largest) || !(norm[k] > 1e-9 * largest)) continue;
      double dot = 0;
      for (size_t r = 0; r < column[i].size(); ++r) dot += column[i][r] * column[k][r];
      const double cosine = dot / (norm[i] * norm[k]);
      if (std::fabs(cosine) > 0.999)
        add(p.model.adjustables[free[i]].name + " and " + p.model.adjustables[free[k]].name +
            " have nearly the same effect on the data (cosine " + Num(cosine, 6) + ")");
    }
  return out;
}

}  // namespace tarvo::frontend
