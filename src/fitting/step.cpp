#include "fitting/step.h"

#include <cmath>

#include "fitting/fit_tables.h"
#include "fitting/normal_equations.h"
#include "fitting/solvers.h"
#include "library/erreur_codes.h"
#include "library/state.h"

namespace tarvo {

double Limited_step(double value, double x) {
  if (x == 0) return 0;  // nothing to move; for a value of 0 or below the rule is 0 / 0
  if (value > std::fabs(x)) return 0.9 * x;
  return (value * 0.9 * x) / std::fabs(x);
}

void Pas_ajustement(EngineState& st, int mode) {
  FitMatrix M;
  FitVector g;
  FitVector x;
  Equations_normales(st, mode, M, g);
  BFitSet& fs = st.fitset;
  const FreeList f = FreeAdjustables(st);
  // A simulation that left the finite numbers poisons the equations; neither they nor a step
  // that overflowed may move an adjustable.
  if (fs.Erreur == 0 && !Finite(f.count, M, g)) fs.Erreur = kErreurNonFinite;
  if (fs.Erreur == 0) fs.Erreur = static_cast<int16_t>(Resolution(f.count, M, g, x));
  if (fs.Erreur == 0 && !Finite(f.count, x)) fs.Erreur = kErreurNonFinite;
  if (fs.Erreur != 0) return;
  for (int32_t c = 0; c < f.count; ++c) {
    PAjustable& adj = st.adjustables[f.index[c]];
    adj.dP = Limited_step(adj.Value, x.v[c]);
  }
}

}  // namespace tarvo
