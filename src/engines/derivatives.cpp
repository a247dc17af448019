#include "engines/derivatives.h"

#include <cmath>

#include "Symbolic/cells.h"
#include "Symbolic/compil.h"
#include "Symbolic/compiler.h"
#include "Symbolic/gradient.h"
#include "engines/engine.h"

namespace tarvo {

namespace {

constexpr int kFreeTermBase = kMaxSpecies * kMaxSpecies;

// Installs a trial (t, y) into the formula cells for the lifetime of the object and puts the
// saved cells back when it ends, also while a Failure raised by Evaluate unwinds.
class TrialState {
 public:
  TrialState(FormulaCells& cells, double t, const SpeciesVector& y)
      : cells_(cells), saved_time_(cells.time) {
    for (int k = 0; k < kMaxSpecies; ++k) saved_species_[k] = cells.species[k];
    // y may be the species-value vector itself: it is read after the save, entry by entry.
    for (int k = 0; k < kMaxSpecies; ++k) cells.species[k] = y[k];
    cells.time = t;
  }
  ~TrialState() {
    for (int k = 0; k < kMaxSpecies; ++k) cells_.species[k] = saved_species_[k];
    cells_.time = saved_time_;
  }
  TrialState(const TrialState&) = delete;
  TrialState& operator=(const TrialState&) = delete;

 private:
  FormulaCells& cells_;
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

void FreeTermsInstalled(const RateTable& r, int32_t n, SpeciesVector& b) {
  for (int32_t i = 0; i < n; ++i) b[i] = ValueOf(r.formula[kFreeTermBase + i]);
}

void CoefficientsInstalled(const RateTable& r, int32_t n, SpeciesMatrix& M) {
  for (int32_t i = 0; i < n; ++i) {
    const int row = kMaxSpecies * i;
    for (int32_t j = 0; j < n; ++j) M[row + j] = ValueOf(r.formula[row + j]);
  }
}

// Whether slot lies in the leading n x n block of M or among the first n free terms.
inline bool InBlock(int32_t slot, int32_t n) {
  if (slot >= kFreeTermBase) return slot - kFreeTermBase < n;
  return slot / kMaxSpecies < n && slot % kMaxSpecies < n;
}

inline double& ValueCell(RateTable& r, int32_t slot) {
  return slot >= kFreeTermBase ? r.b[slot - kFreeTermBase] : r.M[slot];
}

// The varying formulas at (t, y) into the current values.
// TrialState for the species the varying formulas read: the only cells they can see.
class ReadTrialState {
 public:
  ReadTrialState(const RateTable& r, double t, const SpeciesVector& y)
      : r_(r), saved_time_(r.cells->time) {
    double* species = r.cells->species;
    for (int32_t k = 0; k < r.species_read_count; ++k) {
      const int i = r.species_read[k];
      saved_[k] = species[i];
      species[i] = y[i];
    }
    r.cells->time = t;
  }
  ~ReadTrialState() {
    double* species = r_.cells->species;
    for (int32_t k = 0; k < r_.species_read_count; ++k) species[r_.species_read[k]] = saved_[k];
    r_.cells->time = saved_time_;
  }
  ReadTrialState(const ReadTrialState&) = delete;
  ReadTrialState& operator=(const ReadTrialState&) = delete;

 private:
  const RateTable& r_;
  double saved_[kMaxSpecies];
  double saved_time_;
};


}  // namespace

void Classify_rates(RateTable& r) {
  r.varying_count = 0;
  r.fixed_count = 0;
  for (int8_t& c : r.column_count) c = 0;
  r.M.fill(0.0);
  r.b.fill(0.0);
  bool read[kMaxSpecies] = {};
  for (int32_t slot = 0; slot < kDerivativeSlots; ++slot) {
    const compil* c = r.formula[slot];
    if (!c) continue;
    if (r.cells && ReadsTimeOrSpecies(c, *r.cells)) {
      const int32_t i = slot < kFreeTermBase ? slot / kMaxSpecies : slot - kFreeTermBase;
      const int32_t j = slot < kFreeTermBase ? slot % kMaxSpecies : 0;
      r.varying_extent[r.varying_count] = static_cast<int8_t>((i > j ? i : j) + 1);
      r.varying[r.varying_count++] = static_cast<int16_t>(slot);
      MarkSpeciesRead(c, *r.cells, read);
    } else
      r.fixed[r.fixed_count++] = static_cast<int16_t>(slot);
    if (slot < kFreeTermBase) {
      const int32_t i = slot / kMaxSpecies;
      r.columns[i][r.column_count[i]++] = static_cast<int8_t>(slot % kMaxSpecies);
    }
  }
  r.species_read_count = 0;
  for (int32_t i = 0; i < kMaxSpecies; ++i)
    if (read[i]) r.species_read[r.species_read_count++] = static_cast<int8_t>(i);
}

void Eval_varying(RateTable& r, int32_t n, double t, const SpeciesVector& y) {
  n = SpeciesCount(n);
  if (r.varying_count == 0) return;
  ReadTrialState trial(r, t, y);
  for (int32_t k = 0; k < r.varying_count; ++k) {
    const int32_t slot = r.varying[k];
    if (r.varying_extent[k] <= n) ValueCell(r, slot) = ValueOfFilled(r.formula[slot]);
  }
}

bool Jacobian_at(RateTable& r, int32_t n, double t, const SpeciesVector& y, SpeciesMatrix& J) {
  n = SpeciesCount(n);
  for (int32_t k = 0; k < r.varying_count; ++k)
    if (r.varying_extent[k] <= n && !Differentiable(r.formula[r.varying[k]])) return false;
  SpeciesMatrix value = r.M;  // the fixed entries; the varying ones follow at (t, y)
  SpeciesMatrix by_species{};  // what the varying formulas' derivatives add
  double gradient[kMaxSpecies];
  {
    ReadTrialState trial(r, t, y);
    for (int32_t k = 0; k < r.varying_count; ++k) {
      if (r.varying_extent[k] > n) continue;
      const int32_t slot = r.varying[k];
      const double v = EvaluateGradient(r.formula[slot], *r.cells, n, gradient);
      const bool free_term = slot >= kFreeTermBase;
      const int32_t i = free_term ? slot - kFreeTermBase : slot / kMaxSpecies;
      const double times = free_term ? 1.0 : y[slot % kMaxSpecies];
      if (!free_term) value[slot] = v;
      double* row = &by_species[kMaxSpecies * i];
      for (int32_t s = 0; s < n; ++s) row[s] += gradient[s] * times;
    }
  }
  for (int32_t i = 0; i < n; ++i)
    for (int32_t j = 0; j < n; ++j) {
      const int32_t at = kMaxSpecies * i + j;
      J[at] = value[at] + by_species[at];
    }
  return true;
}

void Prepare_rates(RateTable& r, int32_t n) {
  n = SpeciesCount(n);
  for (int32_t k = 0; k < r.fixed_count; ++k) {
    const int32_t slot = r.fixed[k];
    if (InBlock(slot, n)) ValueCell(r, slot) = ValueOfFilled(r.formula[slot]);
  }
}


void Split_at(RateTable& r, int32_t n, double t, const SpeciesVector& y, SpeciesVector& b,
              SpeciesMatrix& M) {
  n = SpeciesCount(n);
  Eval_varying(r, n, t, y);
  for (int32_t i = 0; i < n; ++i) {
    b[i] = r.b[i];
    const int row = kMaxSpecies * i;
    for (int32_t j = 0; j < n; ++j) M[row + j] = r.M[row + j];
  }
}

void Eval_free_terms(RateTable& r, int32_t n, double t, const SpeciesVector& y,
                     SpeciesVector& b) {
  n = SpeciesCount(n);
  TrialState trial(*r.cells, t, y);
  FreeTermsInstalled(r, n, b);
}

void Eval_coefficients(RateTable& r, int32_t n, double t, const SpeciesVector& y,
                       SpeciesMatrix& M) {
  n = SpeciesCount(n);
  TrialState trial(*r.cells, t, y);
  CoefficientsInstalled(r, n, M);
}

void Mat_vec(int32_t n, const SpeciesMatrix& M, const SpeciesVector& v, SpeciesVector& w) {
  n = SpeciesCount(n);
  if (n == 0) return;
  const SpeciesVector x = v;  // w may be v
  for (int32_t i = 0; i < n; ++i) w[i] = Dense_row(&M[kMaxSpecies * i], n, x);
}

void Eval_rates(int32_t n, const SpeciesVector& y, const SpeciesVector& b,
                const SpeciesMatrix& M, SpeciesVector& f) {
  n = SpeciesCount(n);
  SpeciesVector my;
  Mat_vec(n, M, y, my);
  for (int32_t i = 0; i < n; ++i) f[i] = my[i] + b[i];
}

void Eval_split_at(RateTable& r, int32_t n, double t, const SpeciesVector& y, SpeciesVector& b,
                   SpeciesMatrix& M) {
  n = SpeciesCount(n);
  TrialState trial(*r.cells, t, y);
  FreeTermsInstalled(r, n, b);
  CoefficientsInstalled(r, n, M);
}

void Eval_rate_at(RateTable& r, int32_t n, double t, const SpeciesVector& y, SpeciesVector& b,
                  SpeciesMatrix& M, SpeciesVector& f) {
  const SpeciesVector z = y;  // f or b may be y
  Eval_split_at(r, n, t, z, b, M);
  Eval_rates(n, z, b, M, f);
}

}  // namespace tarvo
