// The simulation driver: bound adjustables are evaluated, then the model is walked over the
// intervals and points of a point table, calling the engine between consecutive points and
// evaluating the output formulas at each point.
#pragma once

#include "library/state.h"
#include "library/records.h"

namespace tarvo {

// Adjustable-value cells := plain values, then every EqualTo-bound adjustable is evaluated
// (its PAjustable Value follows).
void Refresh_adjustables(EngineState& st);

// Walks every point of table (the live point table, or a scratch copy made by the fit):
// writes YCalc and YPrev of the points and the engine status into the engine BFitSet.Erreur.
// Every walk starts from cleared species and parameter cells, so that a start formula or an
// equation that reads a value before it is set reads 0, never what an earlier walk left.
// Returns false when a species or an output left the finite numbers at some point.
bool Run_points(EngineState& st, PointTable& table);

}  // namespace tarvo
