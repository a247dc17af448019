// Sums of signed products of at most two cells ("0.2*X1 + 0.4*X2 + X5 + 0.001",
// "k1*A - k2*B"): the commonest shape of an output formula. A compiled program of this shape
// (first slot First or FirstNeg, every other slot Add, Sub or Mul, at most one Mul after each
// of the others) is laid out once as its terms and then run without Evaluate's per-slot
// dispatch and without a branch, to the very value Evaluate gives. Such a program never
// raises.
//
// Evaluate forms a term as second * (first or 0.0 - first) and the value as
// ((0 + t1) + t2) + ... + tn. Here a term is second * (sign * first), with second the constant
// 1 for a term of one cell: multiplying by 1 is exact, and sign * first differs from
// 0.0 - first only in the sign of a zero. That zero (or the product of the second cell with
// it) is then added to a sum that is never -0 (the sum starts at +0, and a sum is -0 only when
// both its terms are), which gives the same sum whatever the sign of the zero.
//
// A layout reads the formula's cells through the same addresses as the formula: it is valid
// while the formula lives unchanged; lay it out again whenever the formula is compiled or
// released.
#pragma once

#include <vector>

#include "Symbolic/compil.h"

namespace tarvo {

struct ProductTerm {
  const double* first;
  const double* second;  // the constant 1 for a term of one cell
  double sign;           // -1 for a FirstNeg or Sub term, else +1
};

struct ProductSum {
  const compil* source = nullptr;  // the formula laid out; nil: none, or not of this shape
  std::vector<ProductTerm> terms;  // in slot order
};

// s laid out from c; s.source is nil when c is nil or not of this shape.
void LayOut(const compil* c, ProductSum& s);

// The value Evaluate gives for s.source. Allocates nothing.
inline double ValueOf(const ProductSum& s) {
  double sum = 0.0;
  for (const ProductTerm& t : s.terms) sum = sum + *t.second * (t.sign * *t.first);
  return sum;
}

}  // namespace tarvo
