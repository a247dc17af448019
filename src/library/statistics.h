// Fit statistics over a point table after a walk: weights, the error-model coefficient, and
// the weighted scatters of the replicates about their means and about the model.
#pragma once

#include "library/state.h"
#include "library/records.h"

namespace tarvo {

// The weight of one (point, output) pair with replicates: (mean * calc)^(-type_erreur / 2),
// 1 for type 0, and 0 unless both the measured mean and the simulated value exceed 1e-130.
double PairWeight(double mean, double calc, double type_erreur);

// The figures of one simulation: the error model's coefficient, the weighted mean square of
// the replicates about their means (ErreurExp) and about the model (ErreurCalc).
struct SimulationFigures {
  double coeff = 1.0, erreur_exp = 0.0, erreur_calc = 0.0;
};

// The data terms of table's model (its counts in st): into st.data, for st's own table.
void PrepareDataTerms(EngineState& st, const PointTable& table);

// Writes Weight (every pair) and Variance (pairs whose mean exceeds 1e-130) into the records
// and returns the figures. The sums run over outputs (outer), points, then replicates, so
// that they accumulate in a fixed order and the figures are reproducible to the last bit. A
// table other than st's own has its data terms made on the spot.
SimulationFigures Statistics(EngineState& st, PointTable& table, double type_erreur);

}  // namespace tarvo
