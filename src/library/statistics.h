// Fit statistics over a point table after a walk: weights, the error-model coefficient, and
// the weighted scatters of the replicates about their means and about the model.
#pragma once

#include "library/state.h"
#include "library/records.h"

namespace tarvo {

// The weight of one (point, output) pair with replicates: (mean * calc)^(-type_erreur / 2),
// 1 for type 0, and 0 unless both the measured mean and the simulated value exceed 1e-130.
double PairWeight(double mean, double calc, double type_erreur);

void Weights(EngineState& st, PointTable& table, double type_erreur);
double Coeff_estimate(EngineState& st, PointTable& table, double type_erreur);
double Scatter_exp(EngineState& st, const PointTable& table);
double Scatter_calc(EngineState& st, const PointTable& table);

}  // namespace tarvo
