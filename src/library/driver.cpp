#include "library/driver.h"

#include <bit>
#include <cstdint>

#include "Symbolic/cells.h"
#include "Symbolic/compil.h"
#include "library/state.h"

namespace tarvo {

void Refresh_adjustables(EngineState& st) {
  const int n = st.initials.NAjustables;
  // Every plain value first: a bound expression may read any of them.
  for (int a = 0; a < n; ++a) st.cells.adjustables[a] = st.adjustables[a].Value;
  for (int a = 0; a < n; ++a) {
    PAjustable& adj = st.adjustables[a];
    if (!adj.Equation) continue;
    const double v = Evaluate(adj.Equation);
    adj.Value = v;
    st.cells.adjustables[a] = v;
  }
}

namespace {

// Output o's formula at the current cells: through its layout when it is a sum of products.
double OutputFormula(const EngineState& st, const PointTable& table, int o) {
  const compilptr c = table.Outputs[o];
  if (!c) return 0.0;
  const ProductSum& sum = st.output_sums[o];
  return sum.source == c ? ValueOf(sum) : Evaluate(c);
}

// The start of interval k at the current point: parameters, then species, from the
// interval's formulas in index order (so a formula sees the new values of lower indices), then
// the point's outputs. A missing parameter or species formula keeps the current value; a
// missing output formula gives 0.
void ResetInterval(EngineState& st, PointTable& table, PointRecord& point, int k) {
  const BInitials& m = st.initials;
  for (int p = 0; p < m.NParametres; ++p)
    if (compilptr c = st.parameters[p].Equation[k - 1]) st.cells.parameters[p] = Evaluate(c);
  for (int s = 0; s < m.NEspeces; ++s)
    if (compilptr c = st.species[s].Formula[k - 1]) st.cells.species[s] = Evaluate(c);
  for (int o = 0; o < m.NSorties; ++o) {
    point.YPrev[o] = point.YCalc[o];
    point.YCalc[o] = OutputFormula(st, table, o);
    st.output_value[o] = point.YCalc[o];
  }
}

// Whether v[0..n-1] are all finite: no exponent field is the all-ones field of an infinity or
// NaN, the one field that carries into the sign bit when 1 is added to it. One pass of
// integer operations without an early exit, which the compiler vectorises: this runs at every
// point of every walk.
bool AllFinite(const double* v, int n) {
  constexpr uint64_t kExponent = 0x7ff0000000000000u;
  constexpr uint64_t kExponentUnit = uint64_t{1} << 52;
  auto carry = [&](int i) { return (std::bit_cast<uint64_t>(v[i]) & kExponent) + kExponentUnit; };
  uint64_t carried[4] = {};  // four lanes, so that -O2 packs a block's operations
  int i = 0;
  for (; i + 4 <= n; i += 4)
    for (int k = 0; k < 4; ++k) carried[k] |= carry(i + k);
  for (; i < n; ++i) carried[0] |= carry(i);
  return ((carried[0] | carried[1] | carried[2] | carried[3]) >> 63) == 0;
}

bool SpeciesFinite(EngineState& st, int n) { return AllFinite(st.cells.species, n); }

bool OutputsFinite(const PointRecord& point, int outputs) { return AllFinite(point.YCalc, outputs); }

// Outputs of a point reached by the engine inside its interval: the engine's status code
// when the call failed, the formulas' values otherwise.
void PointOutputs(EngineState& st, PointTable& table, PointRecord& point) {
  const int16_t status = st.fitset.Erreur;
  for (int o = 0; o < st.initials.NSorties; ++o) {
    if (status != 0) {
      point.YCalc[o] = static_cast<double>(status);
    } else {
      point.YPrev[o] = point.YCalc[o];
      if (!table.Outputs[o])
        point.YCalc[o] = 0.0;
      else
        point.YCalc[o] = st.output_varying[o] ? OutputFormula(st, table, o) : st.output_value[o];
    }
  }
}

}  // namespace

bool Run_points(EngineState& st, PointTable& table) {
  const BInitials& m = st.initials;
  const int npoints = m.NPoints;
  auto pt = [&table](int j) -> PointRecord& { return table.Points[j - 1]; };  // 1-based
  for (double& v : st.cells.species) v = 0.0;
  for (double& v : st.cells.parameters) v = 0.0;
  bool finite = true;
  int j = 1;
  st.cells.time = pt(1).Time;
  for (int k = 1; k <= m.NInterrupts; ++k) {
    // Interval k starts at the current point. The last point starts the intervals up to its
    // own too, so that it gets its reset and outputs like any other point.
    const bool starts = j < npoints || (j == npoints && pt(j).Interval >= k);
    if (!starts) continue;
    ResetInterval(st, table, pt(j), k);
    finite = finite && SpeciesFinite(st, m.NEspeces) && OutputsFinite(pt(j), m.NSorties);
    if (st.external && st.work) {
      int last = j;  // the point where the walk of interval k ends
      while (last < npoints && pt(last).Interval == k) ++last;
      st.external->begin_interval(st.work, st.rates, m.NEspeces, k, pt(j).Time, pt(last).Time);
    }
    while (j < npoints && pt(j).Interval == k) {
      if (j + kRecordsAhead <= npoints) PrefetchWalked(pt(j + kRecordsAhead), m.NSorties);
      if (st.engine)
        st.engine(st.rates, m.NEspeces, pt(j).Time, pt(j + 1).Time, st.fitset.Tolerance,
                       st.cells.species, st.cells.species, st.fitset.Erreur);
      else if (st.external && st.work)
        st.external->advance(st.work, st.rates, m.NEspeces, pt(j).Time, pt(j + 1).Time,
                             st.fitset.Tolerance, st.cells.species, st.cells.species,
                             st.fitset.Erreur);
      j += 1;
      st.cells.time = pt(j).Time;
      finite = finite && SpeciesFinite(st, m.NEspeces);
      if (pt(j).Interval == k) {
        PointOutputs(st, table, pt(j));
        finite = finite && OutputsFinite(pt(j), m.NSorties);
      }
    }
  }
  return finite;
}

}  // namespace tarvo
