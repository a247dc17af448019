// One fitting step: the damped normal equations (mode 0: fresh differences, 1: secant
// correction) solved for x, then each free adjustable's dP set to the limited step. On
// return either BFitSet.Erreur is not 0 (the solver's code is assigned to it: 1 no free
// adjustable, 2 to 4 a singular system; or a status of the differences) and no dP changed,
// or every free dP holds its new step. The values themselves are not moved.
#pragma once

#include "library/state.h"

namespace tarvo {

void Pas_ajustement(EngineState& st, int mode);

// The step rule: 90 % of the solved x, shortened so that it never exceeds 90 % of the value
// in magnitude (a step of exactly the value's size is shortened too). For a negative value
// this is 0.9 * value * sign(x). A solved x of 0 gives 0 for every value.
double Limited_step(double value, double x);

}  // namespace tarvo
