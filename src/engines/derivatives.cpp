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

// Most coefficients compile to a rate constant, its negation, or one of those times further
// cells (first-slot load, then multiplications). Such a program is run here without the call
// into Evaluate, with Evaluate's exact arithmetic: R1 := R0 or 0 - R0, then R1 := R0 * R1 per
// multiplication, value R2 + R1 with R2 = 0 (so -0.0 comes out as +0.0, as Evaluate gives).
// Any other program, or a slot count outside 1..kMaxSlots, goes to Evaluate. Kept out of line:
// inlined into the scan over the table it slowed the sparse models down.
[[gnu::noinline]] double ValueOfFilled(compilptr c) {
  const int32_t stop = c->stop;
  if (stop < 1 || stop > kMaxSlots) return Evaluate(c);
  const Op first = c->fonction[0];
  if (first != Op_First && first != Op_FirstNeg) return Evaluate(c);
  for (int32_t k = 1; k < stop; ++k)
    if (c->fonction[k] != Op_Mul) return Evaluate(c);
  // Picked from a pair rather than by a branch: models mix both signs, which defeats
  // branch prediction.
  const double r0 = *c->donnee[0].cell;
  const double signed_r0[2] = {r0, 0.0 - r0};
  double r1 = signed_r0[first == Op_FirstNeg];
  for (int32_t k = 1; k < stop; ++k) r1 = *c->donnee[k].cell * r1;
  return 0.0 + r1;
}

inline double ValueOf(compilptr c) { return c ? ValueOfFilled(c) : 0.0; }

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
