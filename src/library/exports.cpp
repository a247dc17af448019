// The exported set-up, simulation and release calls: each runs its body through the boundary
// guard, so that no failure leaves the library as a C++ exception.
#include "library/exports.h"

#include "library/boundary.h"
#include "library/release.h"
#include "library/setup.h"
#include "library/simulation.h"

extern "C" TARVO_API void Calcul_initial(tarvo::BInitials* initials, tarvo::BFitSet* fitset,
                                         VARIANT* especes, tarvo::BAjustables* adjustables,
                                         VARIANT* parametres, tarvo::BSorties* sorties,
                                         VARIANT* derivees) {
  tarvo::Guarded([&] {
    tarvo::SetupModel(initials, fitset, especes, adjustables, parametres, sorties, derivees);
  });
}

extern "C" TARVO_API void Simulation(tarvo::BInitials* initials, tarvo::BFitSet* fitset,
                                     void* /*unused*/, tarvo::BAjustables* adjustables) {
  tarvo::Guarded([&] { tarvo::SimulateModel(initials, fitset, adjustables); });
}

extern "C" TARVO_API void Fin(const int16_t* mode) {
  tarvo::Guarded([&] { tarvo::FinishModel(mode); });
}
