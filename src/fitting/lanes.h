// Walks of the loaded model at values other than its own, side by side, for a caller that
// differences the outputs itself (the front end's standard errors): the outputs alone, without
// the statistics, the rewrite or the copies to the host a simulation makes.
//
// Lane 0 walks the model's scratch table on the model's own state; lane k walks the table of
// worker instance k (the fit's, library/workers.h), so there are as many lanes as the fit has
// threads. PrepareLanes fills every lane's table from the model's points and gives each lane
// the model's status to start from; the lanes then serve until the next set-up, simulation or
// fitting call. Different lanes may walk on different threads at once (each reads and writes
// its own state and table only; nothing of the model's point table); one lane serves one
// thread at a time.
//
// A lane's walk gives the outputs a simulation at the same values would give, bit for bit:
// the same formulas walked over the same points (a worker's are copies of the model's).
#pragma once

#include <cstdint>

#include "library/state.h"

namespace tarvo {

// The number of lanes, after preparing them; 0 when no model is ready.
int32_t PrepareLanes(EngineState& st);

// The number of lanes, without preparing them.
int32_t LaneCount(const EngineState& st);

// Walks lane `lane` (0 <= lane < LaneCount) with adjustable a at values[a] for every
// a < count (bound ones follow their formulas). Returns the status the simulation at those
// values would report: the engine's, plus kErreurNonFinite when a species or output left the
// finite numbers. Raises what the walk raises; the lane's adjustables are then as the values
// left them, and the next walk sets them again.
int16_t WalkLane(EngineState& st, int32_t lane, const double* values, int32_t count);

// Output o of point j (0-based) after the lane's last walk, as the simulation's rewrite would
// show it (the engine's status code where an engine call failed).
double LaneOutput(EngineState& st, int32_t lane, int32_t j, int32_t o);

}  // namespace tarvo
