#include <cmath>
#include <cstdio>
#include <new>
#include <string>

#include "Symbolic/cells.h"
#include "Symbolic/compil.h"
#include "platform/failure.h"

namespace tarvo {

namespace {

[[noreturn]] void RaiseNegativePower(double b, double e) {
  char text[160];
  std::snprintf(text, sizeof text,
                "invalid floating point operation: power of a negative base (%.17g) to a "
                "non-integral exponent (%.17g)",
                b, e);
  Raise(FailureKind::InvalidOperation, text);
}

}  // namespace

compilptr NewCompil() {
  compil* c = new (std::nothrow) compil;
  if (c) {
    c->stop = 0;
    c->result = 0.0;
  }
  return c;
}

double Power(double b, double e) {
  if (e == 0.0) return 1.0;
  if (b == 0.0 && e > 0.0) return 0.0;
  if (std::trunc(e) == e && std::fabs(e) <= 2147483647.0) {
    int64_t n = static_cast<int64_t>(std::fabs(e));
    double result = 1.0;
    while (n > 0) {
      while ((n & 1) == 0) {
        n /= 2;
        b = b * b;
      }
      n -= 1;
      result = result * b;
    }
    return e < 0.0 ? 1.0 / result : result;
  }
  if (b < 0.0) RaiseNegativePower(b, e);
  return std::exp(e * std::log(b));
}

double Evaluate(compilptr c) {
  double r0 = 0.0, r1 = 0.0, r2 = 0.0;
  double& fc = g_cells.function_cell;
  const int32_t stop = c->stop;
  for (int32_t i = 0; i < stop; ++i) {
    const Operand o = c->donnee[i];
    switch (c->fonction[i]) {
      case Op_Load:
        r0 = *o.cell;
        break;
      case Op_First:
        r0 = *o.cell;
        r1 = r0;
        break;
      case Op_FirstNeg:
        r0 = *o.cell;
        r1 = 0.0 - r0;
        break;
      case Op_Add:
        r0 = *o.cell;
        r2 = r2 + r1;
        r1 = r0;
        break;
      case Op_Sub:
        r0 = *o.cell;
        r2 = r1 + r2;
        r1 = 0.0 - r0;
        break;
      case Op_Mul:
        r0 = *o.cell;
        r1 = r0 * r1;
        break;
      case Op_Div:
        r0 = *o.cell;
        r1 = std::fabs(r0) > kTiny ? r1 / r0 : kSubstituteQuotient;
        break;
      case Op_Pow: {
        const double base = r0;
        r0 = *o.cell;
        fc = Power(base, r0);
        break;
      }
      case Op_Ln:
        r0 = *o.cell;
        fc = r0 > kTiny ? std::log(r0) : std::log(kTiny);
        break;
      case Op_Exp:
        r0 = *o.cell;
        fc = std::fabs(r0) < kTiny ? 1.0 : std::exp(r0);
        break;
      case Op_Call:
        o.call->result = Evaluate(o.call);
        break;
      default:
        break;
    }
  }
  return r2 + r1;
}

int16_t CountRefs(const double* cell, const compil* c) {
  if (!c) return 0;
  int32_t n = 0;
  for (int32_t i = 0; i < c->stop; ++i) {
    if (c->fonction[i] == Op_Call)
      n += CountRefs(cell, c->donnee[i].call);
    else if (c->donnee[i].cell == cell)
      n += 1;
  }
  return static_cast<int16_t>(n > INT16_MAX ? INT16_MAX : n);
}

void Release(compilptr c) {
  if (!c) return;
  for (int32_t i = 0; i < c->stop && i < kMaxSlots; ++i) {
    if (c->fonction[i] == Op_Call && c->donnee[i].call) {
      Release(c->donnee[i].call);
      c->donnee[i].call = nullptr;
    }
  }
  delete c;
}

}  // namespace tarvo
