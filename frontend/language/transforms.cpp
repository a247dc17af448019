#include "language/transforms.h"

#include "language/text.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace tarvo::frontend {

namespace {

// w and dw/du.
void OnW(const Transform& t, double u, double& w, double& dw) {
  if (t.has_min && t.has_max) {
    w = t.wmin + (t.wmax - t.wmin) * u / (1 + u);
    dw = (t.wmax - t.wmin) / ((1 + u) * (1 + u));
  } else if (t.has_min) {
    w = t.wmin + (t.w0 - t.wmin) * u;
    dw = t.w0 - t.wmin;
  } else if (t.has_max) {
    w = t.wmax - (t.wmax - t.w0) / u;
    dw = (t.wmax - t.w0) / (u * u);
  } else {
    w = t.w0 + t.slope * std::log(u);
    dw = t.slope / u;
  }
}

// Exact text of a number, bracketed when negative.
std::string Text(double v) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  const std::string s(buf, r.ptr);
  return v < 0 ? "(" + s + ")" : s;
}

// The hidden start value at which g gives the user's start value.
double HiddenStart(const Transform& t) {
  if (!(t.has_min && t.has_max)) return 1;
  const double f = (t.w0 - t.wmin) / (t.wmax - t.wmin);
  return f / (1 - f);
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
  auto w = [&](double v) { return t.log ? std::log(v) : v; };
  t.w0 = w(v0);
  if (d.has_min) t.wmin = w(d.min);
  if (d.has_max) t.wmax = w(d.max);
  t.slope = t.log ? 1 : (v0 != 0 ? std::fabs(v0) : 1);
  return "";
}

}  // namespace

double UserValue(const Transform& t, double u) {
  double w = 0, dw = 0;
  OnW(t, u, w, dw);
  return t.log ? std::exp(w) : w;
}

double UserSlope(const Transform& t, double u) {
  double w = 0, dw = 0;
  OnW(t, u, w, dw);
  return t.log ? std::exp(w) * dw : dw;
}

std::string BindingText(const Transform& t, const std::string& h) {
  std::string w;
  if (t.has_min && t.has_max)
    w = Text(t.wmin) + " + " + Text(t.wmax - t.wmin) + "*" + h + "/(1 + " + h + ")";
  else if (t.has_min)
    w = Text(t.wmin) + " + " + Text(t.w0 - t.wmin) + "*" + h;
  else if (t.has_max)
    w = Text(t.wmax) + " - " + Text(t.wmax - t.w0) + "/" + h;
  else if (t.log)
    return Text(std::exp(t.w0)) + "*" + h;
  else
    w = Text(t.w0) + " + " + Text(t.slope) + "*ln(" + h + ")";
  return t.log ? "exp(" + w + ")" : w;
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
    h.value = HiddenStart(t);
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
