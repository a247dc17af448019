// Dense linear solvers of the fit, on fixed 50 x 50 systems of which the leading n x n block
// takes part.
//
// Resolution solves A x = b by Gaussian elimination with partial pivoting (the uppermost row
// wins among equal magnitudes) and back substitution. Inversion inverts A by Gauss-Jordan
// elimination, exchanging rows only when a diagonal entry vanishes. Both work on copies in
// their own frame (no heap): the caller's A and b are never modified; only the output and the
// returned code are written. Indices here are 0-based (entry i-1 holds index i).
//
// Codes (0 = success):
//   1  n < 1 (no free adjustable) or n > 50 (no such system); the output is not written
//   2  Resolution: n = 1 and |A(1,1)| < 1e-130
//      Inversion: n = 1 and |A(1,1)| < 1e-130, or a vanishing diagonal with no usable row
//      beneath it; Inv then holds a partial result that must not be used
//   3  Resolution: column k has nothing at or above 1e-130 from row k down and no exchange
//      happened; x is not written
//   4  Resolution: the last diagonal entry after elimination is below 1e-130 (replaces 3)
#pragma once

#include <cstdint>

#include "Symbolic/limits.h"

namespace tarvo {

inline constexpr int kFitOrder = kMaxAdjustables;

// The codes above, by name.
inline constexpr int32_t kSolverNoSystem = 1;
inline constexpr int32_t kSolverSingularOne = 2;  // Inversion: also no usable row to exchange
inline constexpr int32_t kSolverNoPivot = 3;
inline constexpr int32_t kSolverLastPivot = 4;

struct FitMatrix {
  double a[kFitOrder][kFitOrder];  // row-major: a[row][column]
};

struct FitVector {
  double v[kFitOrder];
};

int32_t Resolution(int32_t n, const FitMatrix& A, const FitVector& b, FitVector& x);
int32_t Inversion(int32_t n, const FitMatrix& A, FitMatrix& Inv);

}  // namespace tarvo
