// The damped normal equations of the weighted least-squares fit, indexed by free position:
// M(c, d) = sum of NRep * Weight * Sens(c) * Sens(d) and g(c) = sum of NRep * Weight *
// (YMean - YCalc) * Sens(c) over the (point, output) pairs with data, both triangles
// accumulated, then the diagonal scaled by Marquard + 1.
//
// Mode 0 first differences the model afresh (Sensibilites), any other mode corrects the
// stored sensitivities by the secant rule (Correction_secante). When BFitSet.Erreur is not 0
// after that, nothing is accumulated. M and g belong to the caller (no heap).
#pragma once

#include "library/state.h"
#include "fitting/solvers.h"

namespace tarvo {

void Equations_normales(EngineState& st, int mode, FitMatrix& M, FitVector& g);

// True when the first n entries of v (and the leading n x n block of M) are all finite.
bool Finite(int32_t n, const FitVector& v);
bool Finite(int32_t n, const FitMatrix& M, const FitVector& g);

}  // namespace tarvo
