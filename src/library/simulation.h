// One simulation of the loaded model with its statistics, the rewrite of the exchange file
// and the copies back to the host's records. This is the body of the exported Simulation
// call; the fitting iteration calls it too. Raises FailureKind::InputOutput when the file
// cannot be written (the host's records are then not updated).
#pragma once

#include "library/state.h"
#include "library/records.h"

namespace tarvo {

// Without a usable model (ModelReady false) it changes nothing but the host's Erreur
// (RefuseUnready). The host pointers may be nil: nothing is copied back to a nil record.
void SimulateModel(EngineState& st, const BInitials* host_initials, BFitSet* host_fitset, BAjustables* host_adj);

// Rewrites the exchange file from the live point table: one record per point with the point's
// own fields. host_initials gives the numbers of points and outputs written, bounded by the
// loaded model's (nil: the model's). Raises FailureKind::InputOutput; the file is closed.
void WriteExchangeFile(EngineState& st, const BInitials* host_initials);

// What the rewrite shows for output o (0-based) of point j (0-based) after a simulation: the
// simulated value, or the engine's status code when an engine call of that simulation failed.
double ShownOutput(const EngineState& st, int j, int o);

// The same for a record of any table walked with that status: the status code when it is not
// 0, the record's simulated value otherwise.
double ShownValue(int16_t status, const PointRecord& p, int o);

}  // namespace tarvo
