// Every formula of a model, translated into the library's notation and placed in the cell the
// host tables give it: species start values and parameter equations per interval, equal_to
// expressions, outputs, and the rates' coefficients and free terms. Species start lists
// shorter than the model's intervals continue the species (its own value); parameter lists
// repeat their last equation.
//
// Start formulas read the state at the end of the previous interval, whatever the order of
// the declarations. The library resets the species of an interval one after the other, so a
// start formula that reads a species declared before its own (whose reset has already run)
// would see that species' new value: such a read is routed through a hidden parameter that
// copies the species before the resets (the library evaluates parameters first). A start
// formula of interval 1 that reads a species is refused: nothing precedes interval 1.
//
// Besides the translation, the references between formulas are checked here: a parameter or
// an equal_to that refers to itself, equal_to expressions bound to each other in a cycle, and
// equal_to expressions that read anything but adjustables and numbers.
//
// In: a Model (owned by the caller) and the number of intervals. Out: the translated formulas,
// and one message per faulty formula ("FILE:LINE:COLUMN: LABEL: what is wrong").
#pragma once

#include <string>
#include <vector>

#include "language/model_file.h"

namespace tarvo::frontend {

enum class FormulaRole { SpeciesStart, ParameterEquation, EqualTo, Output, Coefficient, FreeTerm };

struct TranslatedFormula {
  FormulaRole role;
  int row;     // 0-based species, parameter, adjustable or output number
  int column;  // 0-based interval (starts, equations) or species (coefficients); else 0
  Formula source;
  std::string text;               // in library notation; empty when translation failed
  std::vector<std::string> refs;  // notation tokens used: "F1", "A3", "T"
  bool ok = false;
};

struct TranslatedModel {
  int intervals = 1;
  std::vector<TranslatedFormula> formulas;
  // Parameters the model does not declare, after its own: the species value before the
  // interval's resets, one per species read that way ("A before the start").
  std::vector<std::string> hidden_parameters;
};

// "FILE:LINE:COLUMN: LABEL" for a formula of the model.
std::string Where(const Model& model, const Formula& f);

// 0 when every formula translated and the references are sound, 2 otherwise (errors holds
// one line per problem; the formulas that did translate are still filled in).
int TranslateModel(const Model& model, int intervals, TranslatedModel& out,
                   std::vector<std::string>& errors);

}  // namespace tarvo::frontend
