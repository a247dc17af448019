// Sensitivities of the simulated outputs to the free adjustables, stored in the Sens field of
// the live point table (column a for adjustable number a; only free columns are written).
//
// Sensibilites differences the model forward: each free adjustable in turn is raised by 1 %
// (a value of exactly 0 is set to 0.01 instead and its column divided by 1, so no quotient
// by zero arises), bound adjustables are refreshed, and Run_points walks a scratch table; the
// live table's YCalc (the last Simulation) is the base point. The value is restored and
// refreshed again after each column, also when a raised failure leaves the routine.
//
// The scratch table holds only what a walk reads and writes: the output handles and, of the
// records of the NPoints points, every field but Sens; it lives for one call. When it cannot
// be allocated, BFitSet.Erreur is set to kErreurNoMemory and the failure is recorded for
// Tarvo_last_failure; nothing else changes.
//
// Correction_secante corrects the free columns from the last applied step dP and the change
// it produced (YCalc - YPrev), column after column; with every free dP 0 it changes nothing.
#pragma once

#include <cstdint>

#include "library/erreur_codes.h"
#include "library/records.h"

namespace tarvo {

void Sensibilites();
void Correction_secante();

// The two halves of Sensibilites, for a caller that supplies its own scratch table:
// CopyForSimulation fills what a walk needs; DifferenceColumns writes the free columns.
void CopyForSimulation(const PointTable& from, PointTable& to);
void DifferenceColumns(PointTable& scratch);

}  // namespace tarvo
