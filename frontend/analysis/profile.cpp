#include "analysis/profile.h"

#include <algorithm>
#include <cmath>

#include "analysis/distributions.h"
#include "analysis/fit_run.h"
#include "analysis/residual_sums.h"
#include "results/report.h"

namespace tarvo::frontend {

double ProfileZ(const Prepared& p, const std::vector<std::vector<double>>& ycalc,
                const Uncertainty& u) {
  return (SumResiduals(p, ycalc).ssr - u.sums.ssr) / u.s2;
}

namespace {

constexpr int kMaxRefits = 24;  // per side
constexpr int kRefinements = 2;
constexpr int kRetries = 3;  // shorter steps after a failed refit
constexpr double kFarFactor = 1000;
constexpr double kNearZero = 1e-6;
constexpr double kFirstStepBeyond = 1.1;

// Where the profile stands after a refit.
struct Stop {
  double x = 0, z = 0;
  std::vector<double> values;  // every adjustable after the refit: the next refit's start
};

struct SideResult {
  double bound = 0;
  bool open = true;
  std::string note;
};

class Walk {
 public:
  Walk(const Prepared& p, const std::vector<double>& best, const Uncertainty& u, size_t i,
       Profile& out)
      : p_(p), best_(best), u_(u), a_(u.free_index[i]), se_(u.se[i]), out_(out) {
    free_ = p.free;
    free_[a_] = false;
    estimate_ = best[a_];
    out_.name = u.names[i];
    out_.estimate = estimate_;
    out_.threshold = FQuantile(0.95, 1, u.dof);
    // How the others move with a at the optimum, to first order: cov(b, a) / var(a). A refit
    // started where that line predicts needs a call or two instead of three or four.
    slope_.assign(best.size(), 0.0);
    const double var = i < u.covariance.size() ? u.covariance[i][i] : 0;
    for (size_t k = 0; k < u.free_index.size() && var > 0 && std::isfinite(var); ++k) {
      const double s = u.covariance[k][i] / var;
      if (k != i && std::isfinite(s)) slope_[static_cast<size_t>(u.free_index[k])] = s;
    }
  }

  SideResult Side(int dir) {
    SideResult r;
    Stop prev{estimate_, 0, best_};
    double h = FirstStep();
    int failures = 0;
    const double far = kFarFactor * std::max(std::fabs(estimate_), std::isfinite(se_) ? se_ : 0);
    for (int n = 0; n < kMaxRefits; ++n) {
      const double x = Next(prev.x, h, dir);
      if (estimate_ != 0 && std::fabs(x) < kNearZero * std::fabs(estimate_)) {
        r.bound = prev.x;
        r.note = "the profile stays below the threshold down to " + out_.name + " = " +
                 Num(prev.x, 3) + ", next to zero, which a fit does not cross";
        return r;
      }
      Stop s;
      if (!Evaluate(x, prev.values, s, r.note)) {
        // Often the others cannot follow that far (one of them would cross zero): close in
        // on the last good value before giving up.
        if (++failures > kRetries) {
          r.bound = prev.x;
          return r;
        }
        h /= 4;
        continue;
      }
      if (s.z > out_.threshold) return Refine(prev, s);
      if (s.z - prev.z < out_.threshold / 4) h *= 2;
      prev = s;
      if (std::fabs(prev.x - estimate_) > far) break;
    }
    r.bound = prev.x;
    r.note = "the profile stays below the threshold out to " + out_.name + " = " +
             Num(prev.x, 3) + " (" + std::to_string(out_.refits) + " refits)";
    return r;
  }

 private:
  // Just past where the parabola of the SE puts the threshold (z = ((x - estimate) / SE)^2),
  // so that a profile close to it is bracketed at once and the sqrt(z) interpolation between
  // the estimate and the first refit nearly lands on the crossing.
  double FirstStep() const {
    const double quarter = std::fabs(estimate_) / 4;
    const double aim = kFirstStepBeyond * std::sqrt(out_.threshold) * se_;
    if (std::isfinite(aim) && aim > 0) return quarter > 0 ? std::min(aim, quarter) : aim;
    return quarter > 0 ? quarter : 1e-3;
  }

  // Next value away from the estimate, never across zero.
  double Next(double x, double h, int dir) const {
    const double next = x + dir * h;
    if ((estimate_ > 0 && next <= 0) || (estimate_ < 0 && next >= 0)) return x / 4;
    return next;
  }

  // z at x, refitting the other free adjustables from start; false when the refit failed.
  bool Evaluate(double x, const std::vector<double>& start, Stop& s, std::string& why) {
    std::vector<double> v = Predicted(x, start);
    FitPass r;
    std::vector<std::string> errors;
    ++out_.refits;
    if (FitFrom(p_, {}, v, free_, {}, r, errors) != 0 || r.r.outcome == "failed" ||
        r.ycalc.empty()) {
      why = "a refit at " + out_.name + " = " + Num(x) + " failed: " +
            (errors.empty() ? r.r.erreur_text : errors.front());
      return false;
    }
    out_.calls += r.r.calls;
    s.x = x;
    s.z = ProfileZ(p_, r.ycalc, u_);
    s.values = r.values;
    s.values[a_] = x;
    out_.points.push_back({x, s.z});
    return true;
  }

  // The start of the refit at x from its neighbour's values: each other adjustable moved
  // along its slope, unless that would take it to zero or across (a fit does not cross zero,
  // so it would stay on the wrong side).
  std::vector<double> Predicted(double x, const std::vector<double>& start) const {
    std::vector<double> v = start;
    const double dx = x - start[a_];
    for (size_t b = 0; b < v.size(); ++b) {
      const double moved = start[b] + slope_[b] * dx;
      if (slope_[b] != 0 && std::isfinite(moved) && moved * start[b] > 0) v[b] = moved;
    }
    v[a_] = x;
    return v;
  }

  // The crossing between in (z <= threshold) and beyond, where sqrt(z) is close to linear.
  double Crossing(const Stop& in, const Stop& beyond) const {
    const double ra = std::sqrt(std::max(in.z, 0.0)), rb = std::sqrt(beyond.z);
    const double t = (std::sqrt(out_.threshold) - ra) / (rb - ra);
    return in.x + t * (beyond.x - in.x);
  }

  SideResult Refine(Stop in, Stop beyond) {
    for (int k = 0; k < kRefinements; ++k) {
      Stop s;
      std::string why;
      if (!Evaluate(Crossing(in, beyond), in.values, s, why)) break;
      (s.z > out_.threshold ? beyond : in) = s;
    }
    SideResult r;
    r.bound = Crossing(in, beyond);
    r.open = false;
    return r;
  }

  const Prepared& p_;
  const std::vector<double>& best_;
  const Uncertainty& u_;
  int a_;
  double se_;
  Profile& out_;
  std::vector<bool> free_;
  std::vector<double> slope_;  // by adjustable number; 0 for a and for the held ones
  double estimate_ = 0;
};

}  // namespace

Profile ProfileAdjustable(const Prepared& p, const std::vector<double>& best,
                          const Uncertainty& u, size_t i) {
  Profile prof;
  Walk walk(p, best, u, i, prof);
  prof.points.push_back({best[u.free_index[i]], 0});
  const SideResult lo = walk.Side(-1), hi = walk.Side(+1);
  std::sort(prof.points.begin(), prof.points.end(),
            [](const ProfilePoint& x, const ProfilePoint& y) { return x.value < y.value; });
  Interval& c = prof.interval;
  c.computed = true;
  c.lower = lo.bound;
  c.upper = hi.bound;
  c.lower_open = lo.open;
  c.upper_open = hi.open;
  c.flat = lo.open && hi.open;
  c.note = lo.note + (!lo.note.empty() && !hi.note.empty() ? "; " : "") + hi.note;
  return prof;
}

}  // namespace tarvo::frontend
