// "CHU-BERMAN" (Engine_chu_berman): a one-step exponential scheme on the split-form rates.
// Each step evaluates M0, b0, f0 = M0 y + b0 and g0 = M0 f0 at its start, integrates the
// diagonal coefficient of every species exactly through exponential integrals (so that
// dy/dt = lambda y advances by exp(lambda h) whatever lambda), corrects for the change of M
// and b over the step with two residual evaluations, and halves the step until the summed
// relative third-order correction falls below tol.
//
// Status (set to 0 first):
//   1  tol not above 0 (NaN included);  3  t1 not after t0 (NaN times included, overrides 1);
//      no step is taken and y_out := y_in.
//   Otherwise +1 when the step collapsed below 1e-130 (the tiny attempt is taken) or can no
//   longer move the time (that attempt is not taken), and +1 when t1 is still ahead at the end:
//   2 for a stop before t1. y_out is the state at the time reached.
#pragma once

#include <cstdint>

#include "engines/derivatives.h"

namespace tarvo {

// Values at the start of a step, kept by every attempt of that step.
struct StepStart {
  SpeciesMatrix M0;
  SpeciesVector b0, f0, g0;
};

// Exponential integrals over h of each species' diagonal coefficient lambda = M0_ii:
// p1 = (e^(lambda h) - 1)/lambda, p2 = (p1 - h)/lambda, p3 = (p2 - h^2/2)/lambda, or the series
// values h, h^2/2, h^3/6 when |lambda| < 1e-7 or |lambda h| < 1e-7.
void Phi_integrals(int32_t n, double h, const SpeciesMatrix& M0, SpeciesVector& p1,
                   SpeciesVector& p2, SpeciesVector& p3);

// r := M' v - M0 v + b' - b0 with M', b' evaluated at (s, v): the part of the rate at (s, v)
// that the step-start linear model misses.
void Residual(RateTable& rates, int32_t n, double s, const SpeciesVector& v, const SpeciesVector& b0,
              const SpeciesMatrix& M0, SpeciesVector& r);

// One attempt of size h from (t, y): writes y_new and returns the error sum.
// The rate table must be prepared (derivatives.h).
double Attempt_chu_berman(RateTable& r, int32_t n, double t, double h, const SpeciesVector& y,
                          const StepStart& s, SpeciesVector& y_new);

void Engine_chu_berman(RateTable& r, int32_t n, double t0, double t1, double tol, const double* y_in,
                       double* y_out, int16_t& status);

}  // namespace tarvo
