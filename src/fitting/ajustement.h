// One iteration of the fit of the free adjustables: the body of the exported Ajustement.
//
// A first step from fresh differences is always kept; a second step from secant-corrected
// sensitivities is kept unless it raises ErreurCalc (strictly); Done is set when the squared
// relative change of the free values over the whole call is below Precision; the standard
// deviations are computed at convergence, or at every call when MaxIter is 0. The whole
// engine BFitSet is copied into the host's record on every path that returns normally.
//
// The host's records are passed to the simulations unchanged; Value, SD and Adjustable of the
// host's BAjustables are written. Without a model that set up cleanly nothing is touched
// but the host's Erreur (RefuseUnready). A raised failure of a simulation (file trouble, an
// invalid power) leaves the call as it leaves Simulation.
#pragma once

#include <cstdint>

#include "library/state.h"
#include "library/records.h"

namespace tarvo {

void FitIteration(EngineState& st, const BInitials* host_initials, BFitSet* host_fitset, BAjustables* host_adj);

// The measure Done is decided on: the sum, over the free adjustables (the count entries of
// index, taken in that order), of the squared relative change of each value from before[a]
// to after[a]. A value that was exactly 0 before counts by its absolute change.
double ConvergenceMeasure(int32_t count, const int32_t* index, const double* before,
                          const double* after);

}  // namespace tarvo
