// Parameter transforms and bounds, built on the library's bound adjustables. The library
// fits positive values only: its step never takes a value across zero, and it moves a value in
// proportion to itself (sensitivities from a 1 % change, steps of at most 90 %). So a free
// adjustable with a scale or bounds is fitted through a hidden free adjustable NAME_fit = u,
// and the user's NAME becomes bound to it by an equal_to expression v = g(u). The library's
// relative moves of u are moves of x = ln u, which covers every real number, so no bound
// other than the user's is ever met. With w = v, or w = ln v for scale = "log":
//   no bounds:  w = w0 + s ln u    (s = 1 for log, so v = v0 u; |v0|, or 1 for 0, for linear)
//   min, max:   w = wmin + (wmax - wmin) u / (1 + u)   (the logistic of x: smooth, never
//                                                       reaching a bound)
//   min only:   w = wmin + (w0 - wmin) u
//   max only:   w = wmax - (wmax - w0) / u
// w0, wmin, wmax are the start value and bounds on w's scale; u starts where g gives the
// user's start value (1, or f / (1 - f) between two bounds, f the start's fraction of the
// range). Each g increases with u, so a profile on NAME_fit maps point by point onto one on
// the user's scale (the profile likelihood does not depend on how a value is parameterised),
// and the delta method gives SE(v) = g'(u) SE(u).
//
// A value without scale and bounds keeps the library's own fitting (a log scale without
// bounds is that same fitting: v = v0 u); fixed values are never transformed.
#pragma once

#include <string>
#include <vector>

#include "language/prepare.h"

namespace tarvo::frontend {

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

}  // namespace tarvo::frontend
