// Outputs decided by something other than the model's chemistry, named so that a result that
// looks fine is not trusted blindly:
//   - the library's guards: its division guard makes x/0 worth 1e130 and its logarithm clamp
//     makes ln of 0 (or below) worth ln(1e-130), about -299.3. A clamp inside a formula can
//     hide in a small value (0.001*ln(B) is -0.3 at B = 0), so the argument of every ln and the
//     divisor of every division of an output formula is simulated on its own at the points;
//   - a simulated output orders of magnitude beyond its data (exp(1000*k) is 1e43): next to it
//     every other effect drowns in rounding, and the fit only sees adjustables without effect.
#pragma once

#include <string>
#include <vector>

#include "language/prepare.h"

namespace tarvo::frontend {

// The argument of each ln(...) and the divisor of each '/' in formula, as texts of formula
// (in order of appearance; the divisor of a/b^2 is b^2). Empty when the text does not lex.
struct GuardedOperand {
  bool logarithm = false;  // else a divisor
  std::string text;
};
std::vector<GuardedOperand> GuardedOperands(const std::string& formula);

// One warning per output formula and guarded operand that a guard decided at some data
// point (the first such point named), or per output whose simulated value at values lies at a
// guard's level; and one per output that lies orders of magnitude beyond its measured values.
// ycalc: the simulated outputs at p.data.points (may be empty: nothing is said of levels).
void GuardWarnings(const Prepared& p, const std::vector<double>& values,
                   const std::vector<std::vector<double>>& ycalc,
                   std::vector<std::string>& warnings);

}  // namespace tarvo::frontend
