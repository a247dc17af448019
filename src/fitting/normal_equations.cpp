#include "fitting/normal_equations.h"

#include <cmath>

#include "fitting/fit_tables.h"
#include "fitting/sensitivities.h"
#include "library/state.h"

namespace tarvo {

void Equations_normales(EngineState& st, int mode, FitMatrix& M, FitVector& g) {
  M = FitMatrix{};
  g = FitVector{};
  if (mode == 0) {
    Sensibilites(st);
  } else {
    Correction_secante(st);
  }

  const FreeList f = FreeAdjustables(st);
  const PointTable& t = *st.points;
  const int32_t np = FitPointCount(st);
  const int32_t no = FitOutputCount(st);
  for (int32_t k = 0; k < no; ++k) {
    for (int32_t j = 0; j < np; ++j) {
      if (st.fitset.Erreur != 0) continue;
      const PointRecord& p = t.Points[j];
      const int16_t n = p.NRep[k];
      if (n <= 0) continue;
      const double w = static_cast<double>(n) * p.Weight[k];
      const double r = w * (p.YMean[k] - p.YCalc[k]);
      for (int32_t c = 0; c < f.count; ++c) {
        const double sa = p.Sens[k][f.index[c]];
        g.v[c] = g.v[c] + r * sa;
        for (int32_t d = 0; d < f.count; ++d) {
          M.a[c][d] = M.a[c][d] + (w * sa) * p.Sens[k][f.index[d]];
        }
      }
    }
  }
  const double damping = st.fitset.Marquard + 1;
  for (int32_t i = 0; i < f.count; ++i) M.a[i][i] = M.a[i][i] * damping;
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
