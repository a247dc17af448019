#include "fitting/ajustement.h"

#include "fitting/deviations.h"
#include "fitting/fit_tables.h"
#include "fitting/step.h"
#include "library/erreur_codes.h"
#include "library/record_copy.h"
#include "library/simulation.h"
#include "library/state.h"

namespace tarvo {
namespace {

void ApplySteps(EngineState& st, double sign) {
  const FreeList f = FreeAdjustables(st);
  for (int32_t c = 0; c < f.count; ++c) {
    PAjustable& adj = st.adjustables[f.index[c]];
    adj.Value = sign > 0 ? adj.Value + adj.dP : adj.Value - adj.dP;
  }
}

// The convergence measure of the whole call, also copying the free values to the host.
double CallMeasure(EngineState& st, const double* saved, BAjustables* host_adj) {
  const FreeList f = FreeAdjustables(st);
  double now[kMaxAdjustables] = {};
  for (int32_t c = 0; c < f.count; ++c) {
    const int32_t a = f.index[c];
    now[a] = st.adjustables[a].Value;
    if (host_adj) host_adj->Value[a] = now[a];
  }
  return ConvergenceMeasure(f.count, f.index, saved, now);
}

void ReportDeviations(EngineState& st, BAjustables* host_adj) {
  if (!host_adj) return;
  const int32_t na = FitAdjustableCount(st);
  for (int32_t a = 0; a < na; ++a) {
    const PAjustable& adj = st.adjustables[a];
    host_adj->Adjustable[a] = adj.Adjustable;
    host_adj->Value[a] = adj.Value;
    if (adj.Adjustable != 0) host_adj->SD[a] = adj.SD;
  }
}

// Steps 2 to 10 of the iteration; returning early goes straight to the copy to the host.
void Iterate(EngineState& st, const BInitials* host_initials, BFitSet* host_fitset, BAjustables* host_adj) {
  BFitSet& fs = st.fitset;
  double saved[kMaxAdjustables] = {};
  const int32_t na = FitAdjustableCount(st);
  for (int32_t a = 0; a < na; ++a) saved[a] = st.adjustables[a].Value;

  Pas_ajustement(st, 0);
  if (fs.Erreur != 0) return;
  ApplySteps(st, +1);
  SimulateModel(st, host_initials, host_fitset, host_adj);
  if (!st.finite) {
    // The first step led the model out of the finite numbers: the adjustables go back to
    // where the call found them, with their own simulation, and the call reports it.
    for (int32_t a = 0; a < na; ++a) st.adjustables[a].Value = saved[a];
    SimulateModel(st, host_initials, host_fitset, host_adj);
    if (st.finite) fs.Erreur = static_cast<int16_t>(fs.Erreur + kErreurNonFinite);
    return;
  }
  const double e1 = fs.ErreurCalc;

  Pas_ajustement(st, 1);
  if (fs.Erreur != 0) return;
  ApplySteps(st, +1);
  SimulateModel(st, host_initials, host_fitset, host_adj);
  // Equal keeps the second step; a second step that left the finite numbers is undone like a
  // worse one.
  if (fs.ErreurCalc > e1 || !st.finite) {
    ApplySteps(st, -1);
    SimulateModel(st, host_initials, host_fitset, host_adj);
  }

  const double s = CallMeasure(st, saved, host_adj);
  // The host's Precision equals the engine's here: the last simulation copied it over.
  const double precision = host_fitset ? host_fitset->Precision : fs.Precision;
  fs.Done = s < precision ? kTrue : kFalse;
  if (fs.MaxIter == 0 || fs.Done != 0) {
    Ecarts_types(st);
    if (fs.Erreur == 0) ReportDeviations(st, host_adj);
  }
}

}  // namespace

double ConvergenceMeasure(int32_t count, const int32_t* index, const double* before,
                          const double* after) {
  double s = 0;
  for (int32_t c = 0; c < count; ++c) {
    const int32_t a = index[c];
    const double change =
        before[a] != 0 ? (after[a] - before[a]) / before[a] : after[a] - before[a];
    s = s + change * change;
  }
  return s;
}

void FitIteration(EngineState& st, const BInitials* host_initials, BFitSet* host_fitset,
                  BAjustables* host_adj) {
  if (!ModelReady(st)) {
    RefuseUnready(st, host_fitset);
    return;
  }
  Iterate(st, host_initials, host_fitset, host_adj);
  if (host_fitset) CopyFitSet(*host_fitset, st.fitset);
}

}  // namespace tarvo
