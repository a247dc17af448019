#include "fitting/solvers.h"

#include <cmath>
#include <utility>

namespace tarvo {
namespace {

// Whole rows are exchanged, all 50 entries, so that the entries beyond n travel with them.
void ExchangeRows(FitMatrix& m, int r1, int r2) {
  for (int j = 0; j < kFitOrder; ++j) std::swap(m.a[r1][j], m.a[r2][j]);
}

// target(j) = target(j) + f * source(j) over entries 1..n.
void UpdateRow(FitMatrix& m, int target, int source, double f, int n) {
  for (int j = 0; j < n; ++j) m.a[target][j] = m.a[target][j] + f * m.a[source][j];
}

// Divides entries 1..n of a row by value (a division, not a product with its reciprocal).
void ScaleRow(FitMatrix& m, int row, double value, int n) {
  for (int j = 0; j < n; ++j) m.a[row][j] = m.a[row][j] / value;
}

bool Vanishes(double v) { return std::fabs(v) < kTiny; }

}  // namespace

int32_t Resolution(int32_t n, const FitMatrix& A, const FitVector& b, FitVector& x) {
  FitMatrix m = A;
  FitVector r = b;
  int32_t code = 0;
  if (n <= 0 || n > kFitOrder) return kSolverNoSystem;
  if (n == 1) {
    if (Vanishes(m.a[0][0])) return kSolverSingularOne;
    x.v[0] = r.v[0] / m.a[0][0];
    return 0;
  }

  for (int k = 0; code == 0 && k < n - 1; ++k) {
    int p = k;
    for (int i = k + 1; i < n; ++i) {
      if (std::fabs(m.a[i][k]) > std::fabs(m.a[p][k])) p = i;
    }
    if (p != k) {
      ExchangeRows(m, p, k);
      std::swap(r.v[p], r.v[k]);
    } else if (Vanishes(m.a[k][k])) {
      code = kSolverNoPivot;
      break;
    }
    // A pivot obtained by an exchange is used whatever its size: it is non-zero, since it
    // beat the diagonal strictly.
    for (int i = k + 1; i < n; ++i) {
      if (std::fabs(m.a[i][k]) > kTiny) {
        const double f = (0 - m.a[i][k]) / m.a[k][k];
        UpdateRow(m, i, k, f, n);
        r.v[i] = r.v[i] + f * r.v[k];
      }
    }
  }
  if (Vanishes(m.a[n - 1][n - 1])) code = kSolverLastPivot;
  if (code != 0) return code;

  for (int i = n - 1; i >= 0; --i) {
    double s = 0;
    for (int j = i + 1; j < n; ++j) s = s + m.a[i][j] * x.v[j];
    x.v[i] = (r.v[i] - s) / m.a[i][i];
  }
  return 0;
}

int32_t Inversion(int32_t n, const FitMatrix& A, FitMatrix& Inv) {
  FitMatrix m = A;
  if (n < 1 || n > kFitOrder) return kSolverNoSystem;
  for (int i = 0; i < kFitOrder; ++i) {
    for (int j = 0; j < kFitOrder; ++j) Inv.a[i][j] = 0;
  }
  for (int i = 0; i < n; ++i) Inv.a[i][i] = 1;
  if (n == 1) {
    if (Vanishes(m.a[0][0])) return kSolverSingularOne;
    Inv.a[0][0] = 1 / m.a[0][0];
    return 0;
  }

  for (int k = 0; k < n; ++k) {
    if (Vanishes(m.a[k][k])) {
      // Only a vanishing diagonal is exchanged, and with the first usable row beneath it.
      int usable = -1;
      for (int i = k + 1; i < n && usable < 0; ++i) {
        if (std::fabs(m.a[i][k]) > kTiny) usable = i;
      }
      if (usable < 0) return kSolverSingularOne;
      ExchangeRows(m, usable, k);
      ExchangeRows(Inv, usable, k);
    }
    const double piv = m.a[k][k];
    ScaleRow(m, k, piv, n);
    ScaleRow(Inv, k, piv, n);
    for (int i = 0; i < n; ++i) {
      if (i == k || !(std::fabs(m.a[i][k]) > kTiny)) continue;
      const double f = (0 - m.a[i][k]) / m.a[k][k];
      UpdateRow(m, i, k, f, n);
      UpdateRow(Inv, i, k, f, n);
    }
  }
  return 0;
}

}  // namespace tarvo
