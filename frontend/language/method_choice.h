// Which integration method suits a model, judged from its translated formulas before anything
// is simulated:
//   - linear: no coefficient or free term of a rate reads a species or the time T (parameters
//     and adjustables are constant within an interval), so "EXACT" integrates it by the
//     exponential of the rate matrix;
//   - stiff: the diagonal of the rate matrix M (the coefficient of each species in its own
//     rate) evaluated at the start values of interval 1 spreads over more than kStiffSpread
//     between its largest and smallest non-zero magnitude, and the fastest of those rates
//     times the span of the data is over kStiffSpread too (an explicit method's steps are
//     bound by the fastest rate for the whole span), so "BDF" is the method to use.
//
// `method = "auto"` picks "EXACT" for a linear model, "BDF" for a stiff one and "RUNGE-KUTTA
// QC" otherwise (only methods this program offers: without the method library, always "RUNGE-
// KUTTA QC"). ResolveMethod replaces "auto" by the choice and keeps the reason in the
// Prepared, so that everything after it (work budget, set-up, report) sees a real method.
#pragma once

#include <string>
#include <vector>

#include "language/prepare.h"

namespace tarvo::frontend {

inline constexpr char kAutoMethod[] = "auto";
inline constexpr double kStiffSpread = 1e3;

struct Kinetics {
  bool linear = true;
  // One entry per rate formula that reads a species or T: "FILE:LINE:COL: LABEL reads A, T".
  std::vector<std::string> nonlinear;
  bool diagonal_known = false;  // the start values and the diagonal could be evaluated
  double fastest = 0;           // largest |M_ii| at the start values
  double slowest = 0;           // smallest non-zero |M_ii|
  std::string fast_species, slow_species;
  double span = 0;  // from the start of the simulation to the last point
  bool stiff = false;
};

Kinetics AssessKinetics(const Prepared& p);

// The method "auto" picks for p, and why (a clause: "the model is linear ...").
struct MethodChoice {
  std::string method;
  std::string why;
};
MethodChoice ChooseMethod(const Prepared& p);

// When p's method is "auto": sets the chosen one and p.method_choice. Otherwise nothing.
void ResolveMethod(Prepared& p);

// The species' values at the start of interval 1 (start formulas evaluated on the adjustables'
// values and the parameters of interval 1); false when a formula cannot be evaluated.
bool StartValues(const Prepared& p, std::vector<double>& species);

// Empty, or why "EXACT" cannot integrate p (naming the method line and each formula that
// reads a species or T).
std::string ExactProblem(const Prepared& p);

// Notes on the method, for `tarvo check` and the fit's report: what "auto" picked and why, or
// a method that suits the model better than the one it names ("EXACT" for a linear model,
// "BDF" for a stiff one).
std::vector<std::string> MethodNotes(const Prepared& p);

}  // namespace tarvo::frontend
