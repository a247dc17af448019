// The tolerances at which each integration method gives meaningful results, worked out from
// how its engine uses the value:
//   - "RUNGE-KUTTA 4"/"5" step by (gap between points) x sqrt(tolerance) and return the state
//     at the first step past the point. Above 1e-2 fewer than 10 steps cover a gap and the
//     state returned may belong to a time up to sqrt(tolerance) gaps late (at tolerance 1
//     and above, one step of the whole gap or more: rate constants come out scaled by about
//     1/sqrt(tolerance)). Below 1e-12 a gap takes over a million steps, whose rounding
//     outweighs the truncation error they remove.
//   - "RUNGE-KUTTA QC" starts with the same step, accepts a step whose relative step-doubling
//     difference is below the tolerance and stops after 1/tolerance steps. Above 1e-2 it may
//     stop after fewer than 100 steps, and from 1 on after one step that overshoots the
//     point; below 1e-14 the test asks for less than the rounding of a double (about 2e-16
//     per operation), so steps shrink without end.
//   - "CHU-BERMAN" halves a step until the summed relative third-order correction is below
//     the tolerance, with steps of at most a third of the gap. Above 1e-2 a step may carry
//     percent-level errors per species; below 1e-13 the sum over the species' rounding can
//     no longer pass the test and the step collapses.
#pragma once

#include <string>

namespace tarvo::frontend {

struct ToleranceRange {
  double low;
  double high;
};

// The range of a known method; {0, 0} for an unknown one.
ToleranceRange MeaningfulTolerance(const std::string& method);

// Empty when tol lies in the method's range (or the method is unknown, which the library
// reports itself); else a sentence stating the range and why.
std::string ToleranceProblem(const std::string& method, double tol);

}  // namespace tarvo::frontend
