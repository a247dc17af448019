// The engine frame: the rate table of the split-form rates
// dy_i/dt = sum_j M_ij(t, y) y_j + b_i(t, y) (rate_table.h), and the contract of an
// integration engine.
//
// An engine advances, on the formulas of its rate table, n species from t0 to t1 with tolerance tol. y_in is read completely
// before y_out is written (the caller passes the same vector for both). status is set to 0 at
// the start and reports the engine's outcome (codes in the engine headers). Engines allocate
// nothing; trial states never leak into the live formula cells.
#pragma once

#include <cstdint>

#include "Symbolic/compil.h"
#include "Symbolic/limits.h"

namespace tarvo {

struct RateTable;

using Engine_proc = void (*)(RateTable& rates, int32_t n, double t0, double t1, double tol,
                             const double* y_in,
                             double* y_out, int16_t& status);

// Engine status codes (each engine's header says which it reports and when).
inline constexpr int16_t kStatusTolerance = 1;      // tolerance not above the engine's floor
inline constexpr int16_t kStatusNotReached = 2;     // stopped before the end time
inline constexpr int16_t kStatusEmptyInterval = 3;  // t1 not after t0
inline constexpr int16_t kStatusStepBudget = 16;    // kMaxEngineSteps taken before t1

// Every engine call takes at most this many steps, whatever the tolerance asks for, so that
// no host value can freeze a simulation: past it the call stops at the state it reached and
// reports kStatusStepBudget. The fixed-step engines take about 1/sqrt(tol) steps, so they stay
// within it down to a tolerance of about 1e-12; the step-doubling engine's own limit of 1/tol
// steps comes first for every tolerance above 1e-6.
inline constexpr int64_t kMaxEngineSteps = 1000000;

// Derivative formula table: slot 30*(i-1) + (j-1) holds M_ij, slot 900 + (i-1) holds b_i;
// nil means zero.
inline constexpr int kDerivativeSlots = kMaxSpecies * kMaxSpecies + kMaxSpecies;

}  // namespace tarvo
