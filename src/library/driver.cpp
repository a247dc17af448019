#include "library/driver.h"

#include <cmath>

#include "Symbolic/cells.h"
#include "Symbolic/compil.h"
#include "library/state.h"

namespace tarvo {

void Refresh_adjustables() {
  const int n = g_state.initials.NAjustables;
  // Every plain value first: a bound expression may read any of them.
  for (int a = 0; a < n; ++a) g_cells.adjustables[a] = g_state.adjustables[a].Value;
  for (int a = 0; a < n; ++a) {
    PAjustable& adj = g_state.adjustables[a];
    if (!adj.Equation) continue;
    const double v = Evaluate(adj.Equation);
    adj.Value = v;
    g_cells.adjustables[a] = v;
  }
}

namespace {

// The start of interval k at the current point: parameters, then species, from the
// interval's formulas in index order (so a formula sees the new values of lower indices), then
// the point's outputs. A missing parameter or species formula keeps the current value; a
// missing output formula gives 0.
void ResetInterval(PointTable& table, PointRecord& point, int k) {
  const BInitials& m = g_state.initials;
  for (int p = 0; p < m.NParametres; ++p)
    if (compilptr c = g_state.parameters[p].Equation[k - 1]) g_cells.parameters[p] = Evaluate(c);
  for (int s = 0; s < m.NEspeces; ++s)
    if (compilptr c = g_state.species[s].Formula[k - 1]) g_cells.species[s] = Evaluate(c);
  for (int o = 0; o < m.NSorties; ++o) {
    point.YPrev[o] = point.YCalc[o];
    point.YCalc[o] = table.Outputs[o] ? Evaluate(table.Outputs[o]) : 0.0;
  }
}

bool SpeciesFinite(int n) {
  for (int s = 0; s < n; ++s)
    if (!std::isfinite(g_cells.species[s])) return false;
  return true;
}

bool OutputsFinite(const PointRecord& point, int outputs) {
  for (int o = 0; o < outputs; ++o)
    if (!std::isfinite(point.YCalc[o])) return false;
  return true;
}

// Outputs of a point reached by the engine inside its interval: the engine's status code
// when the call failed, the formulas' values otherwise.
void PointOutputs(PointTable& table, PointRecord& point) {
  const int16_t status = g_state.fitset.Erreur;
  for (int o = 0; o < g_state.initials.NSorties; ++o) {
    if (status != 0) {
      point.YCalc[o] = static_cast<double>(status);
    } else {
      point.YPrev[o] = point.YCalc[o];
      point.YCalc[o] = table.Outputs[o] ? Evaluate(table.Outputs[o]) : 0.0;
    }
  }
}

}  // namespace

bool Run_points(PointTable& table) {
  const BInitials& m = g_state.initials;
  const int npoints = m.NPoints;
  auto pt = [&table](int j) -> PointRecord& { return table.Points[j - 1]; };  // 1-based
  for (double& v : g_cells.species) v = 0.0;
  for (double& v : g_cells.parameters) v = 0.0;
  bool finite = true;
  int j = 1;
  g_cells.time = pt(1).Time;
  for (int k = 1; k <= m.NInterrupts; ++k) {
    // Interval k starts at the current point. The last point starts the intervals up to its
    // own too, so that it gets its reset and outputs like any other point.
    const bool starts = j < npoints || (j == npoints && pt(j).Interval >= k);
    if (!starts) continue;
    ResetInterval(table, pt(j), k);
    finite = finite && SpeciesFinite(m.NEspeces) && OutputsFinite(pt(j), m.NSorties);
    while (j < npoints && pt(j).Interval == k) {
      if (g_state.engine)
        g_state.engine(m.NEspeces, pt(j).Time, pt(j + 1).Time, g_state.fitset.Tolerance,
                       g_cells.species, g_cells.species, g_state.fitset.Erreur);
      j += 1;
      g_cells.time = pt(j).Time;
      finite = finite && SpeciesFinite(m.NEspeces);
      if (pt(j).Interval == k) {
        PointOutputs(table, pt(j));
        finite = finite && OutputsFinite(pt(j), m.NSorties);
      }
    }
  }
  return finite;
}

}  // namespace tarvo
