// The plain result types of the front end: what a simulation or a fit leaves behind, on the
// user's scale. Analysis fills them; the writers (report.h) format them; the command line and
// the Python module hand them to the user. Nothing here computes.
#pragma once

#include <limits>
#include <string>
#include <utility>
#include <vector>

namespace tarvo::frontend {

// The library's goodness-of-fit figures of one simulation.
struct Figures {
  double erreur_calc = 0;
  double erreur_exp = 0;
  double coeff = 0;
  int data_values = 0;
};

// One call of the library's fitting iteration.
struct CallRecord {
  int call = 0;
  double erreur_calc = 0;
  double change = 0;   // sum over free adjustables of the squared relative change
  double seconds = 0;  // time of this call
  int erreur = 0;
  bool done = false;
  std::vector<double> values;
};

struct AdjustableResult {
  std::string name;
  double value = 0;
  double sd = 0;
  bool has_sd = false;
  std::string status;  // "free", "bound" or "fixed"
  std::string equal_to;
};

// One start of a multi-start fit: where it started and ended (declared adjustables, on the
// user's scale), how it ended and its weighted residual sum of squares.
struct StartRecord {
  int number = 0;
  std::string outcome;  // "converged", "not converged" or "failed: why"
  double ssr = 0;
  int calls = 0;
  bool reached_best = false;
  std::vector<std::pair<std::string, double>> start, end;
};

// The weighted residuals of a model against its data, with the library's own weights (see
// analysis/residual_sums.h).
struct ResidualSums {
  double ssr = 0;          // sum of weight * (replicate - simulated)^2
  double pure_error = 0;   // sum of weight * (replicate - mean)^2
  int values = 0;          // replicates of pairs with a weight above 0
  int pairs = 0;           // pairs with a weight above 0
  double log_weights = 0;  // sum over those replicates of ln(weight)
};

// A confidence interval; an open side stopped at a documented limit (the bound is then the
// last value reached, not a bound of the interval).
struct Interval {
  bool computed = false;
  double level = 0.95;
  double lower = 0, upper = 0;
  bool lower_open = false, upper_open = false;
  bool flat = false;  // the profile never rose to the threshold: not identifiable
  // The side is the adjustable's own bound (min or max), which the interval cannot pass.
  bool lower_cut = false, upper_cut = false;
  std::string note;   // why a side is open, or why there is no interval
};

struct LackOfFit {
  bool available = false;
  double f = 0, p_value = 0;
  int dof_lack = 0, dof_pure = 0;  // m - p and n - m, m the pairs with data
};

// NaN (null in fit.json) unless computed at a converged fit.
struct InformationCriteria {
  double aic = std::numeric_limits<double>::quiet_NaN();
  double aicc = std::numeric_limits<double>::quiet_NaN();
  double bic = std::numeric_limits<double>::quiet_NaN();
};

// A free adjustable the fit pushed to one of its bounds: held there while the others were
// fitted. Its interval runs from the bound inwards (cut by the bound on that side).
struct BoundValue {
  std::string name;
  double bound = 0;
  bool upper = false;
  std::string text;  // "active is at its upper bound 0.3: the data ask for more"
  Interval interval;
};

// Residual-based uncertainty of a converged fit (analysis/uncertainty.h says how).
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
  std::vector<BoundValue> at_bound;  // free adjustables held at a bound (not in the above)
};

struct ProfilePoint {
  double value = 0;
  double z = 0;
};

// The profile likelihood of one free adjustable (analysis/profile.h).
struct Profile {
  std::string name;
  double estimate = 0;
  double threshold = 0;
  std::vector<ProfilePoint> points;  // in increasing value, the estimate (z = 0) included
  Interval interval;
  int refits = 0;
  int calls = 0;  // the refits' fitting calls
};

struct FitResult {
  std::string outcome;  // "converged", "not converged", "failed", "interrupted"
  int calls = 0;
  int max_calls = 0;
  int erreur = 0;
  std::string erreur_text;
  bool non_finite = false;  // stopped because a simulation left the finite numbers
  int free_count = 0;
  Figures figures;
  std::vector<AdjustableResult> adjustables;
  std::vector<CallRecord> history;
  Uncertainty uncertainty;  // residual-based figures, after convergence
  std::vector<StartRecord> starts;  // a multi-start fit's starts, the best one first chosen
  double starts_tolerance = 0;      // relative: a start within it of the best SSR reached it
};

}  // namespace tarvo::frontend
