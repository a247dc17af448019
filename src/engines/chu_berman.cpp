#include "engines/chu_berman.h"

#include <cmath>

#include "engines/engine.h"

namespace tarvo {

void Phi_integrals(int32_t n, double h, const SpeciesMatrix& M0, SpeciesVector& p1,
                   SpeciesVector& p2, SpeciesVector& p3) {
  n = SpeciesCount(n);
  for (int32_t i = 0; i < n; ++i) {
    const double lambda = M0[kMaxSpecies * i + i];
    if (std::fabs(lambda) < 1e-7 || std::fabs(lambda * h) < 1e-7) {
      p1[i] = h;
      p2[i] = p1[i] * h / 2;
      p3[i] = p2[i] * h / 3;
    } else {
      p1[i] = (std::exp(lambda * h) - 1) / lambda;
      p2[i] = (p1[i] - h) / lambda;
      p3[i] = (p2[i] - h * h * 0.5) / lambda;
    }
  }
}

void Residual(RateTable& rates, int32_t n, double s, const SpeciesVector& v, const SpeciesVector& b0,
              const SpeciesMatrix& M0, SpeciesVector& r) {
  n = SpeciesCount(n);
  SpeciesMatrix M;
  SpeciesVector b, mv, m0v;
  Split_at(rates, n, s, v, b, M);
  Mat_vec(n, M, v, mv);
  Mat_vec(n, M0, v, m0v);
  for (int32_t i = 0; i < n; ++i) r[i] = mv[i] - m0v[i] + b[i] - b0[i];
}

double Attempt_chu_berman(RateTable& r, int32_t n, double t, double h, const SpeciesVector& y,
                          const StepStart& s, SpeciesVector& y_new) {
  n = SpeciesCount(n);
  const double delta = 0.1 * h;
  SpeciesVector p1, p2, p3, y_p, r1, D, y_n, r2, MD;
  Phi_integrals(n, h, s.M0, p1, p2, p3);
  y_p = y;  // species beyond n are read as they are
  for (int32_t i = 0; i < n; ++i) y_p[i] = y[i] + delta * s.f0[i];
  Residual(r, n, t + delta, y_p, s.b0, s.M0, r1);
  y_n = y;
  for (int32_t i = 0; i < n; ++i) {
    D[i] = p2[i] * (s.g0[i] + r1[i] / delta);
    y_n[i] = (y[i] + h * s.f0[i]) + D[i];
  }
  Residual(r, n, t + h, y_n, s.b0, s.M0, r2);
  Mat_vec(n, s.M0, D, MD);
  double errsum = 0.0;
  const SpeciesVector start = y;  // y_new may be y
  y_new = start;
  for (int32_t i = 0; i < n; ++i) {
    const double E = r2[i] - r1[i] / 0.1 + MD[i] - s.M0[kMaxSpecies * i + i] * D[i];
    y_new[i] = y_n[i] + p3[i] * E / (h * h);
    if (std::fabs(y_new[i]) > kTiny) errsum = errsum + std::fabs(h * E / y_new[i]);
  }
  return errsum;
}

void Engine_chu_berman(RateTable& r, int32_t n, double t0, double t1, double tol, const double* y_in,
                       double* y_out, int16_t& status) {
  n = SpeciesCount(n);
  SpeciesVector y;
  for (int k = 0; k < kMaxSpecies; ++k) y[k] = y_in[k];
  status = 0;
  // The scheme has no meaning for these (a zero first step, undefined quotients); they are
  // reported like the Runge-Kutta engines do and the state comes back unchanged.
  if (!(tol > 0)) status = kStatusTolerance;
  if (!(t1 > t0)) status = kStatusEmptyInterval;
  if (status == 0) {
    Prepare_rates(r, n);
    const double cap = ((t1 - t0) / 3) * 2;
    double h = (t1 - t0) * 0.5 * tol;
    double errsum = 0.0;
    double t = t0;
    StepStart s;
    SpeciesVector y_new;
    int64_t steps = 0;
    bool budget = false;
    for (;;) {
      if (++steps > kMaxEngineSteps) {
        budget = true;
        break;
      }
      Split_at(r, n, t, y, s.b0, s.M0);
      Eval_rates(n, y, s.b0, s.M0, s.f0);
      Mat_vec(n, s.M0, s.f0, s.g0);
      h = h * 4 * std::fabs(tol - errsum) / tol;
      if (h > cap) h = cap;
      if (t + h / 2 > t1) h = (t1 - t) * 2;
      do {
        h = h / 2;
        errsum = Attempt_chu_berman(r, n, t, h, y, s, y_new);
      } while (!(errsum < tol) && h >= kTiny && std::isfinite(h));
      const bool collapsed = h < kTiny;
      if (collapsed) status = static_cast<int16_t>(status + 1);
      const double next = t + h;
      if (!collapsed && (!(next > t) || !std::isfinite(next))) {
        // The step cannot move the time (or is not finite): counted like a collapse, and the
        // attempt is not taken, so the state stays the one at the time reached.
        status = static_cast<int16_t>(status + 1);
        break;
      }
      t = next;
      y = y_new;
      if (t >= t1 || collapsed) break;
    }
    if (budget)
      status = kStatusStepBudget;
    else if (t1 > t)
      status = static_cast<int16_t>(status + 1);
  }
  for (int k = 0; k < kMaxSpecies; ++k) y_out[k] = y[k];
}

}  // namespace tarvo
