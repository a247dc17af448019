// The method library (CMake target tarvo_methods, built where Eigen and SUNDIALS are found):
// two integration methods beyond the four of the host contract, offered to engine instances
// through the external method table of engines/external.h.
//
//   "EXACT"  linear kinetics, by the exponential of the rate matrix (exact.h);
//   "BDF"    stiff kinetics, by SUNDIALS CVODE's variable-order BDF (bdf.h).
//
// A program that wants them calls RegisterMethodLibrary once (any thread, any time before the
// set-ups that name them); afterwards every Instance made with accept_external (the default)
// accepts the two names. The exported calls never do.
#pragma once

#include "engines/external.h"

namespace tarvo {

// The table of the two methods; it lives as long as the program.
const ExternalMethodTable& MethodLibraryTable();

// RegisterExternalMethods(&MethodLibraryTable()).
void RegisterMethodLibrary();

}  // namespace tarvo
