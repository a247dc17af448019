// Sensitivities of the simulated outputs to the free adjustables, stored in the Sens field of
// the live point table (column a for adjustable number a; only free columns are written).
//
// Sensibilites differences the model forward: each free adjustable in turn is raised by 1 %
// (a value of exactly 0 is set to 0.01 instead and its column divided by 1, so no quotient
// by zero arises), bound adjustables are refreshed, and Run_points walks a scratch table; the
// live table's YCalc (the last Simulation) is the base point. The value is restored and
// refreshed again after each column, also when a raised failure leaves the routine.
//
// The scratch table is the engine state's, allocated with the point table at set-up, so that a
// fitting iteration allocates nothing; a walk uses only what it reads and writes there: the
// output handles and, of the records of the NPoints points, every field but Sens.
//
// Correction_secante corrects the free columns from the last applied step dP and the change
// it produced (YCalc - YPrev), column after column; with every free dP 0 it changes nothing.
#pragma once

#include <cstdint>

#include "library/records.h"
#include "library/state.h"

namespace tarvo {

void Sensibilites(EngineState& st);
void Correction_secante(EngineState& st);

// The two halves of Sensibilites, for a caller that supplies its own scratch table:
// CopyForSimulation fills what a walk needs; DifferenceColumns writes the free columns.
void CopyForSimulation(EngineState& st, const PointTable& from, PointTable& to);
// The walked fields alone (records.h), for a table whose output handles are its own.
void CopyWalkedFields(EngineState& st, const PointTable& from, PointTable& to);
void DifferenceColumns(EngineState& st, PointTable& scratch);

}  // namespace tarvo
