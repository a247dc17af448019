#include "fitting/sensitivities.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstring>
#include <exception>
#include <memory>

#include "fitting/fit_tables.h"
#include "library/driver.h"
#include "library/state.h"
#include "library/workers.h"

namespace tarvo {
namespace {

// The perturbed value of one difference, and the divisor that turns the change of an output
// into its sensitivity per unit of the adjustable: 1 % of the value, or 0.01 absolute at 0.
double Perturbed(double v) { return v != 0 ? v * 1.01 : 0.01; }
double Divisor(double v) { return v != 0 ? v : 1.0; }

// Column a of the live table from a walk of st (the model's own state or a worker instance)
// over its scratch table. st's adjustables are perturbed and restored; live is written in
// column a only.
void DifferenceColumn(EngineState& st, PointTable& scratch, PointTable& live, int32_t a) {
  PAjustable& adj = st.adjustables[a];
  const double v = adj.Value;
  try {
    adj.Value = Perturbed(v);
    Refresh_adjustables(st);
    Run_points(st, scratch);
  } catch (...) {
    // Leave the model at its own values before the failure travels on.
    adj.Value = v;
    try {
      Refresh_adjustables(st);
    } catch (...) {
    }
    throw;
  }
  const double divisor = Divisor(v);
  const int32_t np = FitPointCount(st);
  const int32_t no = FitOutputCount(st);
  for (int32_t j = 0; j < np; ++j) {
    if (j + kRecordsAhead < np) {
      const PointRecord& next = live.Points[j + kRecordsAhead];
      __builtin_prefetch(&scratch.Points[j + kRecordsAhead].YCalc[0], 0);
      __builtin_prefetch(&next.YCalc[0], 0);
      PrefetchSensitivities<1>(next, no, a, a);
    }
    PointRecord& p = live.Points[j];
    const PointRecord& s = scratch.Points[j];
    for (int32_t k = 0; k < no; ++k) p.Sens[k][a] = (s.YCalc[k] - p.YCalc[k]) * 100 / divisor;
  }
  adj.Value = v;
  Refresh_adjustables(st);
}

// The free columns of one call shared out among the model's state (thread 0, walking the
// scratch table it was given) and the worker instances (thread k, instance k - 1, walking its
// own table). Each thread takes the next column not yet taken. Every walk starts from the
// Erreur the call found, and the status it leaves is kept per column; a raised failure is kept
// per column too, and the columns after it are still walked (nothing of theirs is read then).
struct ColumnJob {
  EngineState* st;
  PointTable* scratch;
  Workers* workers;
  FreeList f;
  int16_t erreur_start;
  std::atomic<int32_t> next{0};
  int16_t erreur_after[kMaxAdjustables];
  std::exception_ptr failure[kMaxAdjustables];
};

void RunColumns(void* context, int32_t thread) {
  ColumnJob& job = *static_cast<ColumnJob*>(context);
  EngineState& own = thread == 0 ? *job.st : *job.workers->instances[static_cast<size_t>(thread - 1)];
  PointTable& table = thread == 0 ? *job.scratch : *own.points;
  if (thread != 0) CopyWalkedFields(own, *job.st->points, table);
  for (;;) {
    const int32_t c = job.next.fetch_add(1, std::memory_order_relaxed);
    if (c >= job.f.count) return;
    own.fitset.Erreur = job.erreur_start;
    try {
      DifferenceColumn(own, table, *job.st->points, job.f.index[c]);
    } catch (...) {
      job.failure[c] = std::current_exception();
    }
    job.erreur_after[c] = own.fitset.Erreur;
  }
}

// The walks of DifferenceColumns on every thread of the pool. What the model's state holds
// afterwards is what the walks one after another leave there: the status of the last column's
// walk in Erreur (a walk's status does not depend on the status it starts from: every engine
// call sets it, and whether a walk calls the engine depends on the points' intervals alone),
// and the adjustables at their own values. At a raised failure, the first failing column is
// walked again on the model's state as the sequence would have walked it, so that the
// failure leaves the call with the state the sequence leaves.
void DifferenceColumnsAtOnce(EngineState& st, PointTable& scratch, const FreeList& f) {
  ColumnJob job{&st, &scratch, st.workers.get(), f, st.fitset.Erreur, {}, {}, {}};
  // Every instance starts each call from the model's current values.
  for (const std::unique_ptr<EngineState>& w : st.workers->instances)
    for (int32_t a = 0; a < FitAdjustableCount(st); ++a) w->adjustables[a].Value = st.adjustables[a].Value;
  st.workers->pool->Run(RunColumns, &job);
  for (int32_t c = 0; c < f.count; ++c) {
    if (!job.failure[c]) continue;
    st.fitset.Erreur = c > 0 ? job.erreur_after[c - 1] : job.erreur_start;
    DifferenceColumn(st, scratch, *st.points, f.index[c]);
    std::rethrow_exception(job.failure[c]);  // not reached: the walk fails again
  }
  st.fitset.Erreur = job.erreur_after[f.count - 1];
}

}  // namespace

void CopyWalkedFields(EngineState& st, const PointTable& from, PointTable& to) {
  // A walk reads the time of point 1 even when the table holds no point. Of each record it
  // reads the interval and the time and rewrites YCalc and YPrev of the model's outputs;
  // nothing else of the scratch table is ever read, so the replicates, the sensitivities (most
  // of a record) and the slots of outputs the model does not have stay behind.
  const int32_t records = std::max(FitPointCount(st), 1);
  const size_t outputs = sizeof(double) * static_cast<size_t>(FitOutputCount(st));
  for (int32_t j = 0; j < records; ++j) {
    const PointRecord& src = from.Points[j];
    PointRecord& dst = to.Points[j];
    std::memcpy(&dst, &src, kWalkedHead);
    std::memcpy(dst.YCalc, src.YCalc, outputs);
    std::memcpy(dst.YPrev, src.YPrev, outputs);
  }
}

void CopyForSimulation(EngineState& st, const PointTable& from, PointTable& to) {
  std::memcpy(to.Outputs, from.Outputs, sizeof from.Outputs);
  CopyWalkedFields(st, from, to);
}

void DifferenceColumns(EngineState& st, PointTable& scratch) {
  const FreeList f = FreeAdjustables(st);
  if (f.count > 1 && ShareOut(st, f.count - 1)) {
    DifferenceColumnsAtOnce(st, scratch, f);
    return;
  }
  for (int32_t c = 0; c < f.count; ++c) DifferenceColumn(st, scratch, *st.points, f.index[c]);
}

void Sensibilites(EngineState& st) {
  CopyForSimulation(st, *st.points, *st.scratch);
  DifferenceColumns(st, *st.scratch);
}

namespace {

struct SecantJob {
  PointTable* live;
  const PAjustable* adj;
  FreeList f;
  int32_t outputs;
  double q;
};

// R rows of one record, outputs k0 .. k0 + R - 1, corrected side by side: each row runs the
// same operations in the same order as the rule row by row, and the R rows' sums are
// independent chains kept in registers, which the processor overlaps instead of waiting on
// one long chain of additions. p over the columns is the running sum of the columns before
// cb (which no later column changes), continued over the rest.
template <int R>
void CorrectOutputs(PointRecord& pt, int32_t k0, const FreeList& f, const double* dp, double q) {
  double col[kMaxAdjustables][R];  // the rows' free sensitivities, column by column
  double change[R], before[R], p[R], s[R];
#pragma GCC unroll 4
  for (int k = 0; k < R; ++k) {
    change[k] = pt.YCalc[k0 + k] - pt.YPrev[k0 + k];
    before[k] = 0;
    for (int32_t c = 0; c < f.count; ++c) col[c][k] = pt.Sens[k0 + k][f.index[c]];
  }
  for (int32_t cb = 0; cb < f.count; ++cb) {
#pragma GCC unroll 4
    for (int k = 0; k < R; ++k) p[k] = before[k];
    for (int32_t c = cb; c < f.count; ++c)
#pragma GCC unroll 4
      for (int k = 0; k < R; ++k) p[k] = p[k] + col[c][k] * dp[c];
#pragma GCC unroll 4
    for (int k = 0; k < R; ++k) s[k] = 0;
    for (int32_t c = 0; c < f.count; ++c)
#pragma GCC unroll 4
      for (int k = 0; k < R; ++k) s[k] = s[k] + (change[k] - p[k]) * dp[c];
#pragma GCC unroll 4
    for (int k = 0; k < R; ++k) {
      col[cb][k] = col[cb][k] + s[k] / q;
      before[k] = before[k] + col[cb][k] * dp[cb];
    }
  }
#pragma GCC unroll 4
  for (int k = 0; k < R; ++k)
    for (int32_t c = 0; c < f.count; ++c) pt.Sens[k0 + k][f.index[c]] = col[c][k];
}

// The correction of the records [begin, end), a record's outputs four at a time.
void CorrectRows(void* context, int32_t begin, int32_t end) {
  const SecantJob& job = *static_cast<const SecantJob*>(context);
  const FreeList& f = job.f;
  double dp[kMaxAdjustables];
  for (int32_t c = 0; c < f.count; ++c) dp[c] = job.adj[f.index[c]].dP;
  for (int32_t j = begin; j < end; ++j) {
    PointRecord& pt = job.live->Points[j];
    int32_t k = 0;
    for (; k + 4 <= job.outputs; k += 4) CorrectOutputs<4>(pt, k, f, dp, job.q);
    switch (job.outputs - k) {
      case 3: CorrectOutputs<3>(pt, k, f, dp, job.q); break;
      case 2: CorrectOutputs<2>(pt, k, f, dp, job.q); break;
      case 1: CorrectOutputs<1>(pt, k, f, dp, job.q); break;
      default: break;
    }
  }
}

}  // namespace

void Correction_secante(EngineState& st) {
  const FreeList f = FreeAdjustables(st);
  const PAjustable* adj = st.adjustables;
  double q = 0;
  for (int32_t c = 0; c < f.count; ++c) q = q + adj[f.index[c]].dP * adj[f.index[c]].dP;
  if (q == 0) return;  // no step was taken: nothing to learn from

  // The columns are corrected one after another: p sees the columns already corrected. A
  // (point, output) row's correction reads nothing of other rows, so the rows are corrected
  // record by record (one pass over the table, whose records are far apart in memory), and
  // ranges of records may be corrected on different threads.
  SecantJob job{st.points, adj, f, FitOutputCount(st), q};
  ForRows(st, FitPointCount(st), CorrectRows, &job);
}

}  // namespace tarvo
