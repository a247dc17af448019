#include "fitting/normal_equations.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "fitting/fit_tables.h"
#include "fitting/sensitivities.h"
#include "library/state.h"
#include "library/workers.h"

namespace tarvo {

namespace {

struct GatherJob {
  const PointTable* table;
  double* terms;
  FreeList f;
  size_t points, outputs, stride;
};

// The terms of the records [begin, end), each record read once, front to back.
void GatherRows(void* context, int32_t begin, int32_t end) {
  const GatherJob& job = *static_cast<const GatherJob*>(context);
  for (size_t j = static_cast<size_t>(begin); j < static_cast<size_t>(end); ++j) {
    if (j + kRecordsAhead < static_cast<size_t>(end) && job.outputs > 0 && job.f.count > 0) {
      const PointRecord& next = job.table->Points[j + kRecordsAhead];
      __builtin_prefetch(&next.NRep[0], 0);
      __builtin_prefetch(&next.YCalc[0], 0);
      __builtin_prefetch(&next.YMean[0], 0);
      __builtin_prefetch(&next.Weight[0], 0);
      PrefetchSensitivities<0>(next, static_cast<int>(job.outputs), job.f.index[0],
                               job.f.index[job.f.count - 1]);
    }
    const PointRecord& p = job.table->Points[j];
    for (size_t k = 0; k < job.outputs; ++k) {
      double* slot = &job.terms[(k * job.points + j) * job.stride];
      const int16_t n = p.NRep[k];
      slot[0] = n;
      if (n <= 0) continue;
      const double w = static_cast<double>(n) * p.Weight[k];
      slot[1] = w;
      slot[2] = w * (p.YMean[k] - p.YCalc[k]);
      for (int32_t c = 0; c < job.f.count; ++c) slot[3 + c] = p.Sens[k][job.f.index[c]];
    }
  }
}

// A slot's terms added to rows [c0, c1) of M and g: g_c += r s_c, M_cd += (w s_c) s_d.
void AddSlot(const double* slot, int32_t c0, int32_t c1, int32_t n, FitMatrix& M, FitVector& g) {
  const double w = slot[1], r = slot[2];
  const double* s = slot + 3;
  for (int32_t c = c0; c < c1; ++c) {
    const double sa = s[c];
    g.v[c] = g.v[c] + r * sa;
    for (int32_t d = 0; d < n; ++d) M.a[c][d] = M.a[c][d] + (w * sa) * s[d];
  }
}

// Two slots' terms, the first's then the second's on every entry, as AddSlot twice gives them:
// each entry of M read and written once for both, two entries a vector (element-wise IEEE
// arithmetic, the same values as two scalar operations).
typedef double Pair __attribute__((vector_size(16)));

void AddTwoSlots(const double* x, const double* y, int32_t c0, int32_t c1, int32_t n, FitMatrix& M,
                 FitVector& g) {
  const double* xs = x + 3;
  const double* ys = y + 3;
  for (int32_t c = c0; c < c1; ++c) {
    g.v[c] = g.v[c] + x[2] * xs[c];
    g.v[c] = g.v[c] + y[2] * ys[c];
    const double wx = x[1] * xs[c], wy = y[1] * ys[c];
    const Pair wx2 = {wx, wx}, wy2 = {wy, wy};
    double* row = M.a[c];
    int32_t d = 0;
    for (; d + 2 <= n; d += 2) {
      Pair m, sx, sy;
      std::memcpy(&m, row + d, sizeof m);
      std::memcpy(&sx, xs + d, sizeof sx);
      std::memcpy(&sy, ys + d, sizeof sy);
      m = (m + wx2 * sx) + wy2 * sy;
      std::memcpy(row + d, &m, sizeof m);
    }
    for (; d < n; ++d) row[d] = (row[d] + wx * xs[d]) + wy * ys[d];
  }
}

// Rows [c0, c1) of M and g summed over the slots, output by output, point by point, the
// slots with data two at a time: every entry is a sum of its own, so rows summed apart (on
// the workers' threads) are the rows summed together.
struct SumJob {
  const double* terms;
  size_t slots, stride;
  int32_t n, threads;
  FitMatrix* M;
  FitVector* g;
};

void SumRows(const SumJob& job, int32_t c0, int32_t c1) {
  const double* held = nullptr;  // a slot with data waiting for the next one
  for (size_t at = 0; at < job.slots; ++at) {
    const double* slot = &job.terms[at * job.stride];
    if (slot[0] <= 0) continue;
    if (!held) {
      held = slot;
      continue;
    }
    AddTwoSlots(held, slot, c0, c1, job.n, *job.M, *job.g);
    held = nullptr;
  }
  if (held) AddSlot(held, c0, c1, job.n, *job.M, *job.g);
}

void SumShare(void* context, int32_t thread) {
  const SumJob& job = *static_cast<const SumJob*>(context);
  if (thread >= job.threads) return;  // more threads than rows
  SumRows(job, job.n * thread / job.threads, job.n * (thread + 1) / job.threads);
}

// The sums run output by output, point by point. A record is 21 KB, so the terms are first
// gathered record by record (ranges of records on the workers' threads when the call shares
// out) into a slot per (output, point): the replicate count, w = NRep * Weight,
// r = w * (YMean - YCalc) and the free sensitivities; then summed in the same order with the
// same operations as from the records, the rows of M shared among the threads likewise.
void Accumulate(EngineState& st, FitMatrix& M, FitVector& g) {
  const FreeList f = FreeAdjustables(st);
  const size_t np = static_cast<size_t>(FitPointCount(st));
  const size_t no = static_cast<size_t>(FitOutputCount(st));
  const size_t stride = NormalTermsSlot(f.count);
  std::vector<double>& terms = st.normal_terms;
  if (terms.size() < no * np * stride) terms.resize(no * np * stride);  // the set-up's size
  GatherJob job{st.points, terms.data(), f, np, no, stride};
  ForRows(st, static_cast<int32_t>(np), GatherRows, &job);
  SumJob sum{terms.data(), no * np, stride, f.count, 1, &M, &g};
  if (f.count > 1 && ShareOut(st, 1)) {
    sum.threads = std::min<int32_t>(st.workers->pool->size() + 1, f.count);
    st.workers->pool->Run(SumShare, &sum);
    return;
  }
  SumRows(sum, 0, f.count);
}

}  // namespace

void Equations_normales(EngineState& st, int mode, FitMatrix& M, FitVector& g) {
  M = FitMatrix{};
  g = FitVector{};
  if (mode == 0) {
    Sensibilites(st);
  } else {
    Correction_secante(st);
  }

  if (st.fitset.Erreur == 0) Accumulate(st, M, g);
  const double damping = st.fitset.Marquard + 1;
  const int32_t free = FreeAdjustables(st).count;
  for (int32_t i = 0; i < free; ++i) M.a[i][i] = M.a[i][i] * damping;
}

bool Finite(int32_t n, const FitVector& v) {
  for (int32_t i = 0; i < n; ++i)
    if (!std::isfinite(v.v[i])) return false;
  return true;
}

bool Finite(int32_t n, const FitMatrix& M, const FitVector& g) {
  for (int32_t i = 0; i < n; ++i)
    for (int32_t j = 0; j < n; ++j)
      if (!std::isfinite(M.a[i][j])) return false;
  return Finite(n, g);
}

}  // namespace tarvo
