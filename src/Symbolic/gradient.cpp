#include "Symbolic/gradient.h"

#include <cmath>
#include <utility>

#include "Symbolic/limits.h"

namespace tarvo {

namespace {

// A value with its derivative with respect to species 0..n-1.
struct Dual {
  double v = 0.0;
  double d[kMaxSpecies];
};

void Zero(double* d, int32_t n) {
  for (int32_t s = 0; s < n; ++s) d[s] = 0.0;
}

void Copy(const double* from, double* to, int32_t n) {
  for (int32_t s = 0; s < n; ++s) to[s] = from[s];
}

double Evaluate(compilptr c, const FormulaCells& cells, int32_t n, double* gradient);

// Operand k of c with its derivative: a species of the first n its unit vector, the
// record's function value or the nested result just evaluated their carried derivatives,
// every other cell 0.
void Load(const compil* c, int32_t k, const FormulaCells& cells, int32_t n, const Dual& fc,
          const compil* called, const Dual& call, Dual& out) {
  const double* cell = c->donnee[k].cell;
  out.v = *cell;
  if (cell == &c->function_value) {
    Copy(fc.d, out.d, n);
    return;
  }
  if (called && cell == &called->result) {
    Copy(call.d, out.d, n);
    return;
  }
  Zero(out.d, n);
  const std::ptrdiff_t s = cell - cells.species;
  if (s >= 0 && s < n) out.d[s] = 1.0;
}

double Evaluate(compilptr c, const FormulaCells& cells, int32_t n, double* gradient) {
  // R0 and the operand loaded before it, in two places that trade roles at every load, so
  // that a power finds its base without a copy.
  Dual loads[2], r1, r2, fc, call;
  Dual* latest = &loads[0];
  Dual* earlier = &loads[1];
  Zero(latest->d, n);
  Zero(r1.d, n);
  Zero(r2.d, n);
  Zero(fc.d, n);
  const compil* called = nullptr;
  int32_t stop = c->stop;
  if (stop > kMaxSlots) stop = kMaxSlots;
  for (int32_t k = 0; k < stop; ++k) {
    const Op op = c->fonction[k];
    if (op == Op_Call) {
      called = c->donnee[k].call;
      call.v = Evaluate(c->donnee[k].call, cells, n, call.d);
      c->donnee[k].call->result = call.v;
      continue;
    }
    if (op >= Op_Count) continue;  // Evaluate's handlers skip unknown operations
    Load(c, k, cells, n, fc, called, call, *earlier);
    std::swap(latest, earlier);
    const Dual& r0 = *latest;
    const Dual& before = *earlier;  // the base of a power
    switch (op) {
      case Op_Load: break;
      case Op_First: r1 = r0; break;
      case Op_FirstNeg:
        r1.v = 0.0 - r0.v;
        for (int32_t s = 0; s < n; ++s) r1.d[s] = -r0.d[s];
        break;
      case Op_Add:
        r2.v = r2.v + r1.v;
        for (int32_t s = 0; s < n; ++s) r2.d[s] += r1.d[s];
        r1 = r0;
        break;
      case Op_Sub:
        r2.v = r1.v + r2.v;
        for (int32_t s = 0; s < n; ++s) r2.d[s] += r1.d[s];
        r1.v = 0.0 - r0.v;
        for (int32_t s = 0; s < n; ++s) r1.d[s] = -r0.d[s];
        break;
      case Op_Mul:
        for (int32_t s = 0; s < n; ++s) r1.d[s] = r0.d[s] * r1.v + r0.v * r1.d[s];
        r1.v = r0.v * r1.v;
        break;
      case Op_Div:
        if (std::fabs(r0.v) > kTiny) {
          const double q = r1.v / r0.v;
          for (int32_t s = 0; s < n; ++s) r1.d[s] = (r1.d[s] - q * r0.d[s]) / r0.v;
          r1.v = q;
        } else {
          r1.v = kSubstituteQuotient;
          Zero(r1.d, n);
        }
        break;
      case Op_Pow: {
        // d(b^e) = e b^(e-1) db + b^e ln(b) de; each term only where its differential is not
        // zero, so that a constant exponent or base asks nothing of the other term.
        const double b = before.v, e = r0.v;
        fc.v = Power(b, e);
        bool base_moves = false, exponent_moves = false;
        for (int32_t s = 0; s < n; ++s) {
          base_moves = base_moves || before.d[s] != 0.0;
          exponent_moves = exponent_moves || r0.d[s] != 0.0;
        }
        const double by_base = base_moves ? (e == 0.0 ? 0.0 : e * Power(b, e - 1.0)) : 0.0;
        const double by_exponent = exponent_moves ? fc.v * std::log(b) : 0.0;
        for (int32_t s = 0; s < n; ++s)
          fc.d[s] = (base_moves ? by_base * before.d[s] : 0.0) +
                    (exponent_moves ? by_exponent * r0.d[s] : 0.0);
        break;
      }
      case Op_Ln:
        if (r0.v > kTiny) {
          fc.v = std::log(r0.v);
          for (int32_t s = 0; s < n; ++s) fc.d[s] = r0.d[s] / r0.v;
        } else {
          fc.v = std::log(kTiny);
          Zero(fc.d, n);
        }
        break;
      case Op_Exp:
        fc.v = std::fabs(r0.v) < kTiny ? 1.0 : std::exp(r0.v);
        for (int32_t s = 0; s < n; ++s) fc.d[s] = fc.v * r0.d[s];
        break;
      default: break;
    }
    c->function_value = fc.v;
  }
  for (int32_t s = 0; s < n; ++s) gradient[s] = r2.d[s] + r1.d[s];
  return r2.v + r1.v;
}

}  // namespace

bool Differentiable(const compil* c) {
  if (!c) return true;
  const int32_t stop = c->stop < kMaxSlots ? c->stop : kMaxSlots;
  for (int32_t k = 0; k < stop; ++k) {
    if (c->fonction[k] != Op_Call) continue;
    const compil* nested = c->donnee[k].call;
    if (!nested || !Differentiable(nested)) return false;
    // Read by no slot but the next.
    for (int32_t j = 0; j < stop; ++j)
      if (j != k + 1 && c->fonction[j] != Op_Call && c->donnee[j].cell == &nested->result)
        return false;
  }
  return true;
}

double EvaluateGradient(compilptr c, const FormulaCells& cells, int32_t n, double* gradient) {
  n = n < 0 ? 0 : (n > kMaxSpecies ? kMaxSpecies : n);
  return Evaluate(c, cells, n, gradient);
}

}  // namespace tarvo
