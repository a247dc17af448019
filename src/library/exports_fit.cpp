// The exported fitting call: one iteration of the fit, run through the boundary guard so that
// no failure leaves the library as a C++ exception. The third argument is never read.
#include "fitting/ajustement.h"
#include "library/boundary.h"
#include "library/exports.h"

extern "C" TARVO_API void Ajustement(tarvo::BInitials* initials, tarvo::BFitSet* fitset,
                                     void* /*unused*/, tarvo::BAjustables* adjustables) {
  tarvo::Guarded([&] { tarvo::FitIteration(initials, fitset, adjustables); });
}
