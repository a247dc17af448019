// The codes the library adds to BFitSet.Erreur for a model it refuses or a call it cannot
// serve, besides the sums of the formula stages, the method code and the engine and solver
// statuses. Each refusal is a distinct power of two times 1000, so that every sum of
// refusals tells which ones it holds, and everything below 1000 stays free for the other
// stages (api/outcome_codes.h decodes a sum and names every code).
#pragma once

#include <cstdint>

namespace tarvo {

// A count of BInitials is negative or above its limit (30 species, 30 intervals,
// 50 parameters, 50 adjustables, 1000 points, 40 outputs). Nothing is loaded.
inline constexpr int16_t kErreurCountLimit = 1000;
// A replicate count of an output in the exchange file is outside 0..10.
inline constexpr int16_t kErreurReplicateLimit = 2000;
// A point's Interval in the exchange file is outside 1..NInterrupts.
inline constexpr int16_t kErreurIntervalRange = 4000;
// The points' Interval numbers decrease somewhere in the exchange file: the walk over the
// intervals would stop there and leave every later point unsimulated. Nothing is loaded.
inline constexpr int16_t kErreurIntervalOrder = 8000;
// A simulation left the finite numbers: a species or an output is NaN or infinite at some
// point. Added by Simulation to the last engine status; Ajustement reports it too and then
// keeps the adjustables where they were.
inline constexpr int16_t kErreurNonFinite = 16000;
// Simulation or Ajustement without a loaded model: before any Calcul_initial, after Fin,
// or after a Calcul_initial that raised a failure before it completed.
inline constexpr int16_t kErreurNoModel = 32000;

// The set-up's code for an unknown Method; engine instances add it too when a method of the
// method library (engines/external.h) cannot integrate the model, with the reason in the
// failure record (kind Refused).
inline constexpr int16_t kErreurMethod = 9;
// The set-up's code for fewer replicate values in the exchange file than free adjustables.
inline constexpr int16_t kErreurTooFewData = 1;

}  // namespace tarvo
