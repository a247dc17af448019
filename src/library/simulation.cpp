#include "library/simulation.h"

#include <algorithm>
#include <chrono>

#include "library/driver.h"
#include "library/record_copy.h"
#include "library/state.h"
#include "library/statistics.h"
#include "platform/exchange_file.h"
#include "platform/variant.h"

namespace tarvo {

namespace {

// A point's own record of the exchange file: its interval, counts, time and replicates, and
// the outputs 1..outputs as ShownOutput gives them.
void FillRecord(FileRecord& r, const EngineState& st, int j, int outputs) {
  const PointRecord& p = st.points->Points[j];
  r.Interval = p.Interval;
  r.Padding[0] = r.Padding[1] = r.Padding[2] = 0;
  std::copy(std::begin(p.NRep), std::end(p.NRep), r.NRep);
  r.Time = p.Time;
  std::copy(&p.YExp[0][0], &p.YExp[0][0] + kMaxOutputs * kMaxReplicates, &r.YExp[0][0]);
  std::copy(std::begin(p.YCalc), std::end(p.YCalc), r.YCalc);
  for (int o = 0; o < outputs; ++o) r.YCalc[o] = ShownOutput(st, j, o);
}

// Count the host gives for the rewrite, never beyond what the loaded model holds.
int Bounded(int host_count, int model_count) {
  return std::clamp(host_count, 0, std::max(model_count, 0));
}

}  // namespace

void WriteExchangeFile(EngineState& st, const BInitials* host_initials) {
  const BInitials& m = st.initials;
  const int npoints = host_initials ? Bounded(host_initials->NPoints, m.NPoints) : m.NPoints;
  const int outputs = host_initials ? Bounded(host_initials->NSorties, m.NSorties) : m.NSorties;
  // A caller that turned the rewrite back on after its set-up has no buffer yet.
  if (st.rewrite.size() < static_cast<size_t>(npoints)) st.rewrite.resize(static_cast<size_t>(npoints));
  const int records = npoints;
  for (int j = 0; j < records; ++j)
    FillRecord(st.rewrite[static_cast<size_t>(j)], st, j, outputs);
  FileRewrite(st.file, st.rewrite.data(), sizeof(FileRecord), records);
}

double ShownValue(int16_t status, const PointRecord& p, int o) {
  return status != 0 ? static_cast<double>(status) : p.YCalc[o];
}

double ShownOutput(const EngineState& st, int j, int o) {
  return ShownValue(st.shown_status, st.points->Points[j], o);
}

void SimulateModel(EngineState& st, const BInitials* host_initials, BFitSet* host_fitset, BAjustables* host_adj) {
  if (!ModelReady(st)) {
    RefuseUnready(st, host_fitset);
    return;
  }
  PointTable& table = *st.points;
  BFitSet& fit = st.fitset;
  Refresh_adjustables(st);
  const auto start = std::chrono::steady_clock::now();
  st.finite = Run_points(st, table);
  st.walk_seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const SimulationFigures figures = Statistics(st, table, fit.TypeErreur);
  fit.Coeff = figures.coeff;
  fit.ErreurExp = figures.erreur_exp;
  fit.ErreurCalc = figures.erreur_calc;
  st.shown_status = fit.Erreur;
  if (st.rewrite_file) WriteExchangeFile(st, host_initials);
  // Added after the file is written, so that the host finds there which values left the
  // finite numbers, and in time to keep the host's adjustables where they were.
  if (!st.finite) fit.Erreur = static_cast<int16_t>(fit.Erreur + kErreurNonFinite);
  if (host_fitset) CopyFitSet(*host_fitset, fit);
  if (host_fitset && host_fitset->Erreur == 0 && host_adj) {
    for (int a = 0; a < st.initials.NAjustables; ++a) {
      host_adj->Adjustable[a] = st.adjustables[a].Adjustable;
      host_adj->Value[a] = st.adjustables[a].Value;
    }
  }
}

}  // namespace tarvo
