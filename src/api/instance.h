// One model held by a C++ caller (the tool, the Python module, batch fits): an engine state of
// its own and the failure of its last call. The four calls take the same records as the
// exported calls and do exactly what those do, on this instance instead of the process-wide
// one. A failure is kept in the instance (kind and message, as Tarvo_last_failure would
// report them) instead of the process's last-failure record, so instances used by different
// threads share nothing. An instance serves one thread at a time and is never copied.
//
// No call lets an exception out; each returns true when it raised a failure (a refused model
// returns normally, with failure_kind Refused, as the exported call does).
#pragma once

#include <cstdint>
#include <string>

#include "library/records.h"
#include "library/state.h"
#include "platform/failure.h"
#include "platform/variant.h"

namespace tarvo {

struct Instance {
  // accept_external: whether set-up accepts the registered external methods
  // (engines/external.h) besides the built-in four; the exported calls' instance does not.
  explicit Instance(bool accept_external = true);
  Instance(const Instance&) = delete;
  Instance& operator=(const Instance&) = delete;

  EngineState state;
  const bool accept_external;
  FailureKind failure_kind = FailureKind::None;
  std::string failure;  // at most kMaxFailureMessage bytes, cut at a character boundary
};

bool Instance_setup(Instance& in, BInitials* initials, BFitSet* fitset, VARIANT* especes,
                    BAjustables* adjustables, VARIANT* parametres, BSorties* sorties,
                    VARIANT* derivees) noexcept;
bool Instance_simulate(Instance& in, BInitials* initials, BFitSet* fitset,
                       BAjustables* adjustables) noexcept;
bool Instance_fit(Instance& in, BInitials* initials, BFitSet* fitset,
                  BAjustables* adjustables) noexcept;
bool Instance_release(Instance& in, const int16_t* mode) noexcept;

// The instance the exported calls act on: it accepts the built-in methods only.
Instance& ProcessInstance();

}  // namespace tarvo
