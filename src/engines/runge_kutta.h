// The fixed-step engines "RUNGE-KUTTA 4" (Engine_rk4, classical fourth-order step) and
// "RUNGE-KUTTA 5" (Engine_rk5, the first five Fehlberg stages advanced with the fourth-order
// weights), their step routines, and the start routine shared with "RUNGE-KUTTA QC".
//
// The fixed-step engines cover [t0, t1] with steps h = (t1 - t0) sqrt(tol) and return the
// state at the first accumulated time t0 + h + h + ... that is not below t1; the last step is
// never shortened. Status (set to 0 first):
//   1  tol not above 0 (also NaN): no step, y_out not written;
//   3  t1 not above t0 (also NaN times), overrides 1: no step, y_out not written;
//   2  the step no longer advances the time (t + h rounds back to t, or is NaN or infinite):
//      the engine stops before that step and y_out holds the state at the time reached.
#pragma once

#include <cstdint>

#include "engines/derivatives.h"

namespace tarvo {

inline constexpr int16_t kStatusTolerance = 1;   // tolerance not above the engine's floor
inline constexpr int16_t kStatusNotReached = 2;  // stopped before the end time
inline constexpr int16_t kStatusEmptyInterval = 3;  // t1 not after t0

// Tolerance floors of Engine_start.
inline constexpr double kFixedStepFloor = 0.0;
inline constexpr double kStepDoublingFloor = 1e-130;

// Sets status (0, 1 when tol is not above floor, 3 when t1 is not after t0), t := t0 and
// y := y_in (all 30 entries); h := (t1 - t0) sqrt(tol) only when status is 0.
void Engine_start(double t0, double t1, double tol, double floor, const double* y_in,
                  int16_t& status, double& t, double& h, SpeciesVector& y);

// Advance y from t to t + h in place (species 1..n).
void Step_rk4(int32_t n, double h, double t, SpeciesVector& y);
void Step_rkf(int32_t n, double h, double t, SpeciesVector& y);

void Engine_rk4(int32_t n, double t0, double t1, double tol, const double* y_in, double* y_out,
                int16_t& status);
void Engine_rk5(int32_t n, double t0, double t1, double tol, const double* y_in, double* y_out,
                int16_t& status);

}  // namespace tarvo
