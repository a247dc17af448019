#include "fitting/sensitivities.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "fitting/fit_tables.h"
#include "library/driver.h"
#include "library/state.h"

namespace tarvo {
namespace {

// The perturbed value of one difference, and the divisor that turns the change of an output
// into its sensitivity per unit of the adjustable: 1 % of the value, or 0.01 absolute at 0.
double Perturbed(double v) { return v != 0 ? v * 1.01 : 0.01; }
double Divisor(double v) { return v != 0 ? v : 1.0; }

void DifferenceColumn(EngineState& st, PointTable& scratch, int32_t a) {
  PointTable& live = *st.points;
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
    PointRecord& p = live.Points[j];
    const PointRecord& s = scratch.Points[j];
    for (int32_t k = 0; k < no; ++k) p.Sens[k][a] = (s.YCalc[k] - p.YCalc[k]) * 100 / divisor;
  }
  adj.Value = v;
  Refresh_adjustables(st);
}

}  // namespace

void CopyForSimulation(EngineState& st, const PointTable& from, PointTable& to) {
  std::memcpy(to.Outputs, from.Outputs, sizeof from.Outputs);
  // A walk reads the time of point 1 even when the table holds no point. Of each record it
  // reads the interval and the time and rewrites YCalc and YPrev; nothing else of the scratch
  // table is ever read, so the replicates and the sensitivities (most of a record) stay behind.
  const int32_t records = std::max(FitPointCount(st), 1);
  static_assert(offsetof(PointRecord, Time) + sizeof(double) <= offsetof(PointRecord, NRep));
  static_assert(offsetof(PointRecord, YPrev) == offsetof(PointRecord, YCalc) + sizeof(double) * kMaxOutputs);
  constexpr size_t kHead = offsetof(PointRecord, Time) + sizeof(double);
  constexpr size_t kOutputs = offsetof(PointRecord, YMean) - offsetof(PointRecord, YCalc);
  for (int32_t j = 0; j < records; ++j) {
    const auto* src = reinterpret_cast<const unsigned char*>(&from.Points[j]);
    auto* dst = reinterpret_cast<unsigned char*>(&to.Points[j]);
    std::memcpy(dst, src, kHead);
    std::memcpy(dst + offsetof(PointRecord, YCalc), src + offsetof(PointRecord, YCalc), kOutputs);
  }
}

void DifferenceColumns(EngineState& st, PointTable& scratch) {
  const FreeList f = FreeAdjustables(st);
  for (int32_t c = 0; c < f.count; ++c) DifferenceColumn(st, scratch, f.index[c]);
}

void Sensibilites(EngineState& st) {
  CopyForSimulation(st, *st.points, *st.scratch);
  DifferenceColumns(st, *st.scratch);
}

void Correction_secante(EngineState& st) {
  const FreeList f = FreeAdjustables(st);
  const PAjustable* adj = st.adjustables;
  double q = 0;
  for (int32_t c = 0; c < f.count; ++c) q = q + adj[f.index[c]].dP * adj[f.index[c]].dP;
  if (q == 0) return;  // no step was taken: nothing to learn from

  PointTable& live = *st.points;
  const int32_t np = FitPointCount(st);
  const int32_t no = FitOutputCount(st);
  // The columns are corrected one after another: p sees the columns already corrected.
  for (int32_t cb = 0; cb < f.count; ++cb) {
    const int32_t b = f.index[cb];
    for (int32_t j = 0; j < np; ++j) {
      PointRecord& pt = live.Points[j];
      for (int32_t k = 0; k < no; ++k) {
        double p = 0;
        for (int32_t c = 0; c < f.count; ++c) {
          p = p + pt.Sens[k][f.index[c]] * adj[f.index[c]].dP;
        }
        double s = 0;
        for (int32_t c = 0; c < f.count; ++c) {
          s = s + (pt.YCalc[k] - pt.YPrev[k] - p) * adj[f.index[c]].dP;
        }
        pt.Sens[k][b] = pt.Sens[k][b] + s / q;
      }
    }
  }
}

}  // namespace tarvo
