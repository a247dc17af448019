// Fit statistics over a point table after a walk: weights, the error-model coefficient, and
// the weighted scatters of the replicates about their means and about the model.
#pragma once

#include "library/records.h"

namespace tarvo {

void Weights(PointTable& table, double type_erreur);
double Coeff_estimate(PointTable& table, double type_erreur);
double Scatter_exp(const PointTable& table);
double Scatter_calc(const PointTable& table);

}  // namespace tarvo
