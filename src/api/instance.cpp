#include "api/instance.h"

#include <cstring>
#include <exception>
#include <new>

#include "api/boundary.h"
#include "engines/external.h"
#include "fitting/ajustement.h"
#include "fitting/lanes.h"
#include "library/release.h"
#include "library/setup.h"
#include "library/simulation.h"

namespace tarvo {

namespace {

// Allocation-free: the message buffer was reserved when the instance was made.
void Record(Instance& in, FailureKind kind, const char* message) noexcept {
  in.failure_kind = kind;
  in.failure.clear();
  if (!message) return;
  const std::size_t n = std::strlen(message);
  in.failure.append(message, Utf8Prefix(message, n, kMaxFailureMessage));
}

template <class Body>
bool Run(Instance& in, Body&& body) noexcept {
  in.failure_kind = FailureKind::None;
  in.failure.clear();
  in.state.notice_kind = FailureKind::None;
  try {
    body(in.state);
  } catch (const Failure& f) {
    Record(in, f.kind, f.message.c_str());
    return true;
  } catch (const std::bad_alloc&) {
    Record(in, FailureKind::InvalidOperation, "out of memory");
    return true;
  } catch (const std::exception& e) {
    Record(in, FailureKind::InvalidOperation, e.what());
    return true;
  } catch (...) {
    Record(in, FailureKind::InvalidOperation, "unknown failure");
    return true;
  }
  if (in.state.notice_kind != FailureKind::None)
    Record(in, in.state.notice_kind, in.state.notice.c_str());
  return false;
}

}  // namespace

Instance::Instance(bool accept_external_methods) : accept_external(accept_external_methods) {
  failure.reserve(kMaxFailureMessage + 1);
}

bool Instance_setup(Instance& in, BInitials* initials, BFitSet* fitset, VARIANT* especes,
                    BAjustables* adjustables, VARIANT* parametres, BSorties* sorties,
                    VARIANT* derivees) noexcept {
  return Run(in, [&](EngineState& st) {
    SetupModel(st, initials, fitset, especes, adjustables, parametres, sorties, derivees,
               in.accept_external ? RegisteredExternalMethods() : nullptr);
  });
}

bool Instance_simulate(Instance& in, BInitials* initials, BFitSet* fitset,
                       BAjustables* adjustables) noexcept {
  return Run(in, [&](EngineState& st) { SimulateModel(st, initials, fitset, adjustables); });
}

bool Instance_fit(Instance& in, BInitials* initials, BFitSet* fitset,
                  BAjustables* adjustables) noexcept {
  return Run(in, [&](EngineState& st) { FitIteration(st, initials, fitset, adjustables); });
}

bool Instance_release(Instance& in, const int16_t* mode) noexcept {
  return Run(in, [&](EngineState& st) { FinishModel(st, mode); });
}

void Instance_rewrite_file(Instance& in, bool rewrite) noexcept { in.state.rewrite_file = rewrite; }

void Instance_give_records(Instance& in, const FileRecord* records, int32_t count) noexcept {
  in.state.given_records = records;
  in.state.given_count = records ? count : 0;
}

bool Instance_outputs(const Instance& in, std::vector<std::vector<double>>& ycalc) noexcept {
  const EngineState& st = in.state;
  if (!ModelReady(st)) {
    ycalc.clear();
    return false;
  }
  try {
    // Rows already there are reused (a caller simulating again and again passes the same).
    const int points = st.initials.NPoints, outputs = st.initials.NSorties;
    ycalc.resize(static_cast<size_t>(points));
    for (int j = 0; j < points; ++j) {
      std::vector<double>& row = ycalc[static_cast<size_t>(j)];
      row.resize(static_cast<size_t>(outputs));
      for (int o = 0; o < outputs; ++o) row[static_cast<size_t>(o)] = ShownOutput(st, j, o);
    }
  } catch (...) {
    ycalc.clear();
    return false;
  }
  return true;
}

bool Instance_set_value(Instance& in, int a, double value) noexcept {
  EngineState& st = in.state;
  if (!ModelReady(st) || a < 0 || a >= st.initials.NAjustables) return false;
  st.adjustables[a].Value = value;
  return true;
}

int32_t Instance_lanes(Instance& in) noexcept {
  try {
    return PrepareLanes(in.state);
  } catch (...) {
    return 0;
  }
}

bool Instance_walk(Instance& in, int32_t lane, const double* values, int32_t count,
                   std::vector<std::vector<double>>& ycalc, int16_t& erreur,
                   std::string& message) noexcept {
  EngineState& st = in.state;
  if (lane < 0 || lane >= LaneCount(st) || count > st.initials.NAjustables) {
    message = lane < 0 || lane >= LaneCount(st) ? "no such lane of the loaded model"
                                                : "more values than the loaded model's adjustables";
    ycalc.clear();
    return false;
  }
  try {
    erreur = WalkLane(st, lane, values, count);
    // Rows already there are reused (a caller walking again and again passes the same).
    const int points = st.initials.NPoints, outputs = st.initials.NSorties;
    ycalc.resize(static_cast<size_t>(points));
    for (int j = 0; j < points; ++j) {
      std::vector<double>& row = ycalc[static_cast<size_t>(j)];
      row.resize(static_cast<size_t>(outputs));
      for (int o = 0; o < outputs; ++o) row[static_cast<size_t>(o)] = LaneOutput(st, lane, j, o);
    }
    return true;
  } catch (const std::exception& e) {
    message = e.what();
  } catch (...) {
    message = "unknown failure";
  }
  ycalc.clear();
  return false;
}

Instance& ProcessInstance() {
  static Instance instance(false);
  return instance;
}

EngineState& ProcessState() { return ProcessInstance().state; }

}  // namespace tarvo
