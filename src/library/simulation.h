// One simulation of the loaded model with its statistics, the rewrite of the exchange file
// and the copies back to the host's records. This is the body of the exported Simulation
// call; the fitting iteration calls it too. Raises FailureKind::InputOutput when the file
// cannot be written (the host's records are then not updated).
#pragma once

#include "library/records.h"

namespace tarvo {

void SimulateModel(const BInitials* host_initials, BFitSet* host_fitset, BAjustables* host_adj);

}  // namespace tarvo
