// The one way a host formula becomes a compiled record: the tokenizer turns host text into
// coded text, the simplifier rewrites it, the compiler binds it to the caller's cells. Set-up,
// the formula tool and its diagnosis all go through CompileFormula, so they cannot disagree.
//
// Compilation happens only when the tokenizer found no error: with running_sum given, the
// tokenizer's errors are added to it first and compilation waits for the sum to be 0 (a set-up
// compiles nothing once any earlier formula failed); the compiler's faults are added too.
// New constants go into cells.constants. target must come from NewCompil; it is left as it was
// when nothing is compiled. out is filled stage by stage, so that a caller that catches a
// failure raised by the simplifier (a constant fold that evaluating would raise) still has
// what came before.
#pragma once

#include <cstdint>

#include "Symbolic/cells.h"
#include "Symbolic/compil.h"
#include "Symbolic/compiler.h"
#include "Symbolic/notation.h"

namespace tarvo {

struct FormulaOptions {
  const InlineTable* bindings = nullptr;  // EqualTo expressions to inline (nil: none)
  bool simplify = true;                   // false: compile the coded text as it is
  int16_t* running_sum = nullptr;         // the caller's error sum (see above)
};

struct FormulaStages {
  Text coded;                   // the tokenizer's output
  int16_t tokenize_errors = 0;  // the sum of the tokenizer's error positions
  bool compiled = false;        // the compiler ran on `compiled_text`
  Text compiled_text;           // coded text after the simplifier (when asked)
  int16_t faults = 0;           // the compiler's fault count
};

void CompileFormula(FormulaCells& cells, Text text, compilptr target,
                    const FormulaOptions& options, FormulaStages& out);

}  // namespace tarvo
