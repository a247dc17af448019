#include "Symbolic/formula_pipeline.h"

#include <utility>

#include "Symbolic/simplify.h"
#include "Symbolic/tokenizer.h"

namespace tarvo {

void CompileFormula(FormulaCells& cells, Text text, compilptr target,
                    const FormulaOptions& options, FormulaStages& out) {
  out = FormulaStages{};
  Tokenize(text, out.tokenize_errors, cells.constants);
  out.coded = text;
  int16_t* sum = options.running_sum;
  if (sum) *sum = static_cast<int16_t>(*sum + out.tokenize_errors);
  if (sum ? *sum != 0 : out.tokenize_errors != 0) return;
  if (options.simplify) Simplify(text, cells.constants);
  Compile(cells, text, target, out.faults, options.bindings);
  if (sum) *sum = static_cast<int16_t>(*sum + out.faults);
  out.compiled = true;
  out.compiled_text = std::move(text);
}

}  // namespace tarvo
