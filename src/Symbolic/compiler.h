// Compile: coded formula text -> slot program in a record the caller allocated (NewCompil).
// Operands are bound to the value cells of cells.h. Groups and function arguments become
// nested records; an adjustable that carries an EqualTo expression is replaced by a fresh
// compiled copy of that expression. Faults are counted into the caller's counter (never
// cleared here); the target is never released here.
#pragma once

#include <cstdint>

#include "Symbolic/compil.h"
#include "Symbolic/limits.h"
#include "Symbolic/notation.h"

namespace tarvo {

// The EqualTo expressions the compiler inlines. For adjustable n (1..50): text[n-1] points at
// its coded EqualTo text, equation[n-1] at its handle; a nil handle (or a nil entry) means a
// plain value. The compiler clears a handle whose expression faults.
struct InlineTable {
  const Text* text[kMaxAdjustables];
  compilptr* equation[kMaxAdjustables];
};

// bindings may be nil: no adjustable is bound.
void Compile(const Text& text, compilptr target, int16_t& faults, const InlineTable* bindings);

}  // namespace tarvo
