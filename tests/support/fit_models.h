// Models with synthetic data for the fitting tests and the benchmark, and the host's fitting
// loop. The data of the consecutive reactions A -> B -> C (A(0) = 1, rate constants k1, k2)
// come from the closed-form solution, with replicates carrying multiplicative Gaussian noise
// from a seeded generator whose sequence is the same on every platform.
#pragma once

#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "support/host.h"

namespace tarvo::testhost {

// Standard normal deviates by Box-Muller over a 64-bit Mersenne twister: the twister's
// sequence is fixed by the standard, unlike the library's normal distributions.
class Gauss {
 public:
  explicit Gauss(uint64_t seed) : engine_(seed) {}
  double Next() {
    const double u1 = Uniform();
    const double u2 = Uniform();
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(6.283185307179586 * u2);
  }

 private:
  double Uniform() {  // in (0, 1]
    return (static_cast<double>(engine_() >> 11) + 1.0) * 0x1.0p-53;
  }
  std::mt19937_64 engine_;
};

struct Consecutive {
  double A, B, C;
};

inline Consecutive ConsecutiveExact(double k1, double k2, double t) {
  const double a = std::exp(-k1 * t);
  const double b = k1 / (k2 - k1) * (std::exp(-k1 * t) - std::exp(-k2 * t));
  return {a, b, 1.0 - a - b};
}

struct ConsecutiveSpec {
  std::string method = "RUNGE-KUTTA 4";
  double tolerance = 1.0 / 4096.0;  // fixed steps of 1/64 of each span: they land on points
  double k1 = 1.0, k2 = 0.5;        // the truth
  double start = 1.5;               // the fit starts from truth * start
  std::vector<double> times = {0, 0.5, 1, 2, 3, 4, 6, 8};
  int replicates = 3;
  double noise = 0.02;  // relative standard deviation of a replicate
  uint64_t seed = 1;
  bool bound = false;   // k2 = A1 * A2 through an EqualTo-bound adjustable A3
};

// Species A, B, C; outputs A, B, C; TypeErreur 2. Free adjustables: k1 (A1) and k2 (A2), or,
// when bound, k1 (A1) and the ratio r = k2 / k1 (A2) with k2 = A3 bound to "A1*A2".
inline Model ConsecutiveModel(const ConsecutiveSpec& s) {
  Model m;
  m.method = s.method;
  m.tolerance = s.tolerance;
  m.type_erreur = 2.0;
  m.marquard = 0.01;
  m.precision = 1e-8;
  m.max_iter = 30;
  m.species = {"A", "B", "C"};
  m.species_start = {{"1"}, {"0"}, {"0"}};
  const std::string k2 = s.bound ? "A3" : "A2";
  if (s.bound) {
    m.adjustables = {{"k1", s.k1 * s.start, "", true},
                     {"r", s.k2 / s.k1 * s.start, "", true},
                     {"k2", 0.0, "A1*A2", true}};
  } else {
    m.adjustables = {{"k1", s.k1 * s.start, "", true}, {"k2", s.k2 * s.start, "", true}};
  }
  m.rates = {{1, 1, "-A1"}, {2, 1, "A1"}, {2, 2, "-" + k2}, {3, 2, k2}};
  m.outputs = {"F1", "F2", "F3"};
  Gauss g(s.seed);
  for (double t : s.times) {
    const Consecutive y = ConsecutiveExact(s.k1, s.k2, t);
    Point p{1, t, {{}, {}, {}}, {}};
    for (int r = 0; r < s.replicates; ++r) {
      p.replicates[0].push_back(y.A * (1 + s.noise * g.Next()));
      p.replicates[1].push_back(y.B * (1 + s.noise * g.Next()));
      p.replicates[2].push_back(y.C * (1 + s.noise * g.Next()));
    }
    m.points.push_back(p);
  }
  return m;
}

struct FitRun {
  int calls = 0;
  bool done = false;
  int16_t erreur = 0;
};

// The host's loop: set up, simulate at the start values, then Ajustement until Done, an
// error, or max_calls calls.
inline FitRun RunFit(Host& h, int max_calls) {
  FitRun r;
  h.CalculInitial();
  r.erreur = h.fitset.Erreur;
  if (r.erreur != 0) return r;
  h.Simulate();
  r.erreur = h.fitset.Erreur;
  while (r.erreur == 0 && !r.done && r.calls < max_calls) {
    h.Fit();
    ++r.calls;
    r.erreur = h.fitset.Erreur;
    r.done = h.fitset.Done != 0;
  }
  return r;
}

}  // namespace tarvo::testhost
