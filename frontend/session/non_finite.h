// A simulation that left the finite numbers (a blow-up, a division by zero in a rate, a start
// value near the top of the doubles, a fixed step too long for a fast rate) is stopped at
// once, whether or not the library flags it with kErreurNonFinite: its ErreurCalc and its
// simulated outputs are checked too. The sentence names the first output that is not finite,
// with its point and time, the adjustable values of the simulation and the likely causes.
#pragma once

#include <string>
#include <vector>

#include "language/prepare.h"

namespace tarvo::frontend {

// True when erreur carries the library's non-finite code or erreur_calc is not finite.
bool LeftFiniteNumbers(int erreur, double erreur_calc);

// The first non-finite simulated output, -1 / -1 when all are finite.
void FirstNonFinite(const std::vector<std::vector<double>>& ycalc, int& point, int& output);

// The sentence: "the simulation left the finite numbers: output 'Y' is nan at t = 3
// (data.csv line 5) with k1 = 0.3, k2 = 1e+300; likely causes: ...". ycalc may be empty.
std::string NonFiniteText(const Prepared& p, const std::vector<std::vector<double>>& ycalc,
                          const std::vector<double>& values);

}  // namespace tarvo::frontend
