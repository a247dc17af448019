#include "engines/derivatives.h"

#include "Symbolic/cells.h"
#include "Symbolic/compil.h"
#include "engines/engine.h"

namespace tarvo {

compilptr g_derivatives[kDerivativeSlots] = {};

namespace {

constexpr int kFreeTermBase = kMaxSpecies * kMaxSpecies;

// Installs a trial (t, y) into the live formula cells for the lifetime of the object and puts
// the saved cells back when it ends, also while a Failure raised by Evaluate unwinds.
class TrialState {
 public:
  TrialState(double t, const SpeciesVector& y) : saved_time_(g_cells.time) {
    for (int k = 0; k < kMaxSpecies; ++k) saved_species_[k] = g_cells.species[k];
    // y may be the species-value vector itself: it is read after the save, entry by entry.
    for (int k = 0; k < kMaxSpecies; ++k) g_cells.species[k] = y[k];
    g_cells.time = t;
  }
  ~TrialState() {
    for (int k = 0; k < kMaxSpecies; ++k) g_cells.species[k] = saved_species_[k];
    g_cells.time = saved_time_;
  }
  TrialState(const TrialState&) = delete;
  TrialState& operator=(const TrialState&) = delete;

 private:
  double saved_species_[kMaxSpecies];
  double saved_time_;
};

inline double ValueOf(compilptr c) { return c ? Evaluate(c) : 0.0; }

void FreeTermsInstalled(int32_t n, SpeciesVector& b) {
  for (int32_t i = 0; i < n; ++i) b[i] = ValueOf(g_derivatives[kFreeTermBase + i]);
}

void CoefficientsInstalled(int32_t n, SpeciesMatrix& M) {
  for (int32_t i = 0; i < n; ++i) {
    const int row = kMaxSpecies * i;
    for (int32_t j = 0; j < n; ++j) M[row + j] = ValueOf(g_derivatives[row + j]);
  }
}

}  // namespace

void Eval_free_terms(int32_t n, double t, const SpeciesVector& y, SpeciesVector& b) {
  n = SpeciesCount(n);
  TrialState trial(t, y);
  FreeTermsInstalled(n, b);
}

void Eval_coefficients(int32_t n, double t, const SpeciesVector& y, SpeciesMatrix& M) {
  n = SpeciesCount(n);
  TrialState trial(t, y);
  CoefficientsInstalled(n, M);
}

void Mat_vec(int32_t n, const SpeciesMatrix& M, const SpeciesVector& v, SpeciesVector& w) {
  n = SpeciesCount(n);
  if (n == 0) return;
  const SpeciesVector x = v;  // w may be v
  for (int32_t i = 0; i < n; ++i) {
    const double* row = &M[kMaxSpecies * i];
    double s = row[0] * x[0];
    for (int32_t j = 1; j < n; ++j) s = s + row[j] * x[j];
    w[i] = s;
  }
}

void Eval_rates(int32_t n, const SpeciesVector& y, const SpeciesVector& b,
                const SpeciesMatrix& M, SpeciesVector& f) {
  n = SpeciesCount(n);
  SpeciesVector my;
  Mat_vec(n, M, y, my);
  for (int32_t i = 0; i < n; ++i) f[i] = my[i] + b[i];
}

void Eval_split_at(int32_t n, double t, const SpeciesVector& y, SpeciesVector& b,
                   SpeciesMatrix& M) {
  n = SpeciesCount(n);
  TrialState trial(t, y);
  FreeTermsInstalled(n, b);
  CoefficientsInstalled(n, M);
}

void Eval_rate_at(int32_t n, double t, const SpeciesVector& y, SpeciesVector& b,
                  SpeciesMatrix& M, SpeciesVector& f) {
  const SpeciesVector z = y;  // f or b may be y
  Eval_split_at(n, t, z, b, M);
  Eval_rates(n, z, b, M, f);
}

}  // namespace tarvo
