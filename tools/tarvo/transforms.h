// Parameter transforms and bounds, built on the library's bound adjustables. The library
// fits positive values only: its step never takes a value across zero, and it moves a value in
// proportion to itself. So a free adjustable with a scale or bounds is fitted through a hidden
// free adjustable NAME_fit with start value U = 10, and the user's NAME becomes bound to it by
// an equal_to expression v = g(NAME_fit); x = NAME_fit - U is the unconstrained coordinate
// (NAME_fit > 0 keeps x above -U). With w = v, or w = ln v for scale = "log":
//   no bounds:  w = w0 + s x       (s = 1 for log; |v0|, or 1 when v0 is 0, for linear)
//   min, max:   w = wmin + (wmax - wmin) / (1 + exp(-x))   (smooth, never reaches a bound)
//   min only:   w = wmin + (w0 - wmin) exp(x)
//   max only:   w = wmax - (wmax - w0) exp(-x)
// w0, wmin, wmax are the start value and bounds on w's scale. Each g increases with x, so a
// profile on NAME_fit maps point by point onto one on the user's scale (the profile
// likelihood does not depend on how a value is parameterised), and the delta method gives
// SE(v) = g'(x) SE(x). The floor x > -U lies e^-10 (on w's scale: 10 s) below the start
// without bounds and is unreachable in practice with them.
//
// A value without scale and bounds keeps the library's own fitting; fixed values are never
// transformed.
#pragma once

#include <string>
#include <vector>

#include "tarvo/prepare.h"
#include "tarvo/profile.h"
#include "tarvo/report.h"

namespace tarvo::tool {

inline constexpr double kHiddenStart = 10;

struct Transform {
  int user = 0;      // the user's adjustable, bound after the expansion
  int hidden = 0;    // the free adjustable the library fits
  bool log = false;  // w = ln v
  bool has_min = false, has_max = false;
  double w0 = 0, wmin = 0, wmax = 0, slope = 1;  // on w's scale
};

// The user's value at hidden value u, and dv/du.
double UserValue(const Transform& t, double u);
double UserSlope(const Transform& t, double u);

// The equal_to expression binding the user's value to the hidden one.
std::string BindingText(const Transform& t, const std::string& hidden);

// Adds a hidden adjustable for each free adjustable with a scale or bounds, binds the user's
// one to it and translates the model again. Start values outside the bounds (or not
// positive on a log scale) are one located message each. 0, or 2 with errors filled.
int ExpandTransforms(Prepared& p, std::vector<Transform>& out, std::vector<std::string>& errors);

// The report, uncertainty and profiles back on the user's scale: the user's adjustables free
// again with their SE, interval and profile, the hidden ones left out.
void ToUserScale(const std::vector<Transform>& ts, const std::vector<double>& values,
                 size_t declared, FitResult& r, std::vector<Profile>& profiles);

}  // namespace tarvo::tool
