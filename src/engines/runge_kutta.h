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
#include "engines/engine.h"

namespace tarvo {

// Tolerance floors of Engine_start.
inline constexpr double kFixedStepFloor = 0.0;
inline constexpr double kStepDoublingFloor = 1e-130;

// Sets status (0, 1 when tol is not above floor, 3 when t1 is not after t0), t := t0 and
// y := y_in (all 30 entries); h := (t1 - t0) sqrt(tol) only when status is 0.
void Engine_start(double t0, double t1, double tol, double floor, const double* y_in,
                  int16_t& status, double& t, double& h, SpeciesVector& y);

// Advance y from t to t + h in place (species 1..n).
// The rate table must be prepared (derivatives.h).
void Step_rk4(RateTable& r, int32_t n, double h, double t, SpeciesVector& y);
void Step_rkf(RateTable& r, int32_t n, double h, double t, SpeciesVector& y);

// The classical fourth-order step with the rate supplied by rate(s, z, f), f := rate at (s, z)
// for species 1..n. Step_rk4 is this step on the compiled formulas; the template exists so
// that another rate routine (a hand-written one, to measure the formulas' cost) runs the very
// same arithmetic. The trial state z is rebuilt from y for every stage; species beyond n keep
// the values of y, unless the caller knows the rate never reads them (read_beyond_n false).
// A count N above 0 given as the template argument stands for n and is known to the compiler,
// which then unrolls the loops (runge_kutta.cpp does so for small models).
template <int N = 0, class Rate>
void Step_rk4_with(int32_t count, double h, double t, SpeciesVector& y, Rate&& rate,
                   bool read_beyond_n = true) {
  const int32_t n = N > 0 ? N : SpeciesCount(count);
  SpeciesVector k1, k2, k3, k4, z;
  if (read_beyond_n) z = y;
  rate(t, y, k1);
  for (int32_t i = 0; i < n; ++i) k1[i] = h * k1[i];
  for (int32_t i = 0; i < n; ++i) z[i] = y[i] + k1[i] * 0.5;
  rate(t + h * 0.5, z, k2);
  for (int32_t i = 0; i < n; ++i) k2[i] = h * k2[i];
  for (int32_t i = 0; i < n; ++i) z[i] = y[i] + k2[i] * 0.5;
  rate(t + h * 0.5, z, k3);
  for (int32_t i = 0; i < n; ++i) k3[i] = h * k3[i];
  for (int32_t i = 0; i < n; ++i) z[i] = y[i] + k3[i];
  rate(t + h, z, k4);
  for (int32_t i = 0; i < n; ++i) k4[i] = h * k4[i];
  for (int32_t i = 0; i < n; ++i) y[i] = y[i] + (k1[i] + k2[i] * 2 + k3[i] * 2 + k4[i]) / 6;
}

void Engine_rk4(RateTable& r, int32_t n, double t0, double t1, double tol, const double* y_in, double* y_out,
                int16_t& status);
void Engine_rk5(RateTable& r, int32_t n, double t0, double t1, double tol, const double* y_in, double* y_out,
                int16_t& status);

}  // namespace tarvo
