#include "language/transforms.h"

#include "language/text.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace tarvo::frontend {

namespace {

// The smooth max(y, 0) of the transforms and its slope.
double Sp(double y, double e) { return (y + std::sqrt(y * y + e * e)) / 2; }
double SpSlope(double y, double e) { return (1 + y / std::sqrt(y * y + e * e)) / 2; }

// w and dw/dx at x.
void OnW(const Transform& t, double x, double& w, double& dw) {
  const double e = t.softness;
  if (t.has_min && t.has_max) {
    w = t.wmin + Sp(x - t.wmin, e) - Sp(x - t.wmax, e);
    dw = SpSlope(x - t.wmin, e) - SpSlope(x - t.wmax, e);
  } else if (t.has_min) {
    w = t.wmin + Sp(x - t.wmin, e);
    dw = SpSlope(x - t.wmin, e);
  } else if (t.has_max) {
    w = t.wmax - Sp(t.wmax - x, e);
    dw = SpSlope(t.wmax - x, e);
  } else {
    w = x;
    dw = 1;
  }
}

// The x at which w(x) = w, for w inside the bounds.
double XOf(const Transform& t, double w) {
  const double e = t.softness;
  // sp(y) = s has the root y = s - e^2 / (4 s).
  auto root = [e](double s) { return s - e * e / (4 * s); };
  if (t.has_min && t.has_max) {
    // w(x) rises with a slope in (0, 1): bisect between points below and above w.
    double lo = std::min(w, root(w - t.wmin) + t.wmin), hi = std::max(w, t.wmax - root(t.wmax - w));
    for (double span = 1; ; span *= 2) {
      double wl = 0, wh = 0, d = 0;
      OnW(t, lo, wl, d);
      OnW(t, hi, wh, d);
      if ((wl <= w && w <= wh) || span > 1e6) break;
      if (wl > w) lo -= span;
      if (wh < w) hi += span;
    }
    for (int i = 0; i < 200 && lo < hi; ++i) {
      const double mid = lo + (hi - lo) / 2;
      if (mid <= lo || mid >= hi) break;
      double wm = 0, d = 0;
      OnW(t, mid, wm, d);
      (wm < w ? lo : hi) = mid;
    }
    return lo + (hi - lo) / 2;
  }
  if (t.has_min) return t.wmin + root(w - t.wmin);
  if (t.has_max) return t.wmax - root(t.wmax - w);
  return w;
}

// Exact text of a number, bracketed when negative.
std::string Text(double v) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  const std::string s(buf, r.ptr);
  return v < 0 ? "(" + s + ")" : s;
}

std::string Located(const Prepared& p, int a, const std::string& what) {
  const AdjustableDecl& d = p.model.adjustables[a];
  return p.model.path + ":" + std::to_string(d.line) + ": adjustable " + d.name + ": " + what;
}

// The transform of adjustable a at its start value v0; "" or the reason it cannot be made.
std::string MakeTransform(const AdjustableDecl& d, double v0, Transform& t) {
  t.log = d.scale == "log";
  t.has_min = d.has_min;
  t.has_max = d.has_max;
  if (t.log && !(v0 > 0)) return "start value " + Num(v0) + " cannot be fitted on a log scale "
                                 "(it must be above 0)";
  if ((d.has_min && !(v0 > d.min)) || (d.has_max && !(v0 < d.max)))
    return "start value " + Num(v0) + " must lie strictly between its bounds (min " +
           (d.has_min ? Num(d.min) : "none") + ", max " + (d.has_max ? Num(d.max) : "none") + ")";
  // The linear scale's unit: the start's magnitude, or for a start of 0 at most the distance
  // to a bound (a bound within 1 % of the unit would squeeze the whole range into one step).
  double c = v0 != 0 ? std::fabs(v0) : 1;
  if (!t.log && v0 == 0) {
    if (d.has_min) c = std::min(c, v0 - d.min);
    if (d.has_max) c = std::min(c, d.max - v0);
  }
  t.slope = t.log ? 1 : c;
  auto w = [&](double v) { return t.log ? std::log(v) : v / c; };
  t.w0 = w(v0);
  double room = INFINITY;
  if (d.has_min) {
    t.wmin = w(d.min);
    room = std::min(room, t.w0 - t.wmin);
  }
  if (d.has_max) {
    t.wmax = w(d.max);
    room = std::min(room, t.wmax - t.w0);
  }
  // Three softness units of room keep dw/dx about 0.95 at the start; the floor keeps e^2
  // above the rounding of y^2.
  t.softness = std::max(std::min(1.0, room / 3), 1e-7 * std::max(1.0, std::fabs(t.w0)));
  t.x0 = XOf(t, t.w0);
  return "";
}

}  // namespace

double UserValue(const Transform& t, double h) {
  double w = 0, dw = 0;
  OnW(t, t.x0 + std::log(h), w, dw);
  return t.log ? std::exp(w) : t.slope * w;
}

double UserSlope(const Transform& t, double h) {
  double w = 0, dw = 0;
  OnW(t, t.x0 + std::log(h), w, dw);
  return (t.log ? std::exp(w) : t.slope) * dw / h;
}

int AtBound(const Transform& t, double h) {
  double w = 0, dw = 0;
  OnW(t, t.x0 + std::log(h), w, dw);
  if (!(dw < kAtBoundSlope)) return 0;
  if (t.has_min && t.has_max) return w - t.wmin > t.wmax - w ? 1 : -1;
  return t.has_max ? 1 : t.has_min ? -1 : 0;
}

double HiddenValue(const Transform& t, double v) {
  return std::exp(XOf(t, t.log ? std::log(v) : v / t.slope) - t.x0);
}

std::string BindingText(const Transform& t, const std::string& h) {
  if (!t.has_min && !t.has_max)
    return t.log ? Text(std::exp(t.w0)) + "*" + h
                 : Text(t.slope * t.w0) + " + " + Text(t.slope) + "*ln(" + h + ")";
  const std::string e2 = Text(t.softness * t.softness);
  // sp(y) for y = a + ln h (or, with sign -1, y = a - ln h).
  auto sp = [&](double a, int sign) {
    const std::string y = "(" + Text(a) + (sign > 0 ? " + " : " - ") + "ln(" + h + "))";
    return "((" + y + " + (" + y + "*" + y + " + " + e2 + ")^0.5)/2)";
  };
  std::string w;
  if (t.has_min && t.has_max)
    w = Text(t.wmin) + " + " + sp(t.x0 - t.wmin, 1) + " - " + sp(t.x0 - t.wmax, 1);
  else if (t.has_min)
    w = Text(t.wmin) + " + " + sp(t.x0 - t.wmin, 1);
  else
    w = Text(t.wmax) + " - " + sp(t.wmax - t.x0, -1);
  return t.log ? "exp(" + w + ")" : Text(t.slope) + "*(" + w + ")";
}

int ExpandTransforms(Prepared& p, std::vector<Transform>& out, std::vector<std::string>& errors) {
  const size_t before = errors.size();
  const size_t declared = p.model.adjustables.size();
  for (size_t a = 0; a < declared; ++a) {
    const AdjustableDecl d = p.model.adjustables[a];
    if (!p.free[a] || (d.scale.empty() && !d.has_min && !d.has_max)) continue;
    Transform t;
    if (const std::string why = MakeTransform(d, p.values[a], t); !why.empty()) {
      errors.push_back(Located(p, static_cast<int>(a), why));
      continue;
    }
    const std::string hidden = d.name + "_fit";
    if (FindAdjustable(p.model, hidden) >= 0) {
      errors.push_back(Located(p, static_cast<int>(a), "the name " + hidden + ", which its "
                               "transform needs for the value the library fits, is taken"));
      continue;
    }
    t.user = static_cast<int>(a);
    t.hidden = static_cast<int>(p.model.adjustables.size());
    AdjustableDecl h;
    h.name = hidden;
    h.value = 1;  // x0 puts the user's start value there
    h.free = true;
    h.line = d.line;
    p.model.adjustables.push_back(h);
    p.values.push_back(h.value);
    p.free.push_back(true);
    AdjustableDecl& user = p.model.adjustables[a];
    user.bound = true;
    user.free = false;
    user.equal_to = Formula{BindingText(t, hidden), "adjustable " + d.name + " (its transform)",
                            d.line, 0};
    p.free[a] = false;
    out.push_back(t);
  }
  if (errors.size() != before) return 2;
  if (out.empty()) return 0;
  if (p.model.adjustables.size() > 50) {
    errors.push_back(p.model.path + ": the transformed adjustables need " +
                     std::to_string(p.model.adjustables.size()) + " adjustables, at most 50");
    return 2;
  }
  p.text = TranslatedModel{};
  return TranslateModel(p.model, std::max(p.model.intervals, p.data.last_interval), p.text,
                        errors);
}

}  // namespace tarvo::frontend
