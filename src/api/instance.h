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
#include <vector>

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

// Beyond the host contract, for in-process callers that read the results from the instance
// instead of the exchange file (the exported calls' instance never uses them):
//
// Instance_rewrite_file: whether Simulation and Ajustement rewrite the exchange file (true
// when made). Set it before the set-up: with it off the set-up takes no rewrite buffer.
void Instance_rewrite_file(Instance& in, bool rewrite) noexcept;
// The points of the next set-up, as count exchange-file records in memory: it reads them
// instead of the file and forgets them (a later set-up reads the file unless given records
// again). The caller keeps them alive through that set-up only. Fewer records than NPoints
// raises an input-output failure, as a short file does.
void Instance_give_records(Instance& in, const FileRecord* records, int32_t count) noexcept;
// The outputs of the last simulation, one row per point of the loaded model, as the rewrite
// would write them (the engine's status code where the last engine call failed). False, and
// ycalc empty, when no model is ready or the rows cannot be had.
bool Instance_outputs(const Instance& in, std::vector<std::vector<double>>& ycalc) noexcept;
// Sets the value of adjustable a (0-based) of the loaded model, as a set-up given that value
// would have it; the next simulation or fitting call starts from it. An adjustable bound by a
// formula keeps following it. False when no model is ready or a is out of range.
bool Instance_set_value(Instance& in, int a, double value) noexcept;

// Lanes (fitting/lanes.h): walks of the loaded model at other values side by side, the
// outputs alone. Instance_lanes prepares them and returns their number (0 when no model is
// ready); they serve until the next call of the four above or Instance_set_value.
// Instance_walk walks one lane at values[0..count) (adjustable a at values[a]; more values
// than the model's adjustables are refused) and fills ycalc as Instance_outputs would
// after a simulation at those values, and erreur as that simulation would report it. It
// returns false, with the failure's message (and not the instance's failure record, which
// the other lanes share), when the walk raised a failure. Different lanes may be walked on
// different threads at once.
int32_t Instance_lanes(Instance& in) noexcept;
bool Instance_walk(Instance& in, int32_t lane, const double* values, int32_t count,
                   std::vector<std::vector<double>>& ycalc, int16_t& erreur,
                   std::string& message) noexcept;

// The instance the exported calls act on: it accepts the built-in methods only.
Instance& ProcessInstance();

}  // namespace tarvo
