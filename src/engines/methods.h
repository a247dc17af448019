// The method table: the four integration methods by the name the host writes in
// BFitSet.Method, in the order set-up compares them. Names match exactly (upper case, one
// blank before "QC", "4" and "5"); anything else selects no engine.
//
// And what every method name means to a caller that picks one (the front end's checks): the
// four built-in methods and the two of the method library (engines/external.h), which only
// engine instances accept.
#pragma once

#include <string_view>

#include "engines/engine.h"

namespace tarvo {

struct MethodEntry {
  std::u16string_view name;
  Engine_proc engine;
};

inline constexpr int kMethodCount = 4;
extern const MethodEntry kMethods[kMethodCount];

// The engine of the method named exactly name; nil when no method matches.
Engine_proc EngineForMethod(std::u16string_view name);

// Facts of one method. The tolerance range is where the method's results mean something, as
// worked out from how its engine uses the value; why_high and why_low say what goes wrong
// above and below it (a clause that completes "outside the range ...: ").
struct MethodFacts {
  std::string_view name;
  bool fixed_steps;  // steps of (gap) x sqrt(tolerance), the state of the first step past t1
  // Chooses its steps as it goes, so that the work of a simulation is known only by running
  // it; the others' work follows from the model's size (and the tolerance, for fixed steps).
  bool adaptive_steps;
  bool external;     // supplied by the method library: engine instances only, never a host
  bool uses_tolerance;
  double tolerance_low;
  double tolerance_high;
  std::string_view why_high;
  std::string_view why_low;
};

inline constexpr MethodFacts kMethodFacts[] = {
    // Steps of (gap) x sqrt(tolerance), returning the state at the first step past the point.
    // Above 1e-2 fewer than 10 steps cover a gap and the state returned may belong to a time
    // up to sqrt(tolerance) gaps late (from 1 on, one step of the whole gap or more: rate
    // constants come out scaled by about 1/sqrt(tolerance)). Below 1e-12 a gap takes over a
    // million steps, whose rounding outweighs the truncation error they remove.
    {"RUNGE-KUTTA 4", true, false, false, true, 1e-12, 1e-2,
     "fewer than 10 steps of (gap) x sqrt(tolerance) would cover a gap and the state returned "
     "may belong to a time up to sqrt(tolerance) gaps after the point",
     "each gap would take more than a million steps, whose rounding outweighs what they gain"},
    {"RUNGE-KUTTA 5", true, false, false, true, 1e-12, 1e-2,
     "fewer than 10 steps of (gap) x sqrt(tolerance) would cover a gap and the state returned "
     "may belong to a time up to sqrt(tolerance) gaps after the point",
     "each gap would take more than a million steps, whose rounding outweighs what they gain"},
    // Accepts a step whose relative step-doubling difference is below the tolerance and stops
    // after 1/tolerance steps: above 1e-2 it may stop after fewer than 100 steps, and from 1
    // on after one step that overshoots the point; below 1e-14 the test asks for less than
    // the rounding of a double (about 2e-16 per operation), so steps shrink without end.
    {"RUNGE-KUTTA QC", false, true, false, true, 1e-14, 1e-2,
     "the engine would allow relative errors of that size per step and stop after "
     "1/tolerance steps, before the point or past it",
     "the engine's error test would ask for less than the rounding of a double, so its steps "
     "would shrink without end"},
    // Halves a step until the summed relative third-order correction is below the tolerance,
    // with steps of at most a third of the gap: above 1e-2 a step may carry percent-level
    // errors per species; below 1e-13 the sum over the species' rounding can no longer pass
    // the test and the step collapses.
    {"CHU-BERMAN", false, true, false, true, 1e-13, 1e-2,
     "each step would allow a relative error of that size per species",
     "the engine's error test would ask for less than the rounding of a double, so its steps "
     "would shrink without end"},
    // The exponential of the rate matrix, one per gap: exact up to rounding whatever the
    // tolerance, which it never reads. Any value in 1e-16..1 is accepted; one outside is
    // most likely meant for another method.
    {"EXACT", false, false, true, false, 1e-16, 1.0,
     "EXACT does not use the tolerance, and a value above 1 is most likely meant for another "
     "method",
     "EXACT does not use the tolerance, and a value that small is most likely meant for "
     "another method"},
    // CVODE's variable-order BDF with relative tolerance = the tolerance and absolute
    // tolerance = the tolerance x the largest start value of the interval: above 1e-2 errors
    // of percents per step; below 1e-12 the local error test nears the rounding of the
    // Newton iterations and CVODE gives up (too much accuracy asked) or crawls.
    {"BDF", false, true, true, true, 1e-12, 1e-2,
     "CVODE would keep local errors of that relative size per step",
     "CVODE's error test would ask for about the rounding of its Newton iterations, so it "
     "would crawl or give up"},
};

// The facts of the method named exactly name (UTF-8); nil for an unknown name.
constexpr const MethodFacts* FactsForMethod(std::string_view name) {
  for (const MethodFacts& f : kMethodFacts)
    if (f.name == name) return &f;
  return nullptr;
}

}  // namespace tarvo
