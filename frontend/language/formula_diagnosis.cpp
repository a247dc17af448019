#include "language/formula_diagnosis.h"

#include <memory>
#include <new>

#include "api/formula_inspection.h"

namespace tarvo::frontend {

namespace {

std::string Shorten(const std::string& s) { return s.size() <= 60 ? s : s.substr(0, 57) + "..."; }

Text ToText(const std::string& s) { return Text(s.begin(), s.end()); }  // translated: ASCII

// 0 when the library accepts the text; else the tokenizer's error sum (negative) or the
// compiler's fault count. cells collects the constants.
int TryFormula(FormulaCells& cells, const std::string& translated) {
  compilptr c = NewCompil();
  if (!c) throw std::bad_alloc();
  FormulaStages stages;
  try {
    CompileFormula(cells, ToText(translated), c, {}, stages);
  } catch (...) {
    Release(c);
    throw;
  }
  Release(c);
  return stages.compiled ? stages.faults : -stages.tokenize_errors;
}

}  // namespace

std::vector<std::string> DiagnoseFormulas(const Model& model, const TranslatedModel& text) {
  std::vector<std::string> out;
  auto each = std::make_unique<FormulaCells>();  // afresh for every formula
  auto shared = std::make_unique<FormulaCells>();  // all formulas of a model, as set-up does
  for (const TranslatedFormula& f : text.formulas) {
    if (!f.ok) continue;
    *each = FormulaCells{};
    const int r = TryFormula(*each, f.text);
    if (r < 0)
      out.push_back(Where(model, f.source) + ": the library's tokenizer rejects '" + Shorten(f.text) +
                    "' (error positions " + std::to_string(-r) + ")");
    else if (r > 0)
      out.push_back(Where(model, f.source) + ": the library's compiler rejects '" + Shorten(f.text) +
                    "' (" + std::to_string(r) + " fault" + (r == 1 ? "" : "s") + ")");
    TryFormula(*shared, f.text);
  }
  // All formulas of a model share one table of at most 255 constants.
  if (ConstantTableFull(shared->constants))
    out.push_back(model.path + ": the model's formulas hold more distinct numbers than the "
                  "library's 255 constants; make some of them adjustables");
  return out;
}

}  // namespace tarvo::frontend
