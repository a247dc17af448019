// Releasing a loaded model. ReleaseModel frees every compiled formula the engine state holds
// (each handle released once and set to nil, whatever the counts say) and marks the state
// empty; it keeps the point and scratch tables and the rewrite buffer, which the next set-up of
// the same state clears and reuses (a model replacing another maps no new page), and it leaves
// the exchange file alone. ReleaseTables frees those tables. FinishModel is the body of the
// exported Fin: with a model loaded it releases it and its tables and then erases the exchange
// file (raising FailureKind::InputOutput when that fails, everything else already released);
// with no model loaded (a second Fin, or Fin before any Calcul_initial) it does nothing.
#pragma once

#include "library/state.h"

#include <cstdint>

namespace tarvo {

void ReleaseModel(EngineState& st);
void ReleaseTables(EngineState& st);
void FinishModel(EngineState& st, const int16_t* mode);

}  // namespace tarvo
