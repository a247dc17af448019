#include "session/non_finite.h"

#include <cmath>

#include "api/outcome_codes.h"
#include "api/methods.h"
#include "language/text.h"

namespace tarvo::frontend {

bool LeftFiniteNumbers(int erreur, double erreur_calc) {
  return HoldsRefusal(erreur, kErreurNonFinite) || !std::isfinite(erreur_calc);
}

void FirstNonFinite(const std::vector<std::vector<double>>& ycalc, int& point, int& output) {
  point = output = -1;
  for (size_t j = 0; j < ycalc.size(); ++j)
    for (size_t o = 0; o < ycalc[j].size(); ++o)
      if (!std::isfinite(ycalc[j][o])) {
        point = static_cast<int>(j);
        output = static_cast<int>(o);
        return;
      }
}

std::string NonFiniteText(const Prepared& p, const std::vector<std::vector<double>>& ycalc,
                          const std::vector<double>& values) {
  int j = -1, o = -1;
  FirstNonFinite(ycalc, j, o);
  std::string what;
  if (j >= 0 && static_cast<size_t>(j) < p.data.points.size()) {
    const DataPoint& pt = p.data.points[static_cast<size_t>(j)];
    what = "output '" + p.model.outputs[static_cast<size_t>(o)].name + "' is " +
           Num(ycalc[static_cast<size_t>(j)][static_cast<size_t>(o)]) + " at t = " +
           Num(pt.time) + " (" + p.data.path + " line " + std::to_string(pt.line) + ")";
  } else {
    what = "a species or output is not finite (ErreurCalc is not a number)";
  }
  std::string at;
  for (size_t a = 0; a < values.size() && a < p.model.adjustables.size(); ++a)
    at += (at.empty() ? "" : ", ") + p.model.adjustables[a].name + " = " + Num(values[a]);
  const MethodFacts* facts = FactsForMethod(p.model.method);
  const bool fixed = facts && facts->fixed_steps;
  return "the simulation left the finite numbers: " + what + (at.empty() ? "" : ", with " + at) +
         "; likely causes: a rate that grows without bound (a wrong sign, a feedback), a "
         "division by zero or a huge value in a rate or start formula" +
         (fixed ? ", or fixed steps too long for a fast rate (use \"RUNGE-KUTTA QC\")" : "");
}

}  // namespace tarvo::frontend
