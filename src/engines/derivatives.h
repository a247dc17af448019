// Split-form rates at a trial point: dy_i/dt = sum_j M_ij(t, y) y_j + b_i(t, y), with every
// M_ij and b_i a compiled formula of a model's rate table.
//
// A RateTable holds one model's derivative formulas (slot layout in engine.h), the value
// cells they were compiled against, and what Classify_rates learned of them: which formulas
// read the time or a species (varying: evaluated at every stage) and which read only
// adjustables, parameters and constants (fixed: evaluated once by Prepare_rates, since
// neither changes while an engine runs), and which columns of each row of M are filled.
// Whoever changes the formulas classifies again; whoever changes a parameter or adjustable
// cell prepares again before the next stage. Engines prepare at the start of every call.
//
// Vectors hold species 1..30 in entries 0..29 and matrices are row-major (row i-1 belongs to
// species i); only the leading n entries, or the leading n x n block, are read and written.
// n outside 0..30 is clamped into that range.
//
// Trial states never leak: every routine that evaluates formulas at (t, y) installs them (the
// fast routines: only the species the varying formulas read) into the table's cells only while
// the formulas run, and restores every saved cell afterwards,
// also when a formula raises a Failure. An output may be the same storage as an input; every
// routine reads its inputs before overwriting them. Nothing here allocates, and the results
// are bit for bit those of evaluating every formula at every stage and multiplying the whole
// n x n block.
#pragma once

#include <array>
#include <cstdint>

#include "Symbolic/cells.h"
#include "Symbolic/compil.h"
#include "Symbolic/limits.h"
#include "engines/engine.h"

namespace tarvo {

using SpeciesVector = std::array<double, kMaxSpecies>;
using SpeciesMatrix = std::array<double, kMaxSpecies * kMaxSpecies>;

// Clamps a species count into 0..30 so that no loop leaves the fixed tables.
inline int32_t SpeciesCount(int32_t n) {
  return n < 0 ? 0 : (n > kMaxSpecies ? kMaxSpecies : n);
}

struct RateTable {
  FormulaCells* cells = nullptr;             // what the formulas read; set by the owner
  compilptr formula[kDerivativeSlots] = {};  // owned by the model (released by its owner)

  // Filled by Classify_rates. Slot lists are in increasing slot order.
  int16_t varying[kDerivativeSlots] = {};
  int8_t varying_extent[kDerivativeSlots] = {};  // species count a varying slot needs in block
  int32_t varying_count = 0;
  int8_t species_read[kMaxSpecies] = {};  // species the varying formulas read, increasing
  int32_t species_read_count = 0;
  int16_t fixed[kDerivativeSlots] = {};
  int32_t fixed_count = 0;
  int8_t columns[kMaxSpecies][kMaxSpecies] = {};  // filled columns of each row, increasing
  int8_t column_count[kMaxSpecies] = {};

  // Current values: fixed slots from Prepare_rates, varying ones from the last stage, 0.0 in
  // every empty slot.
  SpeciesMatrix M = {};
  SpeciesVector b = {};
};

// Builds the slot lists from the formulas and zeroes the current values.
void Classify_rates(RateTable& r);

// Evaluates the fixed formulas of the leading n x n block and first n free terms into the
// current values.
void Prepare_rates(RateTable& r, int32_t n);

// Whether a varying formula reads a species beyond the first n (whose trial values a stage
// must then carry).
inline bool Reads_beyond(const RateTable& r, int32_t n) {
  return r.species_read_count > 0 && r.species_read[r.species_read_count - 1] >= n;
}

// The varying formulas at (t, y) into the current values.
void Eval_varying(RateTable& r, int32_t n, double t, const SpeciesVector& y);

// Row i of M x over the whole leading block, summed in increasing j (Mat_vec's sum).
inline double Dense_row(const double* row, int32_t n, const SpeciesVector& x) {
  double s = row[0] * x[0];
  for (int32_t j = 1; j < n; ++j) s = s + row[j] * x[j];
  return s;
}

// f := M x + b from the current values, M x over the filled entries only (beyond a few
// species). An empty entry adds 0.0 * x_j, which changes no sum of finite numbers except the
// sign of a zero (and that only while b_i, which is never -0, is 0): every row when some x_j
// is not finite, and for safety a row whose sum is zero, is summed over the whole block
// instead, so that the result is bit for bit Mat_vec's plus b.
// f must not be x. Each f_i is written as soon as its row is summed: a vector sum over a
// freshly stored row stalls the store forwarding. Inline, so that the engines' stages run
// without a call when no formula varies.
inline void Sparse_rates(const RateTable& r, int32_t n, const SpeciesVector& x,
                         SpeciesVector& f) {
  constexpr int32_t kDenseUpTo = 8;  // up to this many species every row is summed whole
  int finite = n <= kDenseUpTo ? 1 : -1;  // -1: not looked at yet
  for (int32_t i = 0; i < n; ++i) {
    const double* row = &r.M[kMaxSpecies * i];
    double s = 0.0;
    if (n > kDenseUpTo) {
      if (finite < 0) {
        finite = 1;
        for (int32_t j = 0; j < n; ++j) finite = finite && x[j] - x[j] == 0.0;
      }
      const int8_t* col = r.columns[i];
      const int32_t count = r.column_count[i];
      int32_t k = 0;
      if (k < count && col[k] < n) s = row[col[k]] * x[col[k]], ++k;
      for (; k < count && col[k] < n; ++k) s = s + row[col[k]] * x[col[k]];
    }
    if (n <= kDenseUpTo || !finite || s == 0.0) s = Dense_row(row, n, x);
    f[i] = s + r.b[i];
  }
}

// f := M y + b at (t, y) for a prepared table: the varying formulas are evaluated into the
// current values, then Sparse_rates.
inline void Rate_at(RateTable& r, int32_t n, double t, const SpeciesVector& y,
                    SpeciesVector& f) {
  n = SpeciesCount(n);
  if (r.varying_count != 0) Eval_varying(r, n, t, y);
  if (&f != &y) {
    Sparse_rates(r, n, y, f);
    return;
  }
  SpeciesVector out;  // y is read whole before it is overwritten
  Sparse_rates(r, n, y, out);
  for (int32_t i = 0; i < n; ++i) f[i] = out[i];
}

// J := the Jacobian of the rates at (t, y) for a prepared table, row-major in the leading
// n x n block: M at (t, y) plus, for every varying formula, its species derivatives
// (Symbolic/gradient.h) times what it multiplies (species j for a coefficient of column j, 1
// for a free term). False, with J untouched, when a varying formula is not laid out for
// differentiation. Raises what the formulas raise.
bool Jacobian_at(RateTable& r, int32_t n, double t, const SpeciesVector& y, SpeciesMatrix& J);

// b and M at (t, y) for a prepared table (the whole leading block of M, empty slots 0.0).
void Split_at(RateTable& r, int32_t n, double t, const SpeciesVector& y, SpeciesVector& b,
              SpeciesMatrix& M);

// The same values from every formula evaluated afresh (the table need not be classified):
// b_i := free-term formula i at (t, y), M_ij := coefficient formula (i, j) at (t, y).
void Eval_free_terms(RateTable& r, int32_t n, double t, const SpeciesVector& y, SpeciesVector& b);
void Eval_coefficients(RateTable& r, int32_t n, double t, const SpeciesVector& y,
                       SpeciesMatrix& M);
void Eval_split_at(RateTable& r, int32_t n, double t, const SpeciesVector& y, SpeciesVector& b,
                   SpeciesMatrix& M);
void Eval_rate_at(RateTable& r, int32_t n, double t, const SpeciesVector& y, SpeciesVector& b,
                  SpeciesMatrix& M, SpeciesVector& f);

// w_i := M_i1 v_1 + M_i2 v_2 + ... + M_in v_n, summed in increasing j.
void Mat_vec(int32_t n, const SpeciesMatrix& M, const SpeciesVector& v, SpeciesVector& w);

// f_i := (M y)_i + b_i, with M y from Mat_vec.
void Eval_rates(int32_t n, const SpeciesVector& y, const SpeciesVector& b,
                const SpeciesMatrix& M, SpeciesVector& f);

}  // namespace tarvo
