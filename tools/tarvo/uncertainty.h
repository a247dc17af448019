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

#include <string>
#include <vector>

#include "tarvo/prepare.h"
#include "tarvo/residual_sums.h"

namespace tarvo::tool {

// A confidence interval; an open side stopped at a documented limit (the bound is then the
// last value reached, not a bound of the interval).
struct Interval {
  bool computed = false;
  double level = 0.95;
  double lower = 0, upper = 0;
  bool lower_open = false, upper_open = false;
  bool flat = false;  // the profile never rose to the threshold: not identifiable
  std::string note;   // why a side is open, or why there is no interval
};

struct LackOfFit {
  bool available = false;
  double f = 0, p_value = 0;
  int dof_lack = 0, dof_pure = 0;  // m - p and n - m, m the pairs with data
};

struct InformationCriteria {
  double aic = 0, aicc = 0, bic = 0;
};

struct Uncertainty {
  bool available = false;
  std::string why_not;
  std::vector<int> free_index;  // adjustable number of each free adjustable, in order
  std::vector<std::string> names;
  std::vector<double> values;
  std::vector<double> se;  // NaN when the matrix is singular in that direction
  std::vector<std::vector<double>> covariance, correlation;
  ResidualSums sums;
  int dof = 0;  // n - p
  double s2 = 0;
  InformationCriteria criteria;
  LackOfFit lack_of_fit;
  std::vector<Interval> intervals;  // per free adjustable; empty without profiles
  std::vector<std::string> notes;   // how the figures were obtained, when it matters
};

// Information criteria for a weighted least-squares fit with p free adjustables.
InformationCriteria Criteria(const ResidualSums& sums, int p);

LackOfFit LackOfFitTest(const ResidualSums& sums, int p);

// Inverse of a symmetric positive semi-definite matrix, scaled by its diagonal first so
// that units do not matter. false when it is singular to working precision.
bool InvertScaled(const std::vector<std::vector<double>>& a, std::vector<std::vector<double>>& inv);

// Everything but the intervals, at the fitted values best (every adjustable) with the
// simulated outputs ycalc there. available is false, with why_not, when it cannot be done.
Uncertainty AssessUncertainty(const Prepared& p, const std::vector<double>& best,
                              const std::vector<std::vector<double>>& ycalc);

// One sentence per pair with |r| > 0.99, per adjustable whose SE exceeds |value| and per
// flat or open interval.
std::vector<std::string> UncertaintyWarnings(const Uncertainty& u);

}  // namespace tarvo::tool
