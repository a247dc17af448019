#include "language/tolerance_range.h"

#include <cstdio>

namespace tarvo::frontend {

namespace {

std::string Short(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%g", v);
  return buf;
}

bool FixedStep(const std::string& m) { return m == "RUNGE-KUTTA 4" || m == "RUNGE-KUTTA 5"; }

}  // namespace

ToleranceRange MeaningfulTolerance(const std::string& method) {
  if (FixedStep(method)) return {1e-12, 1e-2};
  if (method == "RUNGE-KUTTA QC") return {1e-14, 1e-2};
  if (method == "CHU-BERMAN") return {1e-13, 1e-2};
  return {0, 0};
}

std::string ToleranceProblem(const std::string& method, double tol) {
  const ToleranceRange r = MeaningfulTolerance(method);
  if (r.high == 0 || (tol >= r.low && tol <= r.high)) return "";
  std::string why;
  if (tol > r.high) {
    if (FixedStep(method))
      why = "fewer than 10 steps of (gap) x sqrt(tolerance) would cover a gap and the state "
            "returned may belong to a time up to sqrt(tolerance) gaps after the point";
    else if (method == "RUNGE-KUTTA QC")
      why = "the engine would allow relative errors of that size per step and stop after "
            "1/tolerance steps, before the point or past it";
    else
      why = "each step would allow a relative error of that size per species";
  } else {
    if (FixedStep(method))
      why = "each gap would take more than a million steps, whose rounding outweighs what "
            "they gain";
    else
      why = "the engine's error test would ask for less than the rounding of a double, so "
            "its steps would shrink without end";
  }
  return "'tolerance' = " + Short(tol) + " is outside " + Short(r.low) + " .. " +
         Short(r.high) + ", the range in which " + method + " gives meaningful results: " + why;
}

}  // namespace tarvo::frontend
