#include "engines/external/bdf.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <exception>
#include <limits>
#include <new>

#include <cvode/cvode.h>
#include <nvector/nvector_serial.h>
#include <sundials/sundials_context.h>
#include <sunlinsol/sunlinsol_band.h>
#include <sunlinsol/sunlinsol_dense.h>
#include <sunmatrix/sunmatrix_band.h>
#include <sunmatrix/sunmatrix_dense.h>

#include "Symbolic/compiler.h"
#include "engines/external/small_vector_ops.h"
#include "engines/runge_kutta.h"

struct tarvo::EngineWork {
  EngineWork() = default;
  EngineWork(const EngineWork&) = delete;
  EngineWork& operator=(const EngineWork&) = delete;
  ~EngineWork() {
    if (cvode) CVodeFree(&cvode);
    if (solver) SUNLinSolFree(solver);
    if (matrix) SUNMatDestroy(matrix);
    if (y) N_VDestroy(y);
    if (context) SUNContext_Free(&context);
  }

  SUNContext context = nullptr;
  void* cvode = nullptr;
  N_Vector y = nullptr;
  SUNMatrix matrix = nullptr;
  SUNLinearSolver solver = nullptr;
  int32_t n = 0;  // species count the solver was made for
  // Band of the Jacobian the solver was made for: lower and upper bandwidths, or -1 for a
  // dense one.
  int32_t ml = -1, mu = -1;

  tarvo::RateTable* rates = nullptr;
  tarvo::SpeciesVector base{};  // the call's y_in: species beyond n as the rates see them
  tarvo::SpeciesVector trial{}, rate{};
  tarvo::SpeciesMatrix jacobian{};  // of a model whose formulas read species
  double scale = 1.0;               // the start values' largest magnitude (at least 1e-300)
  bool fresh = true;            // an interval was announced since the last initialisation
  double t_end = 0.0;           // the announced interval's last time
  bool announced = false;
  double last_t = 0.0, last_tol = 0.0;
  tarvo::SpeciesVector last_y{};
  bool continuable = false;     // last_t, last_y and last_tol describe the solver's state
  bool rates_not_finite = false;  // the last rate evaluation left the finite numbers
  // CVODE warned that its step no longer moves the time (t + h = t): near a singularity it
  // would go on to the step budget without advancing, so the next rate evaluation stops it.
  bool stalled = false;
  std::exception_ptr failure;     // a Failure raised by a formula inside CVODE
};

namespace tarvo {

namespace {

bool SameBits(double a, double b) { return std::bit_cast<uint64_t>(a) == std::bit_cast<uint64_t>(b); }

void Load(EngineWork& w, N_Vector v) {
  const realtype* d = N_VGetArrayPointer(v);
  w.trial = w.base;
  for (int32_t i = 0; i < w.n; ++i) w.trial[i] = d[i];
}

int Rates(realtype t, N_Vector y, N_Vector ydot, void* data) {
  EngineWork& w = *static_cast<EngineWork*>(data);
  if (w.stalled) return -1;  // unrecoverable: CVODE returns at once
  try {
    Load(w, y);
    Rate_at(*w.rates, w.n, t, w.trial, w.rate);
  } catch (...) {
    w.failure = std::current_exception();
    return -1;  // unrecoverable: CVODE returns at once
  }
  realtype* f = N_VGetArrayPointer(ydot);
  bool finite = true;
  for (int32_t i = 0; i < w.n; ++i) {
    f[i] = w.rate[i];
    finite = finite && std::isfinite(w.rate[i]);
  }
  w.rates_not_finite = !finite;
  return finite ? 0 : 1;  // recoverable: CVODE retries with a smaller step
}

// Difference quotients of the rates, column by column, into w.jacobian: for a model whose
// formulas' derivatives are not finite at (t, y) (a fractional power of a species at zero)
// or whose formulas are not laid out for differentiation.
void DifferenceJacobian(EngineWork& w, double t) {
  const int32_t n = w.n;
  tarvo::SpeciesVector f0{}, f1{};
  Rate_at(*w.rates, n, t, w.trial, f0);
  for (int32_t j = 0; j < n; ++j) {
    const double yj = w.trial[j];
    const double h =
        std::sqrt(std::numeric_limits<double>::epsilon()) * std::fmax(std::fabs(yj), w.scale);
    w.trial[j] = yj + h;
    Rate_at(*w.rates, n, t, w.trial, f1);
    w.trial[j] = yj;
    for (int32_t i = 0; i < n; ++i) w.jacobian[kMaxSpecies * i + j] = (f1[i] - f0[i]) / h;
  }
}

// J at (t, y): M itself when no formula reads a species (evaluated at t when one reads the
// time); otherwise M plus the species derivatives of the formulas (derivatives.h).
int Jacobian(realtype t, N_Vector y, N_Vector, SUNMatrix J, void* data, N_Vector, N_Vector,
             N_Vector) {
  EngineWork& w = *static_cast<EngineWork*>(data);
  const double* source = w.rates->M.data();
  try {
    if (w.rates->species_read_count != 0) {
      Load(w, y);
      bool finite = Jacobian_at(*w.rates, w.n, t, w.trial, w.jacobian);
      for (int32_t i = 0; finite && i < w.n; ++i)
        for (int32_t j = 0; j < w.n; ++j)
          finite = finite && std::isfinite(w.jacobian[kMaxSpecies * i + j]);
      if (!finite) DifferenceJacobian(w, t);
      source = w.jacobian.data();
    } else if (w.rates->varying_count != 0) {
      Load(w, y);
      Eval_varying(*w.rates, w.n, t, w.trial);
    }
  } catch (...) {
    w.failure = std::current_exception();
    return -1;
  }
  if (w.ml < 0) {
    for (int32_t j = 0; j < w.n; ++j) {
      realtype* col = SUNDenseMatrix_Column(J, j);
      for (int32_t i = 0; i < w.n; ++i) col[i] = source[kMaxSpecies * i + j];
    }
    return 0;
  }
  for (int32_t j = 0; j < w.n; ++j) {
    realtype* col = SUNBandMatrix_Column(J, j);
    const int32_t first = j - w.mu > 0 ? j - w.mu : 0;
    const int32_t last = j + w.ml < w.n - 1 ? j + w.ml : w.n - 1;
    for (int32_t i = first; i <= last; ++i)
      SM_COLUMN_ELEMENT_B(col, i, j) = source[kMaxSpecies * i + j];
  }
  return 0;
}

// The band of the Jacobian of the leading n x n block: entry (i, j) may be nonzero when the
// coefficient of species j in the rate of i has a formula, or when a formula of row i
// (coefficient or free term) reads species j. ml, mu: the largest i - j and j - i met.
void Band(const RateTable& r, int32_t n, int32_t& ml, int32_t& mu) {
  ml = mu = 0;
  auto note = [&](int32_t i, int32_t j) {
    if (i - j > ml) ml = i - j;
    if (j - i > mu) mu = j - i;
  };
  constexpr int32_t kFreeTermBase = kMaxSpecies * kMaxSpecies;
  for (int32_t slot = 0; slot < kDerivativeSlots; ++slot) {
    const compil* c = r.formula[slot];
    if (!c) continue;
    const bool free_term = slot >= kFreeTermBase;
    const int32_t i = free_term ? slot - kFreeTermBase : slot / kMaxSpecies;
    const int32_t j = free_term ? i : slot % kMaxSpecies;
    if (i >= n || j >= n) continue;
    if (!free_term) note(i, j);
    if (r.species_read_count == 0) continue;
    bool read[kMaxSpecies] = {};
    MarkSpeciesRead(c, *r.cells, read);
    for (int32_t s = 0; s < n; ++s)
      if (read[s]) note(i, s);
  }
}

// A band solver pays when the band is at most half as wide as the matrix.
bool UseBand(int32_t n, int32_t ml, int32_t mu) { return 2 * (ml + mu + 1) <= n; }

// CVODE's messages are not printed: the outcome is the status. Its only warning (no roots are
// asked for) is that the time stopped advancing.
void Silent(int code, const char*, const char*, char*, void* data) {
  if (code == CV_WARNING) static_cast<EngineWork*>(data)->stalled = true;
}

bool Make(EngineWork& w, int32_t n, int32_t ml, int32_t mu, double t0) {
  if (SUNContext_Create(nullptr, &w.context) != 0) return false;
  w.n = n;
  const bool band = UseBand(n, ml, mu);
  w.ml = band ? ml : -1;
  w.mu = band ? mu : -1;
  w.y = N_VNew_Serial(n, w.context);
  if (w.y) UseSmallVectorOps(w.y);  // before CVODE clones it
  w.matrix = band ? SUNBandMatrix(n, mu, ml, w.context) : SUNDenseMatrix(n, n, w.context);
  if (!w.y || !w.matrix) return false;
  w.solver = band ? SUNLinSol_Band(w.y, w.matrix, w.context)
                  : SUNLinSol_Dense(w.y, w.matrix, w.context);
  w.cvode = CVodeCreate(CV_BDF, w.context);
  if (!w.solver || !w.cvode) return false;
  for (int32_t i = 0; i < n; ++i) NV_Ith_S(w.y, i) = 0.0;
  return CVodeInit(w.cvode, Rates, t0, w.y) == CV_SUCCESS &&
         CVodeSetErrHandlerFn(w.cvode, Silent, &w) == CV_SUCCESS &&
         CVodeSetUserData(w.cvode, &w) == CV_SUCCESS &&
         CVodeSetLinearSolver(w.cvode, w.solver, w.matrix) == CV_SUCCESS &&
         CVodeSetMaxNumSteps(w.cvode, static_cast<long>(kMaxEngineSteps)) == CV_SUCCESS;
}

void BeginInterval(EngineWork* w, RateTable& r, int32_t, int32_t, double, double t_end) {
  w->rates = &r;
  w->fresh = true;
  w->announced = true;
  w->t_end = t_end;
}

// (Re-)initialises the solver at (t0, y_in) for a walk to t1. False when SUNDIALS could not
// be set up (memory).
bool Start(EngineWork& w, RateTable& r, int32_t n, double t0, double t1, double tol) {
  int32_t ml = 0, mu = 0;
  Band(r, n, ml, mu);
  const bool band = UseBand(n, ml, mu);
  if (w.cvode && (w.n != n || (band ? w.ml != ml || w.mu != mu : w.ml >= 0))) {
    w.~EngineWork();
    new (&w) EngineWork();
  }
  if (!w.cvode && !Make(w, n, ml, mu, t0)) return false;
  w.rates = &r;
  Prepare_rates(r, n);
  double scale = 0.0;
  for (int32_t i = 0; i < n; ++i) {
    NV_Ith_S(w.y, i) = w.base[i];
    scale = std::fmax(scale, std::fabs(w.base[i]));
  }
  if (!(scale > 0.0) || !std::isfinite(scale)) scale = 1.0;
  w.scale = std::fmax(scale, 1e-300);
  const double stop = w.announced && w.t_end >= t1 ? w.t_end : t1;
  if (CVodeReInit(w.cvode, t0, w.y) != CV_SUCCESS ||
      CVodeSStolerances(w.cvode, tol, tol * scale) != CV_SUCCESS ||
      CVodeSetStopTime(w.cvode, stop) != CV_SUCCESS ||
      CVodeSetJacFn(w.cvode, Jacobian) != CV_SUCCESS)
    return false;
  w.fresh = false;
  return true;
}

void Advance(EngineWork* wp, RateTable& r, int32_t n, double t0, double t1, double tol,
             const double* y_in, double* y_out, int16_t& status) {
  EngineWork& w = *wp;
  n = SpeciesCount(n);
  status = 0;
  SpeciesVector y;
  for (int k = 0; k < kMaxSpecies; ++k) y[k] = y_in[k];
  if (!(tol > kStepDoublingFloor)) status = kStatusTolerance;
  if (!(t1 > t0)) status = kStatusEmptyInterval;
  bool finite = true;
  for (int32_t i = 0; i < n; ++i) finite = finite && std::isfinite(y[i]);
  if (status != 0 || !finite || n == 0) {
    for (int k = 0; k < kMaxSpecies; ++k) y_out[k] = y[k];
    w.continuable = false;
    return;
  }
  bool continues = !w.fresh && w.continuable && w.rates == &r && w.n == n &&
                   SameBits(w.last_t, t0) && SameBits(w.last_tol, tol);
  for (int k = 0; continues && k < kMaxSpecies; ++k) continues = SameBits(w.last_y[k], y[k]);
  w.continuable = false;
  if (!continues) {
    w.base = y;
    if (!Start(w, r, n, t0, t1, tol)) throw std::bad_alloc();
  }
  w.failure = nullptr;
  w.rates_not_finite = false;
  w.stalled = false;
  realtype reached = t0;
  const int flag = CVode(w.cvode, t1, w.y, &reached, CV_NORMAL);
  if (w.failure) {
    w.fresh = true;
    std::rethrow_exception(w.failure);
  }
  for (int32_t i = 0; i < n; ++i) y[i] = NV_Ith_S(w.y, i);
  if (flag >= 0) {
    w.continuable = true;
    w.last_t = t1;
    w.last_tol = tol;
    w.last_y = y;
  } else if (flag == CV_TOO_MUCH_WORK) {
    status = kStatusStepBudget;
  } else {
    status = kStatusNotReached;
    // CVODE reports the rates' failure as such or as failed Newton iterations (a recoverable
    // rate error counts as one): either way, the last rate it asked for was not finite.
    if (w.rates_not_finite)
      for (int32_t i = 0; i < n; ++i)
        if (!std::isfinite(w.rate[i])) y[i] = w.rate[i];
  }
  // After a failure CVODE's vector holds the state at `reached`: the next call starts afresh.
  for (int k = 0; k < kMaxSpecies; ++k) y_out[k] = y[k];
}

EngineWork* Create() { return new (std::nothrow) EngineWork(); }
void Destroy(EngineWork* w) { delete w; }

std::string Suitable(const RateTable&, const FormulaCells&, int32_t, const Text*) { return ""; }

}  // namespace

ExternalMethod BdfMethod() {
  return {u"BDF", Suitable, Create, Destroy, BeginInterval, Advance};
}

}  // namespace tarvo
