#include "engines/external/exact_step.h"

#include <cstddef>
#include <cstring>

namespace tarvo {

namespace {

// Each row from +0 over the columns in order, then added to the free-term entry.
void SmallRows(const double* e, int32_t n, const double* y, double* y_out) {
  const double* free_term = e + static_cast<size_t>(n) * static_cast<size_t>(n);
  for (int32_t i = 0; i < n; ++i) {
    double sum = 0.0;
    for (int32_t j = 0; j < n; ++j) sum = e[static_cast<size_t>(j * n + i)] * y[j] + sum;
    y_out[i] = free_term[i] + sum;
  }
}

}  // namespace

#if defined(__GNUC__) && defined(__x86_64__)

namespace {

typedef double Quad __attribute__((vector_size(32)));

// Rows 0 .. 4V - 1 over every column; the rows beyond n read the next column's first entries
// (or the free-term column's, for the last one: inside the matrix for n >= 2V) and are
// dropped.
template <int V>
__attribute__((target("avx"))) void Rows(const double* e, int32_t n, const double* y,
                                          double* y_out) {
  Quad sum[V];
#pragma GCC unroll 8
  for (int v = 0; v < V; ++v) sum[v] = Quad{0.0, 0.0, 0.0, 0.0};  // +0
  for (int32_t j = 0; j < n; ++j) {
    const Quad yj = Quad{y[j], y[j], y[j], y[j]};
    const double* col = e + static_cast<size_t>(j) * static_cast<size_t>(n);
#pragma GCC unroll 8
    for (int v = 0; v < V; ++v) {
      Quad entries;
      std::memcpy(&entries, col + 4 * v, sizeof entries);
      sum[v] = entries * yj + sum[v];
    }
  }
  double sums[4 * V];
  std::memcpy(sums, sum, sizeof sums);
  const double* free_term = e + static_cast<size_t>(n) * static_cast<size_t>(n);
  for (int32_t i = 0; i < n; ++i) y_out[i] = free_term[i] + sums[i];
}

bool Wide() {
  static const bool wide = __builtin_cpu_supports("avx");
  return wide;
}

}  // namespace

bool ExactStepWide(const double* e, int32_t n, const double* y, double* y_out) {
  if (n >= 1 && n < 4) {
    SmallRows(e, n, y, y_out);
    return true;
  }
  if (n < 4 || n > 32 || !Wide()) return false;
  switch ((n + 3) / 4) {
    case 1: Rows<1>(e, n, y, y_out); break;
    case 2: Rows<2>(e, n, y, y_out); break;
    case 3: Rows<3>(e, n, y, y_out); break;
    case 4: Rows<4>(e, n, y, y_out); break;
    case 5: Rows<5>(e, n, y, y_out); break;
    case 6: Rows<6>(e, n, y, y_out); break;
    case 7: Rows<7>(e, n, y, y_out); break;
    default: Rows<8>(e, n, y, y_out); break;
  }
  return true;
}

#else

bool ExactStepWide(const double* e, int32_t n, const double* y, double* y_out) {
  if (n < 1 || n >= 4) return false;
  SmallRows(e, n, y, y_out);
  return true;
}

#endif

}  // namespace tarvo
