// Tail areas and quantiles of the F distribution, for the tests and intervals of the fit
// report (profile thresholds, lack of fit, nested models). Standard library only.
//
// In: degrees of freedom above 0. Out: probabilities in [0, 1]; NaN for arguments outside
// the domain.
#pragma once

namespace tarvo::frontend {

// Regularized incomplete beta function I_x(a, b), for a, b > 0 and 0 <= x <= 1.
double IncompleteBeta(double a, double b, double x);

// P(F > f) for F with (d1, d2) degrees of freedom.
double FUpperTail(double f, double d1, double d2);

// The f with P(F <= f) = p, 0 < p < 1.
double FQuantile(double p, double d1, double d2);

}  // namespace tarvo::frontend
