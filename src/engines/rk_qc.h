// "RUNGE-KUTTA QC" (Engine_rk_qc): the classical fourth-order step with step doubling. Each
// attempt makes one step of h and two of h/2 from the last accepted state, measures the largest
// relative difference of the two results against tol, adapts h and keeps the two-half-step
// result less 0.06666666666666 times the difference. The last step lands on t1; the call ends
// at t1, after more than 1/tol steps, or when a step can no longer move the time (t + h rounds
// back to t, or is not finite): then it stops at the last accepted state.
//
// Status (set to 0 first): 1 tol not above 1e-130 (NaN included); 3 t1 not after t0 (overrides
// 1); in both cases y_out := y_in. Otherwise 2 when the step limit left the time farther than
// tol from t1, or when the call stalled short of t1. y_out is the state at the time reached.
#pragma once

#include <cstdint>

#include "engines/derivatives.h"

namespace tarvo {

// Vectors of one call. y is the last accepted state; an attempt starts from y_half = y_full = y.
struct RkQcFrame {
  SpeciesVector y, y_half, y_two, y_full, d;
};

// One attempt of size h from time t: y_half := one half step, y_two := two half steps,
// y_full := one full step, d := y_two - y_full. t becomes ((t + h/2) - h/2) + h. Returns
// errmax: the largest |d_i / y_full_i| over species with |y_full_i| > 1e-130, divided by tol.
// The rate table must be prepared.
double Attempt_rk_qc(RateTable& r, int32_t n, double h, double tol, double& t, RkQcFrame& f);

// Step-size update after an attempt with error errmax: returns true when the attempt is
// accepted, and sets h to the next step size (or, when false, to the size of the retry).
bool Update_step_rk_qc(double errmax, double& h);

void Engine_rk_qc(RateTable& r, int32_t n, double t0, double t1, double tol, const double* y_in,
                  double* y_out, int16_t& status);

}  // namespace tarvo
