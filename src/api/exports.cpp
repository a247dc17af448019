// The exported calls: each runs its body through the boundary guard, so that no failure leaves
// the library as a C++ exception, and hands what the call reports without raising (a refused
// model) to the last-failure record. They act on the one engine state of the process.
#include "api/exports.h"

#include "api/boundary.h"
#include "fitting/ajustement.h"
#include "library/release.h"
#include "library/setup.h"
#include "library/simulation.h"
#include "library/state.h"

namespace {

template <class Body>
void Call(Body&& body) noexcept {
  tarvo::Guarded([&] {
    tarvo::g_state.notice_kind = tarvo::FailureKind::None;
    body();
    if (tarvo::g_state.notice_kind != tarvo::FailureKind::None)
      tarvo::SetLastFailure(tarvo::g_state.notice_kind, tarvo::g_state.notice);
  });
}

}  // namespace

extern "C" TARVO_API void Calcul_initial(tarvo::BInitials* initials, tarvo::BFitSet* fitset,
                                         VARIANT* especes, tarvo::BAjustables* adjustables,
                                         VARIANT* parametres, tarvo::BSorties* sorties,
                                         VARIANT* derivees) {
  Call([&] {
    tarvo::SetupModel(initials, fitset, especes, adjustables, parametres, sorties, derivees);
  });
}

extern "C" TARVO_API void Simulation(tarvo::BInitials* initials, tarvo::BFitSet* fitset,
                                     void* /*unused*/, tarvo::BAjustables* adjustables) {
  Call([&] { tarvo::SimulateModel(initials, fitset, adjustables); });
}

extern "C" TARVO_API void Ajustement(tarvo::BInitials* initials, tarvo::BFitSet* fitset,
                                     void* /*unused*/, tarvo::BAjustables* adjustables) {
  Call([&] { tarvo::FitIteration(initials, fitset, adjustables); });
}

extern "C" TARVO_API void Fin(const int16_t* mode) {
  Call([&] { tarvo::FinishModel(mode); });
}
