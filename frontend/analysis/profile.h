// Profile-likelihood intervals of the free adjustables of a converged fit.
//
// The profile of adjustable a: fix a at a value x, refit every other free adjustable, and
// take z(x) = (SSR(x) - SSR_min) / s^2, with SSR and s^2 as in uncertainty.h. The 95 %
// interval holds the x with z(x) <= F(0.95; 1, n - p), the F threshold (the variance is
// estimated from the same residuals). For a model linear in its adjustables this is exactly
// estimate +- t * SE; otherwise it may be asymmetric.
//
// The path: from the estimate outwards on each side, one refit per step, each starting from
// the values of its neighbour moved along the covariance's line (each other adjustable by
// cov(b, a) / var(a) times the change of a, where the optimum lies to first order; never to
// zero or across). The first step is 1.1 sqrt(threshold) SE, just past where the parabola of
// the SE puts the threshold (at most a quarter of |estimate|; with no SE that quarter, or
// 1e-3 at an estimate of 0); it doubles while z rises by less than a quarter of the
// threshold per step. Once z passes the
// threshold, two refits refine the crossing by interpolating sqrt(z). A side is open when
//   - the path would cross zero: the fit's step rule keeps an adjustable on its side of zero,
//     so the path approaches zero geometrically and stops below 1e-6 of the estimate,
//   - it has gone 1000 times max(|estimate|, SE) from the estimate, or taken 24 refits,
//   - a refit fails, and so do three more, each a quarter of the step before it.
// Both sides open means a flat profile: the adjustable is not identifiable.
#pragma once

#include <string>
#include <vector>

#include "analysis/uncertainty.h"

namespace tarvo::frontend {

// z of a refit whose simulated outputs at the data points are ycalc (see above).
double ProfileZ(const Prepared& p, const std::vector<std::vector<double>>& ycalc,
                const Uncertainty& u);

// Profile of the i-th free adjustable of u, at the fitted values best.
Profile ProfileAdjustable(const Prepared& p, const std::vector<double>& best,
                          const Uncertainty& u, size_t i);

}  // namespace tarvo::frontend
