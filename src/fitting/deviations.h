// Standard deviations of the adjustables: the undamped normal matrix at the current values
// (fresh differences, Marquard held at 0 for the call and restored on every path) is
// inverted and scaled by the error-model coefficient; SD(a) is the root of the diagonal, 0
// for adjustables that are not free.
//
// Nothing changes when ErreurCalc is not above 1e-130 (a perfect fit). An inversion failure
// adds its code (1 or 2) to BFitSet.Erreur and leaves every SD as it was.
#pragma once

#include "library/state.h"

namespace tarvo {

void Ecarts_types(EngineState& st);

}  // namespace tarvo
