// The work one simulation may take, so that no input makes a command run for minutes
// without a word:
//   - the fixed-step methods of kMethodFacts ("RUNGE-KUTTA 4"/"5") take
//     ceil(1/sqrt(tolerance)) steps between every two points, each of 4 or 5 rate evaluations
//     of every rate formula: that work is known before starting and is refused above
//     kMaxFormulaEvaluations (a few seconds).
//   - "EXACT" takes no steps: one matrix exponential per distinct gap between points (a
//     scaling-and-squaring of at most (species + 1) rows, its squarings bounded by the
//     doubles' range) and one product per point, so its work follows from the model's size
//     and it is never probed (a probe forks the process, and every page the process writes
//     afterwards is copied once: a profile's refits, each with new start values, paid that
//     at every refit).
//   - the methods that choose their steps as they go ("RUNGE-KUTTA QC", "CHU-BERMAN", and
//     the method library's "BDF"): the first simulation is run once in a child process that
//     is stopped after kProbeSeconds; a model whose simulation does not finish by then is
//     refused, naming the longest interval and the likely cause (times in a unit far smaller
//     than the rates', or the tolerance).
#pragma once

#include <string>
#include <vector>

#include "session/library_session.h"
#include "language/prepare.h"

namespace tarvo::frontend {

inline constexpr double kMaxFormulaEvaluations = 2e8;
inline constexpr unsigned kProbeSeconds = 10;

// Formula evaluations of one fixed-step simulation over that many points, the start point
// included (0 for the other methods).
double FixedStepWork(const Prepared& p, size_t points);

// Empty, or why a fixed-step simulation over that many points would exceed the budget.
std::string FixedStepBudgetProblem(const Prepared& p, size_t points);

// Runs one simulation of the loaded session in a child process. Empty when it finished within
// kProbeSeconds; else the sentence refusing the model. The verdict on the same simulation
// (formulas, method, tolerance, start values, times of the points) is given again without a
// new probe for as long as the process runs.
std::string ProbeSimulation(Session& s, const Prepared& p);

// LoadModel, then the budget: a fixed-step simulation beyond it is refused before it starts,
// any other after the probe. 0, or 2 with errors filled (the model file's path first).
int LoadWithinBudget(Session& s, const Prepared& p, std::vector<std::string>& errors);

}  // namespace tarvo::frontend
