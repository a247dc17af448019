// A compiled formula's value with its derivatives with respect to the species: forward
// differentiation through the slot program Evaluate runs, every register carrying its value
// and that value's derivative with respect to species 1..n.
//
// The values are Evaluate's, operation for operation (the same guards, the same Power), and
// raise what Evaluate raises. The derivatives follow each operation's rule; where a guard
// substituted a constant (a quotient by a divisor within 1e-130 of zero, the ln of a number
// not above 1e-130) the derivative is the constant's, 0. Species cells beyond n, the time,
// parameters, adjustables and constants have derivative 0.
//
// A nested record's result is differentiated when the slot straight after its call reads
// it, as the compiler lays every formula out; Differentiable tells whether a formula and
// its nested records are laid out so. Nothing allocates.
#pragma once

#include <cstdint>

#include "Symbolic/cells.h"
#include "Symbolic/compil.h"

namespace tarvo {

// Whether every nested result of c (and of its nested records) is read only by the slot
// right after its call, so that EvaluateGradient can carry its derivative there.
bool Differentiable(const compil* c);

// The value of c at the cells' current values; gradient[s] := d value / d species[s] for
// s < n (n clamped into 0..kMaxSpecies). c must be Differentiable.
double EvaluateGradient(compilptr c, const FormulaCells& cells, int32_t n, double* gradient);

}  // namespace tarvo
