#include "analysis/distributions.h"

#include <cmath>

namespace tarvo::frontend {

namespace {

// Continued fraction of the incomplete beta function (modified Lentz), valid for
// x < (a + 1) / (a + b + 2); the caller uses the symmetry I_x(a, b) = 1 - I_{1-x}(b, a)
// otherwise.
double BetaFraction(double a, double b, double x) {
  constexpr double kTiny = 1e-300;
  double c = 1, d = 1 - (a + b) * x / (a + 1);
  if (std::fabs(d) < kTiny) d = kTiny;
  d = 1 / d;
  double h = d;
  for (int m = 1; m <= 500; ++m) {
    const double m2 = 2.0 * m;
    double num = m * (b - m) * x / ((a + m2 - 1) * (a + m2));
    for (int half = 0; half < 2; ++half) {
      d = 1 + num * d;
      if (std::fabs(d) < kTiny) d = kTiny;
      c = 1 + num / c;
      if (std::fabs(c) < kTiny) c = kTiny;
      d = 1 / d;
      const double step = d * c;
      h *= step;
      if (half == 1 && std::fabs(step - 1) < 1e-15) return h;
      num = -(a + m) * (a + b + m) * x / ((a + m2) * (a + m2 + 1));
    }
  }
  return h;
}

// ln |Gamma(x)|. std::lgamma stores the sign in the global signgam, a data race when profiles
// run side by side; lgamma_r, where there is one, keeps it in a local (the same figures).
double LogGamma(double x) {
#if defined(__GLIBC__)
  int sign = 0;
  return lgamma_r(x, &sign);
#else
  return std::lgamma(x);
#endif
}

}  // namespace

double IncompleteBeta(double a, double b, double x) {
  if (!(a > 0 && b > 0 && x >= 0 && x <= 1)) return NAN;
  if (x == 0 || x == 1) return x;
  const double front = std::exp(LogGamma(a + b) - LogGamma(a) - LogGamma(b) +
                                a * std::log(x) + b * std::log1p(-x));
  if (x < (a + 1) / (a + b + 2)) return front * BetaFraction(a, b, x) / a;
  return 1 - front * BetaFraction(b, a, 1 - x) / b;
}

double FUpperTail(double f, double d1, double d2) {
  if (!(d1 > 0 && d2 > 0) || std::isnan(f)) return NAN;
  if (f <= 0) return 1;
  if (std::isinf(f)) return 0;
  return IncompleteBeta(d2 / 2, d1 / 2, d2 / (d2 + d1 * f));
}

double FQuantile(double p, double d1, double d2) {
  if (!(p > 0 && p < 1 && d1 > 0 && d2 > 0)) return NAN;
  double lo = 0, hi = 1;
  while (1 - FUpperTail(hi, d1, d2) < p && hi < 1e300) hi *= 2;
  for (int i = 0; i < 200 && hi - lo > 1e-14 * hi; ++i) {
    const double mid = 0.5 * (lo + hi);
    (1 - FUpperTail(mid, d1, d2) < p ? lo : hi) = mid;
  }
  return 0.5 * (lo + hi);
}

}  // namespace tarvo::frontend
