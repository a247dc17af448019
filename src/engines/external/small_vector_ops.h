// CVODE's vector operations for kinetic models' short vectors (at most kMaxSpecies entries).
//
// CVODE works through an N_Vector's table of operations: a step of a 4-species model calls
// about 24 linear sums, a dozen other operations and two weighted norms. The serial vector's
// own operations pick among special cases and helpers before a loop of four entries, so that
// for a small model most of a step's time went into the calls rather than into the sums.
// UseSmallVectorOps replaces the operations CVODE calls per step on one vector (its clones,
// which CVODE makes for its own work, copy the table) with direct loops.
//
// Every replacement gives the serial vector's results bit for bit: the same operations on each
// entry in the same order, including the two cases where the serial sum factors (z = c (x + y)
// when a = b, z = c (x - y) when a = -b, neither being +-1) and the fused operations'
// fallbacks, which run the vectors one after another. Built with -ffp-contract=off like the
// rest, so no product and sum fuse where the library's do not.
#pragma once

#include <sundials/sundials_nvector.h>

namespace tarvo {

// v must be a serial vector (N_VNew_Serial); its clones made afterwards share the operations.
void UseSmallVectorOps(N_Vector v);

}  // namespace tarvo
