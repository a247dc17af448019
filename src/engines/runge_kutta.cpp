#include "engines/runge_kutta.h"

#include <cmath>

namespace tarvo {

void Engine_start(double t0, double t1, double tol, double floor, const double* y_in,
                  int16_t& status, double& t, double& h, SpeciesVector& y) {
  status = 0;
  if (!(tol > floor)) status = kStatusTolerance;  // "not above": a NaN tolerance included
  if (!(t1 > t0)) status = kStatusEmptyInterval;  // likewise for NaN times
  t = t0;
  for (int k = 0; k < kMaxSpecies; ++k) y[k] = y_in[k];
  if (status == 0) h = (t1 - t0) * std::sqrt(tol);
}

namespace {

// k := h * rate at (t, z).
void Stage(RateTable& r, int32_t n, double h, double t, const SpeciesVector& z,
           SpeciesVector& k) {
  Rate_at(r, n, t, z, k);
  for (int32_t i = 0; i < n; ++i) k[i] = h * k[i];
}

using StepProc = void (*)(RateTable&, int32_t, double, double, SpeciesVector&);

// The shared driver: fixed steps until the accumulated time is no longer below t1.
void FixedStepDriver(StepProc step, RateTable& r, int32_t n, double t0, double t1, double tol,
                     const double* y_in, double* y_out, int16_t& status) {
  n = SpeciesCount(n);
  double t = 0.0, h = 0.0;
  SpeciesVector y;
  Engine_start(t0, t1, tol, kFixedStepFloor, y_in, status, t, h, y);
  if (status != 0) return;
  Prepare_rates(r, n);
  int64_t steps = 0;
  while (t1 > t) {
    if (++steps > kMaxEngineSteps) {
      status = kStatusStepBudget;
      break;
    }
    const double next = t + h;
    // A step that cannot move the time (h below half an ulp of t, or NaN) would repeat
    // forever, and an infinite one leaves no usable state: stop at the time reached instead.
    if (!(next > t) || !std::isfinite(next)) {
      status = kStatusNotReached;
      break;
    }
    step(r, n, h, t, y);
    t = next;
  }
  for (int k = 0; k < kMaxSpecies; ++k) y_out[k] = y[k];
}

// f := M z + b from the table's current values with the species count known to the
// compiler: Sparse_rates' dense rows for up to eight species, the same products and sums in
// the same order.
template <int N>
inline void DenseRates(const RateTable& r, const double* z, double* f) {
  for (int i = 0; i < N; ++i) {
    const double* row = &r.M[kMaxSpecies * i];
    double s = row[0] * z[0];
    for (int j = 1; j < N; ++j) s = s + row[j] * z[j];
    f[i] = s + r.b[i];
  }
}

// Step_rk4_with on Rate_at, unrolled for a model of N species (most models are small; their
// stages cost a few dozen operations, which the loops over a run-time count had tripled).
// Varying: some formula reads the time or a species and is evaluated at every stage.
template <int N, bool Varying>
void Step_rk4_small(RateTable& r, double h, double t, SpeciesVector& y) {
  auto rate = [&r](double s, const SpeciesVector& z, SpeciesVector& f) {
    if (Varying) Eval_varying(r, N, s, z);
    DenseRates<N>(r, z.data(), f.data());
  };
  Step_rk4_with<N>(N, h, t, y, rate, Varying && Reads_beyond(r, N));
}

template <int N>
void Step_rk4_sized(RateTable& r, double h, double t, SpeciesVector& y) {
  if (r.varying_count != 0)
    Step_rk4_small<N, true>(r, h, t, y);
  else
    Step_rk4_small<N, false>(r, h, t, y);
}

// The unrolled step for one to eight species; false for any other count.
bool Step_rk4_unrolled(RateTable& r, int32_t n, double h, double t, SpeciesVector& y) {
  switch (n) {
    case 1: Step_rk4_sized<1>(r, h, t, y); return true;
    case 2: Step_rk4_sized<2>(r, h, t, y); return true;
    case 3: Step_rk4_sized<3>(r, h, t, y); return true;
    case 4: Step_rk4_sized<4>(r, h, t, y); return true;
    case 5: Step_rk4_sized<5>(r, h, t, y); return true;
    case 6: Step_rk4_sized<6>(r, h, t, y); return true;
    case 7: Step_rk4_sized<7>(r, h, t, y); return true;
    case 8: Step_rk4_sized<8>(r, h, t, y); return true;
    default: return false;
  }
}

}  // namespace

void Step_rk4(RateTable& r, int32_t n, double h, double t, SpeciesVector& y) {
  n = SpeciesCount(n);
  if (Step_rk4_unrolled(r, n, h, t, y)) return;
  Step_rk4_with(
      n, h, t, y, [n, &r](double s, const SpeciesVector& z, SpeciesVector& f) { Rate_at(r, n, s, z, f); },
      Reads_beyond(r, n));
}

void Step_rkf(RateTable& r, int32_t n, double h, double t, SpeciesVector& y) {
  n = SpeciesCount(n);
  SpeciesVector k1, k2, k3, k4, k5;
  SpeciesVector z = y;  // species beyond n keep the values of y
  Stage(r, n, h, t, y, k1);
  for (int32_t i = 0; i < n; ++i) z[i] = y[i] + k1[i] * 0.25;
  Stage(r, n, h, t + h * 0.25, z, k2);
  for (int32_t i = 0; i < n; ++i) z[i] = y[i] + (k1[i] * 3 + k2[i] * 9) / 32;
  Stage(r, n, h, t + h * 3 / 8, z, k3);
  for (int32_t i = 0; i < n; ++i)
    z[i] = y[i] + (k1[i] * 1932 - k2[i] * 7200 + k3[i] * 7296) / 2197;
  Stage(r, n, h, t + h * 12 / 13, z, k4);
  for (int32_t i = 0; i < n; ++i)
    z[i] = y[i] + (k1[i] * 8341 - k2[i] * 32832 + k3[i] * 29440 - k4[i] * 845) / 4104;
  Stage(r, n, h, t + h, z, k5);
  for (int32_t i = 0; i < n; ++i)
    y[i] = y[i] + (k1[i] * 2375 + k3[i] * 11264 + k4[i] * 10985 - k5[i] * 4104) / 20520;
}

void Engine_rk4(RateTable& r, int32_t n, double t0, double t1, double tol, const double* y_in, double* y_out,
                int16_t& status) {
  FixedStepDriver(Step_rk4, r, n, t0, t1, tol, y_in, y_out, status);
}

void Engine_rk5(RateTable& r, int32_t n, double t0, double t1, double tol, const double* y_in, double* y_out,
                int16_t& status) {
  FixedStepDriver(Step_rkf, r, n, t0, t1, tol, y_in, y_out, status);
}

}  // namespace tarvo
