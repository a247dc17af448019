// Model comparison: several model files fitted to the same data through the fit driver
// (fit_run.h: transforms, bounds, the work budget and the checks as `fit` applies them),
// ranked by AICc with AIC and BIC beside it and Akaike weights.
//
//   - Models fitted to different data (the data files differ in name and content) are
//     refused: their criteria cannot be compared.
//   - Only a converged fit has criteria (NaN otherwise); the ranking holds the converged
//     fits, then the others.
//   - The F test of a pair, F = ((SSR_small - SSR_big) / (p_big - p_small)) /
//     (SSR_big / (n - p_big)), is made only where the models have the same equations
//     (species, parameters, rates and reactions, outputs, experiments, as text), declare the
//     same adjustables, and one's free adjustables are a strict subset of the other's: the
//     smaller is then the larger with adjustables held. Every other pair gets the reason.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "analysis/fit_run.h"
#include "analysis/progress.h"

namespace tarvo::frontend {

struct ComparedModel {
  std::string path;
  FitRun run;              // the fit, profiles skipped
  bool converged = false;
  bool failed = false;     // no simulated outputs: nothing to rank
  std::string outcome;     // "converged after 11 calls", "NOT converged (...)", "FAILED: ..."
  ResidualSums sums;
  int free = 0;
  InformationCriteria criteria;  // NaN unless converged
  double delta_aicc = 0, weight = 0;  // among the converged; NaN for the others
};

struct FTest {
  size_t small = 0, big = 0;  // indices in Comparison::models
  double f = 0, dof_num = 0, dof_den = 0, p_value = 1;
  bool needed = false;  // the extra free adjustables improve the fit (p < 0.05)
};

struct NoFTest {
  size_t a = 0, b = 0;
  std::string why;  // "their outputs differ", ...
};

struct Comparison {
  std::vector<ComparedModel> models;
  std::vector<size_t> order;  // converged by AICc, then not converged, then failed
  std::vector<FTest> f_tests;
  std::vector<NoFTest> no_f_tests;
};

// Fits and ranks the models, one progress line per model fitted (and one every few seconds
// of a long fit) to note. 0 when every model was fitted (see converged), 2 with errors
// filled when the input is bad: a model file that does not prepare or set up, models fitted
// to different data.
int CompareModels(const std::vector<std::string>& paths, const ProgressNote& note,
                  Comparison& out, std::vector<std::string>& errors);

// The reason a pair gets no F test, or empty when it gets one (small's free adjustables a
// strict subset of big's; swap them when the subset is the other way).
std::string WhyNotNested(const ComparedModel& small, const ComparedModel& big);

}  // namespace tarvo::frontend
