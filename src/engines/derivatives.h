// Split-form rates at a trial point: dy_i/dt = sum_j M_ij(t, y) y_j + b_i(t, y), with every
// M_ij and b_i a compiled formula of the derivative formula table (engine.h).
//
// Vectors hold species 1..30 in entries 0..29 and matrices are row-major (row i-1 belongs to
// species i); only the leading n entries, or the leading n x n block, are read and written.
// n outside 0..30 is clamped into that range.
//
// Trial states never leak: Eval_free_terms, Eval_coefficients and Eval_rate_at install (t, y)
// into the live time variable and species-value vector only while the formulas run, and
// restore every saved cell afterwards, also when a formula raises a Failure. An output may be
// the same storage as an input; every routine reads its inputs before overwriting them.
// Nothing here allocates.
#pragma once

#include <array>
#include <cstdint>

#include "Symbolic/limits.h"

namespace tarvo {

using SpeciesVector = std::array<double, kMaxSpecies>;
using SpeciesMatrix = std::array<double, kMaxSpecies * kMaxSpecies>;

// Clamps a species count into 0..30 so that no loop leaves the fixed tables.
inline int32_t SpeciesCount(int32_t n) {
  return n < 0 ? 0 : (n > kMaxSpecies ? kMaxSpecies : n);
}

// b_i := free-term formula i at (t, y); an empty slot gives 0.0.
void Eval_free_terms(int32_t n, double t, const SpeciesVector& y, SpeciesVector& b);

// M_ij := coefficient formula (i, j) at (t, y), row by row; an empty slot gives 0.0.
void Eval_coefficients(int32_t n, double t, const SpeciesVector& y, SpeciesMatrix& M);

// w_i := M_i1 v_1 + M_i2 v_2 + ... + M_in v_n, summed in increasing j.
void Mat_vec(int32_t n, const SpeciesMatrix& M, const SpeciesVector& v, SpeciesVector& w);

// f_i := (M y)_i + b_i, with M y from Mat_vec.
void Eval_rates(int32_t n, const SpeciesVector& y, const SpeciesVector& b,
                const SpeciesMatrix& M, SpeciesVector& f);

// Free terms into b and coefficients into M at (t, y), under one trial install: the same
// values as Eval_free_terms then Eval_coefficients.
void Eval_split_at(int32_t n, double t, const SpeciesVector& y, SpeciesVector& b,
                   SpeciesMatrix& M);

// The rate at (t, y): Eval_split_at, then f := M y + b by Eval_rates.
void Eval_rate_at(int32_t n, double t, const SpeciesVector& y, SpeciesVector& b,
                  SpeciesMatrix& M, SpeciesVector& f);

}  // namespace tarvo
