// Releasing a loaded model. ReleaseModel frees every compiled formula the engine state holds
// (each handle released once and set to nil, whatever the counts say) and the point table, and
// marks the state empty; it leaves the exchange file alone. FinishModel is the body of the
// exported Fin: with a model loaded it releases it and then erases the exchange file (raising
// FailureKind::InputOutput when that fails, everything else already released); with no model
// loaded (a second Fin, or Fin before any Calcul_initial) it does nothing.
#pragma once

#include "library/state.h"

#include <cstdint>

namespace tarvo {

void ReleaseModel(EngineState& st);
void FinishModel(EngineState& st, const int16_t* mode);

}  // namespace tarvo
