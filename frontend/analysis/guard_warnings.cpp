#include "analysis/guard_warnings.h"

#include <cmath>

#include "language/text.h"

namespace tarvo::frontend {

// The library's division guard makes x/0 worth 1e130 (or more, once multiplied), and its
// logarithm clamp makes ln(0) worth ln(1e-130), about -299.3: an output at such a level was
// decided by a guard, not by the model. The first point of each output so decided is named.
void GuardWarnings(const Prepared& p, const std::vector<std::vector<double>>& ycalc,
                   std::vector<std::string>& warnings) {
  for (size_t o = 0; o < p.model.outputs.size(); ++o)
    for (size_t j = 0; j < ycalc.size() && j < p.data.points.size(); ++j) {
      const double v = ycalc[j][o];
      const bool division = std::fabs(v) >= 1e129;
      const bool logarithm = std::fabs(v + 299.336) < 0.01;
      if (!division && !logarithm) continue;
      warnings.push_back(Where(p.model, p.model.outputs[o].formula) + ": the simulated value " +
                         Num(v) + " at t = " + Num(p.data.points[j].time) + " (" + p.data.path +
                         " line " + std::to_string(p.data.points[j].line) + ") comes from the "
                         "library's " + (division ? "division guard (a division by 0 counts as "
                         "1e130)" : "logarithm clamp (ln of 0 or below counts as ln(1e-130))") +
                         " in this formula or a rate it depends on");
      break;
    }
}

}  // namespace tarvo::frontend
