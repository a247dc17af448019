// Finds which formula of a model the library refuses, by running the library's own stages
// (Tokenize, Simplify, Compile) on each translated formula by itself, the way the set-up runs
// them. Calcul_initial only reports a sum of faults; this names the formula. Used by
// `tarvo check` only, and only while no model is loaded (it resets the constant table).
#pragma once

#include <string>
#include <vector>

#include "language/model_text.h"

namespace tarvo::frontend {

// One message per formula the library refuses ("FILE:LINE:COLUMN: LABEL: ..."), and one
// when the model's numbers overflow the library's constant table.
std::vector<std::string> DiagnoseFormulas(const Model& model, const TranslatedModel& text);

}  // namespace tarvo::frontend
