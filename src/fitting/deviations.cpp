#include "fitting/deviations.h"

#include <cmath>

#include "fitting/fit_tables.h"
#include "fitting/normal_equations.h"
#include "fitting/solvers.h"
#include "library/state.h"
#include "library/statistics.h"

namespace tarvo {
namespace {

// Puts Marquard back however the computation ends.
struct MarquardRestore {
  BFitSet& fs;
  double saved;
  ~MarquardRestore() { fs.Marquard = saved; }
};

}  // namespace

void Ecarts_types(EngineState& st) {
  FitMatrix C{};  // covariance, by adjustable number
  BFitSet& fs = st.fitset;
  if (!(fs.ErreurCalc > kTiny)) return;

  const MarquardRestore restore{fs, fs.Marquard};
  fs.Marquard = 0;
  FitMatrix M;
  FitVector g;
  FitMatrix inverse;
  Equations_normales(st, 0, M, g);
  const FreeList f = FreeAdjustables(st);
  if (fs.Erreur == 0 && !Finite(f.count, M, g)) fs.Erreur = kErreurNonFinite;
  if (fs.Erreur == 0) fs.Erreur = static_cast<int16_t>(fs.Erreur + Inversion(f.count, M, inverse));
  if (fs.Erreur != 0) return;

  // The same coefficient the last simulation stored: nothing it reads has changed since (and
  // the weights and variances it writes again are those the last simulation wrote).
  const double coeff = Statistics(st, *st.points, fs.TypeErreur).coeff;
  for (int32_t i = 0; i < f.count; ++i) {
    for (int32_t j = 0; j < f.count; ++j) C.a[f.index[i]][f.index[j]] = coeff * inverse.a[i][j];
  }
  const int32_t na = FitAdjustableCount(st);
  for (int32_t a = 0; a < na; ++a) st.adjustables[a].SD = std::sqrt(C.a[a][a]);
}

}  // namespace tarvo
