// Recognising a fit that cycles. Near its optimum the library's iteration can stop
// improving without ever meeting its convergence rule: its sensitivities come from 1 %
// forward differences and its second step from a secant correction, and when those are
// no longer accurate enough to point further down, the steps carry the fit round a loop of
// a few states that it then repeats until max_calls. Such a fit has reached the precision
// that its finite differences allow.
//
// A cycle of period P (2 to kMaxCyclePeriod calls) is recognised at the first call that
// brings the fit back to where it stood P calls before: every free value within `level`
// (relative), while the turn in between went out at least 1 / kReturnShare times as far.
// One return suffices: a call's outcome depends only on the values it starts from (fresh
// differences, then the secant step from them), so a state revisited is a loop entered.
// A damped oscillation or a slow approach does not return so close: it comes back nearer
// by the share of the way it has still to go, which the fit's convergence rule has not yet
// met (one contracting by less than kReturnShare a turn would need a hundred calls more to
// meet it; taken for a loop, it is judged by its states' ErreurCalc like one). A loop too
// small for that test is still recognised when its last P calls repeat the P before,
// every free value within level / 10, while the states of one turn differ by more than
// that (a fit standing still meets the convergence rule).
#pragma once

#include <string>
#include <vector>

#include "language/text.h"
#include "results/fit_result.h"

namespace tarvo::frontend {

inline constexpr int kMaxCyclePeriod = 8;
inline constexpr double kReturnShare = 0.02;

// A value the message names: its name and its index in CallRecord::values.
struct CycleShown {
  std::string name;
  int index = 0;
};

struct Cycle {
  bool found = false;
  int period = 0;
  int first_call = 0, last_call = 0;  // the last turn
  int best_call = 0;                  // the call of that turn with the least ErreurCalc
  double level = 0;                   // the relative level at which the states recur
  double spread = 0;                  // (max - min) / min of ErreurCalc over the turn
  std::string states;                 // "Vmax 0.00995404 to 0.00995967, Km ..."
};

// The level for a convergence rule of sum (relative change)^2 < precision: 1e-5, or a
// tenth of the per-value change the rule allows when that is finer.
double CycleLevel(double precision);

// Looks for a cycle ending at the last call of history; free_index lists the values
// compared (the free ones), shown the values the message names.
Cycle FindCycle(const std::vector<CallRecord>& history, const std::vector<int>& free_index,
                const std::vector<CycleShown>& shown, double level);

// Whether the cycle's states are one optimum for the data: their ErreurCalc differ by less
// than a hundredth of what moving one adjustable by one standard error costs, 1 / dof of
// the sum (dof = measured values - free adjustables).
bool CycleWithinNoise(const Cycle& c, int dof);

// "the fit is cycling between 3 states (...) at the 1e-06 level: ..." and what was reported.
std::string CycleText(const Cycle& c, bool converged);

}  // namespace tarvo::frontend
