#include "tarvo/formula_diagnosis.h"

#include "Symbolic/compil.h"
#include "Symbolic/compiler.h"
#include "Symbolic/primitives.h"
#include "Symbolic/simplify.h"
#include "Symbolic/tokenizer.h"

namespace tarvo::tool {

namespace {

std::string Shorten(const std::string& s) { return s.size() <= 60 ? s : s.substr(0, 57) + "..."; }

Text ToText(const std::string& s) { return Text(s.begin(), s.end()); }  // translated: ASCII

// 0 when the library accepts the text; else the tokenizer's error sum (negative) or the
// compiler's fault count.
int TryFormula(const std::string& translated) {
  Text t = ToText(translated);
  int16_t error = 0;
  Tokenize(t, error);
  if (error != 0) return -error;
  Simplify(t);
  compilptr c = NewCompil();
  if (!c) return 0;
  int16_t faults = 0;
  Compile(t, c, faults, nullptr);
  Release(c);
  return faults;
}

}  // namespace

std::vector<std::string> DiagnoseFormulas(const Model& model, const TranslatedModel& text) {
  std::vector<std::string> out;
  for (const TranslatedFormula& f : text.formulas) {
    if (!f.ok) continue;
    ResetConstants();
    const int r = TryFormula(f.text);
    if (r < 0)
      out.push_back(Where(model, f.source) + ": the library's tokenizer rejects '" + Shorten(f.text) +
                    "' (error positions " + std::to_string(-r) + ")");
    else if (r > 0)
      out.push_back(Where(model, f.source) + ": the library's compiler rejects '" + Shorten(f.text) +
                    "' (" + std::to_string(r) + " fault" + (r == 1 ? "" : "s") + ")");
  }
  // All formulas of a model share one table of at most 255 constants.
  ResetConstants();
  for (const TranslatedFormula& f : text.formulas) {
    if (!f.ok) continue;
    Text t = ToText(f.text);
    int16_t error = 0;
    Tokenize(t, error);
    Simplify(t);
  }
  if (ConstantTableFull())
    out.push_back(model.path + ": the model's formulas hold more distinct numbers than the "
                  "library's 255 constants; make some of them adjustables");
  ResetConstants();
  return out;
}

}  // namespace tarvo::tool
