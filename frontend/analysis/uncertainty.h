// Residual-based uncertainty of a converged fit, built on the library's four calls only.
//
// The Jacobian of the simulated outputs with respect to each free adjustable comes from
// central differences (each a simulation at shifted values); the step is chosen per
// adjustable as the one of three relative steps (1e-3, 1e-4, 1e-5) whose column agrees best
// with its neighbour's. With the library's weights w of each (point, output) pair, held at
// their values at the optimum, and NRep replicates per pair,
//   covariance = s^2 (J^T W J)^-1,  W = diag(NRep * w),  s^2 = SSR / (n - p),
// where SSR is the weighted sum of squares over every replicate, n the number of replicates
// and p the number of free adjustables. So the scale comes from the residuals, not from the
// replicates' scatter, and stays honest with one or two replicates.
//
// Also: AIC, AICc and BIC from the Gaussian likelihood at the maximum (p + 1 estimated
// quantities, the variance included; weights enter as known relative precisions), and the
// lack-of-fit F test of the residual scatter against the replicates' own scatter.
#pragma once

#include <cmath>
#include <string>
#include <vector>

#include "language/prepare.h"
#include "session/library_session.h"
#include "results/fit_result.h"

namespace tarvo::frontend {

// Information criteria for a weighted least-squares fit with p free adjustables.
InformationCriteria Criteria(const ResidualSums& sums, int p);

LackOfFit LackOfFitTest(const ResidualSums& sums, int p);

// Inverse of a symmetric positive semi-definite matrix, scaled by its diagonal first so
// that units do not matter. false when it is singular to working precision.
bool InvertScaled(const std::vector<std::vector<double>>& a, std::vector<std::vector<double>>& inv);

// Everything but the intervals, at the fitted values best (every adjustable) with the
// simulated outputs ycalc there. available is false, with why_not, when it cannot be done.
// walk_seconds, what one simulation takes, decides whether the difference columns are worth
// sharing out among threads (the figures are the same either way). loaded, when given, is
// the fit's session (p's model still set up on its points): one lane simulates on it instead
// of setting the model up again.
Uncertainty AssessUncertainty(const Prepared& p, const std::vector<double>& best,
                              const std::vector<std::vector<double>>& ycalc,
                              double walk_seconds = HUGE_VAL, Session* loaded = nullptr);

}  // namespace tarvo::frontend
