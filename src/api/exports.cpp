// The exported calls: each runs on the process-wide instance (api/instance.h) and hands the
// instance's failure to the process's last-failure record, so that no failure leaves the
// library as a C++ exception and Tarvo_last_failure reports it; a raised failure then leaves
// the call the platform's way (api/boundary.h).
#include "api/exports.h"

#include "api/boundary.h"
#include "api/instance.h"

namespace {

void Report(bool raised) noexcept {
  const tarvo::Instance& in = tarvo::ProcessInstance();
  tarvo::ClearLastFailure();
  if (in.failure_kind != tarvo::FailureKind::None)
    tarvo::SetLastFailure(in.failure_kind, in.failure.c_str());
  if (raised) tarvo::LeaveAfterFailure();
}

}  // namespace

extern "C" TARVO_API void Calcul_initial(tarvo::BInitials* initials, tarvo::BFitSet* fitset,
                                         VARIANT* especes, tarvo::BAjustables* adjustables,
                                         VARIANT* parametres, tarvo::BSorties* sorties,
                                         VARIANT* derivees) {
  Report(tarvo::Instance_setup(tarvo::ProcessInstance(), initials, fitset, especes, adjustables,
                               parametres, sorties, derivees));
}

extern "C" TARVO_API void Simulation(tarvo::BInitials* initials, tarvo::BFitSet* fitset,
                                     void* /*unused*/, tarvo::BAjustables* adjustables) {
  Report(tarvo::Instance_simulate(tarvo::ProcessInstance(), initials, fitset, adjustables));
}

extern "C" TARVO_API void Ajustement(tarvo::BInitials* initials, tarvo::BFitSet* fitset,
                                     void* /*unused*/, tarvo::BAjustables* adjustables) {
  Report(tarvo::Instance_fit(tarvo::ProcessInstance(), initials, fitset, adjustables));
}

extern "C" TARVO_API void Fin(const int16_t* mode) {
  Report(tarvo::Instance_release(tarvo::ProcessInstance(), mode));
}
