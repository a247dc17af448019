// Compiled formulas: a straight-line program of at most 256 (operation, operand) slots, run
// from first to last by Evaluate with three registers (R0 the operand just loaded, R1 the
// pending term, R2 the sum of closed terms); the value is R2 + R1.
//
// Operands are addresses of value cells (cells.h) or of the record's own function value, so a changed cell is seen by the next
// evaluation without recompiling. An Op_Call slot's operand is a nested compil, owned by that
// slot and never shared; Release frees a record and everything nested in it.
//
// Evaluate allocates nothing. A power of a negative base to a non-integral exponent (or one
// beyond the 32-bit range) raises FailureKind::InvalidOperation.
#pragma once

#include <cstdint>

#include "Symbolic/limits.h"

namespace tarvo {

enum Op : uint8_t {
  Op_Load,      // R0 := operand (base of a power)
  Op_First,     // R1 := R0
  Op_FirstNeg,  // R1 := -R0
  Op_Add,       // R2 := R2 + R1; R1 := R0
  Op_Sub,       // R2 := R1 + R2; R1 := -R0
  Op_Mul,       // R1 := R0 * R1
  Op_Div,       // guarded quotient
  Op_Pow,       // function cell := Power(previous R0, R0)
  Op_Ln,        // function cell := guarded ln(R0)
  Op_Exp,       // function cell := guarded exp(R0)
  Op_Call,      // evaluate the nested formula into its result field
  Op_Count
};

struct compil;

union Operand {
  const double* cell;  // every operation but Op_Call
  compil* call;        // Op_Call
};

struct compil {
  Op fonction[kMaxSlots];
  Operand donnee[kMaxSlots];
  int32_t stop;   // slots 0..stop-1 run
  double result;  // this formula's value when a parent runs it through Op_Call
  // Result of this record's last power, ln or exp, read by the slot that follows it: each
  // record has its own, so that formulas of different models never share a cell.
  double function_value;
};

using compilptr = compil*;

// The division guard's substitute quotient: one unit in the last place below 1E130.
inline constexpr double kSubstituteQuotient = 9.999999999999999E129;

// An empty record (stop = 0, no slots): safe to Release. Nil when memory is exhausted.
compilptr NewCompil();

double Evaluate(compilptr c);

// Power(b, e) exactly as the evaluator's power operation computes it.
double Power(double b, double e);

// How many slots of c and of its nested formulas read cell.
int16_t CountRefs(const double* cell, const compil* c);

// Frees c and all its nested formulas; nil does nothing.
void Release(compilptr c);

struct FormulaCells;

// A copy of c and of its nested formulas that reads to's cells where c reads from's, and its
// own records' results and function values where c reads its own: the copy evaluates as c
// does, on another instance's cells, and shares nothing with c. Nil for nil; raises
// std::bad_alloc when memory is exhausted (nothing of the copy is left behind).
compilptr CloneCompil(const compil* c, const FormulaCells& from, FormulaCells& to);

}  // namespace tarvo
