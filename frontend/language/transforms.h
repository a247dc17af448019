// Parameter transforms and bounds, built on the library's bound adjustables. The library
// fits positive values only: its step never takes a value across zero, and it moves a value in
// proportion to itself (sensitivities from a 1 % change, steps of at most 90 %). So a free
// adjustable with a scale or bounds is fitted through a hidden free adjustable NAME_fit = h,
// and the user's NAME becomes bound to it by an equal_to expression v = g(h).
//
// The library's relative moves of h are moves of x = x0 + ln h, so g is written in x. Every
// transform is chosen so that x moves the user's value in proportion: with w = ln v
// (scale = "log") or w = v / c (linear scale, c = |v0|, or 1 for a start of 0, at most the
// distance to a bound then), dw/dx is 1 away from the bounds and never above 1. The
// library's 1 % move of h then moves v by 1 % (log) or 1 % of c (linear) wherever the fit
// goes, which keeps its finite differences and steps as well-conditioned as in an
// untransformed fit, for any bounds. (A logistic in x would amplify the move by up to
// (wmax - wmin) / 4: 2.9 for 1e-4..10 on the log scale, enough to make fits cycle.)
// With sp(y) = (y + sqrt(y^2 + e^2)) / 2, a smooth max(y, 0) of slope in (0, 1):
//   no bounds:  w = x                             (log: v = v0 h; linear: v = v0 + c ln h)
//   min only:   w = wmin + sp(x - wmin)
//   max only:   w = wmax - sp(wmax - x)
//   min, max:   w = wmin + sp(x - wmin) - sp(x - wmax)   (in (wmin, wmax) for every x)
// wmin, wmax are the bounds on w's scale; e = min(1, d / 3), d the start's distance to its
// nearest bound on w's scale, so dw/dx is about 0.95 or more at the start. h starts at 1:
// x0 is where g gives the user's start value. Nothing in g overflows, however far the fit
// pushes h. Each g increases with h, so a profile on NAME_fit maps point by point onto one
// on the user's scale (the profile likelihood does not depend on how a value is
// parameterised), and the delta method gives SE(v) = g'(h) SE(h).
//
// A value without scale and bounds keeps the library's own fitting (a log scale without
// bounds is that same fitting: v = v0 h); fixed values are never transformed.
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
  double w0 = 0, wmin = 0, wmax = 0;  // on w's scale
  double slope = 1;                   // c: v = c w on the linear scale
  double x0 = 0;                      // x = x0 + ln h
  double softness = 1;                // e of sp
};

// The user's value at hidden value h, and dv/dh.
double UserValue(const Transform& t, double h);
double UserSlope(const Transform& t, double h);

// The hidden value at which the user's value is v (v inside the bounds; on the log scale
// above 0).
double HiddenValue(const Transform& t, double v);

// Where the fit has pushed hidden value h: +1 when the user's value stands at its upper bound,
// -1 at its lower bound (dw/dx has fallen below kAtBoundSlope, so the library's moves of h
// no longer move the value, and its sensitivity to h vanishes), 0 inside.
inline constexpr double kAtBoundSlope = 0.02;
int AtBound(const Transform& t, double h);

// The equal_to expression binding the user's value to the hidden one.
std::string BindingText(const Transform& t, const std::string& hidden);

// Adds a hidden adjustable for each free adjustable with a scale or bounds, binds the user's
// one to it and translates the model again. Start values outside the bounds (or not
// positive on a log scale) are one located message each. 0, or 2 with errors filled.
int ExpandTransforms(Prepared& p, std::vector<Transform>& out, std::vector<std::string>& errors);

}  // namespace tarvo::frontend
