// Fit statistics over a point table after a walk: weights, the error-model coefficient, and
// the weighted scatters of the replicates about their means and about the model.
#pragma once

#include "library/state.h"
#include "library/records.h"

namespace tarvo {

// The weight of one (point, output) pair with replicates: (mean * calc)^(-type_erreur / 2),
// 1 for type 0, and 0 unless both the measured mean and the simulated value exceed 1e-130.
double PairWeight(double mean, double calc, double type_erreur);

// The data's own part of Coeff_estimate, per (output, point): ln of the replicates' mean and,
// with two replicates or more, their variance and its ln. They do not change from one
// simulation to the next, so the set-up computes them once (after the replicate means);
// Coeff_estimate then gives the same figures bit for bit without taking a logarithm of the
// data again.
inline constexpr size_t kDataTermsSlot = 3;
void PrepareDataTerms(EngineState& st, const PointTable& table);

void Weights(EngineState& st, PointTable& table, double type_erreur);
double Coeff_estimate(EngineState& st, PointTable& table, double type_erreur);
double Scatter_exp(EngineState& st, const PointTable& table);
double Scatter_calc(EngineState& st, const PointTable& table);

}  // namespace tarvo
