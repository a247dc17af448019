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

namespace tarvo {

EngineState& ProcessState() {
  static EngineState state;
  return state;
}

}  // namespace tarvo

namespace {

template <class Body>
void Call(Body&& body) noexcept {
  tarvo::Guarded([&] {
    tarvo::EngineState& st = tarvo::ProcessState();
    st.notice_kind = tarvo::FailureKind::None;
    body(st);
    if (st.notice_kind != tarvo::FailureKind::None)
      tarvo::SetLastFailure(st.notice_kind, st.notice);
  });
}

}  // namespace

extern "C" TARVO_API void Calcul_initial(tarvo::BInitials* initials, tarvo::BFitSet* fitset,
                                         VARIANT* especes, tarvo::BAjustables* adjustables,
                                         VARIANT* parametres, tarvo::BSorties* sorties,
                                         VARIANT* derivees) {
  Call([&](tarvo::EngineState& st) {
    tarvo::SetupModel(st, initials, fitset, especes, adjustables, parametres, sorties, derivees);
  });
}

extern "C" TARVO_API void Simulation(tarvo::BInitials* initials, tarvo::BFitSet* fitset,
                                     void* /*unused*/, tarvo::BAjustables* adjustables) {
  Call([&](tarvo::EngineState& st) { tarvo::SimulateModel(st, initials, fitset, adjustables); });
}

extern "C" TARVO_API void Ajustement(tarvo::BInitials* initials, tarvo::BFitSet* fitset,
                                     void* /*unused*/, tarvo::BAjustables* adjustables) {
  Call([&](tarvo::EngineState& st) { tarvo::FitIteration(st, initials, fitset, adjustables); });
}

extern "C" TARVO_API void Fin(const int16_t* mode) {
  Call([&](tarvo::EngineState& st) { tarvo::FinishModel(st, mode); });
}
