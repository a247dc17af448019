// Compile: coded formula text -> slot program in a record the caller allocated (NewCompil).
// Operands are bound to the caller's value cells (cells.h), which must outlive the record. Groups and function arguments become
// nested records; an adjustable that carries an EqualTo expression is replaced by a fresh
// compiled copy of that expression. Faults are counted into the caller's counter (never
// cleared here); the target is never released here.
#pragma once

#include <cstdint>

#include "Symbolic/cells.h"
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

// Nested records (groups, function arguments, inlined expressions) open at once at most.
inline constexpr int32_t kMaxNesting = 256;

// bindings may be nil: no adjustable is bound.
//
// Beyond the malformed texts themselves, these are faults (1 each): an index outside its
// vector (never bound), a formula needing more than 256 slots (nothing is written past the
// last slot), nesting deeper than kMaxNesting, a nil target, an out-of-memory nested record,
// a function call straight after `^` or straight after an operand, and a function letter
// ending the text.
//
// Self-references and cycles among EqualTo expressions: a reference to an adjustable whose
// expression is being compiled binds to its plain value. The inlining of that adjustable
// then counts it through CountRefs; when target is the adjustable's own equation record,
// the caller counts it, with CountRefs(adjustable cell, target), as set-up does.
//
// A refused inline expression and the record behind the handle that is cleared are released
// at once. A record compiled with faults is never meant to be evaluated, yet every slot
// 0..stop-1 reads a real cell or calls a real record, so it is safe to evaluate and release.
// target must come from NewCompil (or hold an earlier compilation, whose nested records are
// released first).
// Whether c, or a record nested in it, reads the time or a species of cells: such a formula
// changes at every stage of an integration, any other only when parameters or adjustables do.
bool ReadsTimeOrSpecies(const compil* c, const FormulaCells& cells);
// Sets read[i] for every species i (0-based) that c or a record nested in it reads.
void MarkSpeciesRead(const compil* c, const FormulaCells& cells, bool read[kMaxSpecies]);

void Compile(FormulaCells& cells, const Text& text, compilptr target, int16_t& faults,
             const InlineTable* bindings);

}  // namespace tarvo
