// Integration methods supplied from outside the core: a method library (built only where its
// own dependencies are found) fills a table of them and registers it once; engine instances
// (api/instance.h) then accept those method names at set-up besides the four built-in ones.
// The exported calls never consult the table: to a host the names stay unknown methods.
//
// Unlike an Engine_proc, an external engine keeps work between its calls (a cache, a solver's
// memory): set-up creates one EngineWork per loaded model, release destroys it. The walk of
// the points announces every interval start (parameters and species already reset) before it
// calls advance for the points of that interval, so the engine may carry its state from one
// point to the next inside an interval and must start afresh at each announcement.
//
// advance keeps the Engine_proc contract (engine.h): y_in read whole before y_out is written,
// status set to 0 first and reported with the engine status codes (kStatusEmptyInterval for
// t1 not after t0, kStatusStepBudget past kMaxEngineSteps steps, kStatusNotReached for a call
// that stopped early, with y_out the state reached), species never clamped, so that a state
// that leaves the finite numbers reaches the walk, which reports it as for any engine.
// Formulas are evaluated only through the rate table's routines (derivatives.h), so trial
// states never leak into the live cells. No hook lets an exception out except a Failure
// raised by a formula (a negative base to a fractional power), which the instance reports.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "Symbolic/cells.h"
#include "Symbolic/notation.h"
#include "engines/derivatives.h"
#include "engines/engine.h"

namespace tarvo {

struct EngineWork;  // defined by each method library

struct ExternalMethod {
  std::u16string_view name;  // as the caller writes it in BFitSet.Method, matched exactly
  // Why the method cannot integrate species 1..n of the classified rate table (formulas bound
  // to cells; names[i] is species i+1's name); empty when it can.
  std::string (*unsuitable)(const RateTable& rates, const FormulaCells& cells, int32_t n,
                            const Text* names);
  EngineWork* (*create)();                // nil when memory is short
  void (*destroy)(EngineWork* work);      // nil does nothing
  // Interval `interval` (1-based) starts at t_start; its walk ends at t_end (the time of the
  // last point it reaches). The rate table's parameter and adjustable cells hold its values.
  void (*begin_interval)(EngineWork* work, RateTable& rates, int32_t n, int32_t interval,
                         double t_start, double t_end);
  void (*advance)(EngineWork* work, RateTable& rates, int32_t n, double t0, double t1,
                  double tol, const double* y_in, double* y_out, int16_t& status);
};

struct ExternalMethodTable {
  const ExternalMethod* methods = nullptr;
  int32_t count = 0;
};

// Installs table (which must outlive every instance that uses it; nil removes it). Safe to
// call from any thread; set-ups already running keep the table they found.
void RegisterExternalMethods(const ExternalMethodTable* table);

// The registered table, nil when none.
const ExternalMethodTable* RegisteredExternalMethods();

// The entry of table named exactly name; nil when table is nil or has none.
const ExternalMethod* FindExternalMethod(const ExternalMethodTable* table,
                                         std::u16string_view name);

}  // namespace tarvo
