// "BDF": stiff kinetics by SUNDIALS CVODE, variable-order BDF with Newton iterations on a
// dense linear solver.
//
// One CVODE memory per engine work, made at the first call and kept for the model's life.
// At an interval start it is re-initialised (CVodeReInit) from the interval's first point and
// its start values, with the interval's last time as CVODE's stop time, so that no step runs
// past the parameters of the interval; the points inside the interval are then reached by
// CVODE's own free steps and its interpolation to each time (CV_NORMAL), carrying the solver
// state from one point to the next. A call whose t0 or y_in is not where the previous call
// ended (or whose tolerance changed) re-initialises too.
//
// Tolerances: relative = tol; absolute = tol x the largest magnitude among the start values of
// species 1..n at the (re-)initialisation (1 when all are 0): errors are measured against the
// scale of the model's amounts, so a species near zero does not force steps to resolve its
// rounding.
//
// Jacobian: when no coefficient or free term reads a species, the Jacobian of M y + b is M
// itself (evaluated at the step's time when some coefficient reads the time); otherwise M
// plus the species derivatives of the coefficients and free terms (engines/derivatives.h),
// and difference quotients of the rates only where those derivatives are not finite (a
// fractional power of a species at zero).
//
// Status (set to 0 first): 1 tol not above 1e-130 (NaN included); 3 t1 not after t0 (overrides
// 1); both leave y_out := y_in. 16 (kStatusStepBudget) when CVODE took kMaxEngineSteps steps
// in this call without reaching t1; 2 when CVODE stopped otherwise (error or convergence test
// failures at the smallest step, too much accuracy asked, or a step too small to move the
// time, as near a blow-up). In both, y_out is the state CVODE reached. A start state that is
// not finite passes through unchanged (status 0); a rate that leaves the finite numbers stops
// CVODE (2) and the species whose rate was not finite come back as that rate's value, so the
// walk reports the state as not finite, as for any engine.
#pragma once

#include "engines/external.h"

namespace tarvo {

ExternalMethod BdfMethod();

}  // namespace tarvo
