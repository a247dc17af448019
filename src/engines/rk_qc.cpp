#include "engines/rk_qc.h"

#include <cmath>

#include "engines/runge_kutta.h"

namespace tarvo {

double Attempt_rk_qc(RateTable& r, int32_t n, double h, double tol, double& t, RkQcFrame& f) {
  n = SpeciesCount(n);
  Step_rk4(r, n, h / 2, t, f.y_half);
  t = t + h / 2;
  f.y_two = f.y_half;
  Step_rk4(r, n, h / 2, t, f.y_two);
  t = t - h / 2;
  Step_rk4(r, n, h, t, f.y_full);
  t = t + h;
  double errmax = 0.0;
  for (int32_t i = 0; i < n; ++i) {
    f.d[i] = f.y_two[i] - f.y_full[i];
    if (std::fabs(f.y_full[i]) > kTiny) {
      const double e = std::fabs(f.d[i] / f.y_full[i]);
      if (e > errmax) errmax = e;
    }
  }
  return errmax / tol;
}

bool Update_step_rk_qc(double errmax, double& h) {
  if (errmax <= 1) {
    if (errmax > 0.0006)
      h = 0.9 * h * std::exp(-0.2 * std::log(errmax));
    else
      h = 4 * h;
    return true;
  }
  const double s = 0.9 * h * std::exp(-0.25 * std::log(errmax));
  if (s >= 0.1 * h) {  // errmax <= 6561: accepted, error and all
    h = 0.1 * h;
    return true;
  }
  h = s;
  return false;
}

void Engine_rk_qc(RateTable& r, int32_t n, double t0, double t1, double tol, const double* y_in,
                  double* y_out, int16_t& status) {
  n = SpeciesCount(n);
  RkQcFrame f;
  double t = 0.0, h = 0.0;
  Engine_start(t0, t1, tol, kStepDoublingFloor, y_in, status, t, h, f.y);
  if (status == 0) {
    Prepare_rates(r, n);
    f.y_half = f.y;
    f.y_full = f.y;
    const double limit = 1.0 / tol;
    int64_t steps = 0;  // 64 bits: the limit 1/tol may exceed the 32-bit range
    bool stalled = false;
    bool budget = false;
    for (;;) {
      ++steps;
      const double t_accepted = t;
      bool accepted = false;
      while (!accepted) {
        // A step that cannot move the time would never reach t1, and an infinite one leaves
        // no usable state: stop at the last accepted state.
        const double next = t_accepted + h;
        if (!(next > t_accepted) || !std::isfinite(next)) break;
        t = t_accepted;
        accepted = Update_step_rk_qc(Attempt_rk_qc(r, n, h, tol, t, f), h);
        if (!accepted) {
          // A severe failure is retried with the smaller step from the last accepted state
          // and its time; the failed attempt's vectors are discarded.
          t = t_accepted;
          f.y_half = f.y;
          f.y_full = f.y;
        }
      }
      if (!accepted) {
        stalled = true;
        break;
      }
      for (int32_t i = 0; i < n; ++i) {
        f.y[i] = f.y_two[i] - f.d[i] * 0.06666666666666;
        f.y_full[i] = f.y[i];
        f.y_half[i] = f.y[i];
      }
      if (t + h > t1) h = t1 - t;
      if (t >= t1) break;
      if (!(t > t_accepted)) {  // the accepted attempt left the time where it was
        stalled = true;
        break;
      }
      if (static_cast<double>(steps) > limit) break;
      if (steps >= kMaxEngineSteps) {
        budget = true;
        break;
      }
    }
    // A stalled call reports the end time as not reached whatever the tolerance (an infinite
    // one included); the step limit reports it only beyond tol.
    const bool short_of_end = stalled ? t1 > t : std::fabs(t - t1) > tol;
    if (budget && t1 > t)
      status = kStatusStepBudget;
    else if (short_of_end)
      status = static_cast<int16_t>(status + kStatusNotReached);
  }
  for (int k = 0; k < kMaxSpecies; ++k) y_out[k] = f.y[k];
}

}  // namespace tarvo
