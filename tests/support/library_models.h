// Small models for the tests of the exported calls, described for the test host.
#pragma once

#include <cmath>
#include <string>
#include <vector>

#include "support/host.h"

namespace tarvo::testhost {

// A -> B, first order: dA/dt = -k A, dB/dt = k A, with k = adjustable 1 (through parameter 1)
// and A(0) = adjustable 2. Outputs A and B; one point per time in interval 1, each with the
// closed-form values as a single replicate. The tolerance makes the fixed-step engines take
// steps of 1/1024 of each time span, which add up exactly to the next point.
inline double FirstOrderA(double a0, double k, double t) { return a0 * std::exp(-k * t); }

inline Model FirstOrderModel(const std::vector<double>& times, double k = 0.5, double a0 = 2.0) {
  Model m;
  m.tolerance = 1.0 / (1024.0 * 1024.0);
  m.species = {"A", "B"};
  m.species_start = {{"A2"}, {"0"}};
  m.parameters = {"k"};
  m.parameter_eqs = {{"A1"}};
  m.adjustables = {{"k", k, "", true}, {"A0", a0, "", true}};
  m.rates = {{1, 1, "-P1"}, {2, 1, "P1"}};
  m.outputs = {"F1", "F2"};
  for (double t : times) {
    const double a = FirstOrderA(a0, k, t);
    m.points.push_back({1, t, {{a}, {a0 - a}}, {}});
  }
  return m;
}

// One species growing at the constant rate P1: dy/dt = P1 (a free term), output y. Each
// interval's start formula and rate are given as texts; the points carry one replicate of 1.
inline Model RampModel(const std::vector<int16_t>& intervals, const std::vector<double>& times,
                       const std::vector<std::string>& starts,
                       const std::vector<std::string>& rates) {
  Model m;
  m.intervals = static_cast<int>(starts.size());
  m.species = {"y"};
  m.species_start = {starts};
  m.parameters = {"r"};
  m.parameter_eqs = {rates};
  m.rates = {{1, kFreeTerm, "P1"}};
  m.outputs = {"F1"};
  for (size_t j = 0; j < times.size(); ++j) m.points.push_back({intervals[j], times[j], {{1.0}}, {}});
  return m;
}

}  // namespace tarvo::testhost
