// The library's rules that a caller of the engine instances needs to interpret their results
// the way the library does: the weight of a (point, output) pair, the measure a fit's
// convergence is decided on, and the table limits. They
// are the library's own definitions, not copies, so the front end cannot drift from them.
#pragma once

#include "Symbolic/limits.h"
#include "fitting/ajustement.h"
#include "library/statistics.h"

namespace tarvo::api {

using tarvo::ConvergenceMeasure;
using tarvo::PairWeight;

}  // namespace tarvo::api
