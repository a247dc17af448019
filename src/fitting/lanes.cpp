#include "fitting/lanes.h"

#include <algorithm>

#include "fitting/fit_tables.h"
#include "fitting/sensitivities.h"
#include "library/driver.h"
#include "library/erreur_codes.h"
#include "library/simulation.h"
#include "library/workers.h"

namespace tarvo {

namespace {

EngineState& LaneState(EngineState& st, int32_t lane) {
  return lane == 0 ? st : *st.workers->instances[static_cast<size_t>(lane - 1)];
}

PointTable& LaneTable(EngineState& st, int32_t lane) {
  return lane == 0 ? *st.scratch : *LaneState(st, lane).points;
}

}  // namespace

int32_t PrepareLanes(EngineState& st) {
  if (!ModelReady(st)) return 0;
  CopyForSimulation(st, *st.points, *st.scratch);
  const int32_t lanes = LaneCount(st);
  for (int32_t k = 1; k < lanes; ++k) {
    EngineState& w = LaneState(st, k);
    CopyWalkedFields(w, *st.points, *w.points);
    w.fitset.Erreur = st.fitset.Erreur;
  }
  return lanes;
}

int32_t LaneCount(const EngineState& st) {
  if (!ModelReady(st)) return 0;
  return 1 + (st.workers ? static_cast<int32_t>(st.workers->instances.size()) : 0);
}

int16_t WalkLane(EngineState& st, int32_t lane, const double* values, int32_t count) {
  EngineState& own = LaneState(st, lane);
  const int32_t n = std::min(count, FitAdjustableCount(own));
  for (int32_t a = 0; a < n; ++a) own.adjustables[a].Value = values[a];
  Refresh_adjustables(own);
  const bool finite = Run_points(own, LaneTable(st, lane));
  const int16_t status = own.fitset.Erreur;
  return finite ? status : static_cast<int16_t>(status + kErreurNonFinite);
}

double LaneOutput(EngineState& st, int32_t lane, int32_t j, int32_t o) {
  return ShownValue(LaneState(st, lane).fitset.Erreur, LaneTable(st, lane).Points[j], o);
}

}  // namespace tarvo
