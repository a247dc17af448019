#include "language/model_text.h"

#include <algorithm>
#include <cctype>

#include "api/limits.h"

#include "language/names.h"

namespace tarvo::frontend {

namespace {

void Add(const Model& model, const NameTable& names, FormulaRole role, int row, int column,
         const Formula& source, TranslatedModel& out, std::vector<std::string>& errors) {
  TranslatedFormula f{role, row, column, source, {}, {}, false};
  std::string message;
  if (Translate(names, source.text, f.text, message, &f.refs) == 0) {
    f.ok = true;
  } else {
    f.text.clear();
    errors.push_back(Where(model, source) + ": " + message);
  }
  out.formulas.push_back(std::move(f));
}

// "the time", "species 'A'", "parameter 'kobs'" for a notation token.
std::string Describe(const Model& model, const std::string& token) {
  if (token == "T") return "the time";
  const int n = std::stoi(token.substr(1)) - 1;
  if (token[0] == 'F') return "species '" + model.species[n].name + "'";
  return "parameter '" + model.parameters[n].name + "'";
}

int SpeciesIndex(const Model& model, const std::string& name) {
  for (size_t s = 0; s < model.species.size(); ++s)
    if (model.species[s].name == name) return static_cast<int>(s);
  return -1;
}

int IndexOfToken(const std::string& token, char kind) {
  return token.size() >= 2 && token[0] == kind ? std::stoi(token.substr(1)) - 1 : -1;
}

// Equal_to expressions: only adjustables and numbers, no self-reference, no cycle.
void CheckBindings(const Model& model, const TranslatedModel& t, std::vector<std::string>& errors) {
  const size_t n = model.adjustables.size();
  std::vector<std::vector<int>> uses(n);
  std::vector<const TranslatedFormula*> formula(n, nullptr);
  for (const auto& f : t.formulas) {
    if (f.role != FormulaRole::EqualTo || !f.ok) continue;
    formula[f.row] = &f;
    for (const auto& r : f.refs) {
      const int a = IndexOfToken(r, 'A');
      if (a < 0) {
        errors.push_back(Where(model, f.source) + ": equal_to may only use adjustables and "
                         "numbers, not " + Describe(model, r));
      } else if (a == f.row) {
        errors.push_back(Where(model, f.source) + ": refers to its own adjustable '" +
                         model.adjustables[a].name + "'");
      } else {
        uses[f.row].push_back(a);
      }
    }
  }
  // A bound adjustable reached again while following bindings from it closes a cycle.
  for (size_t start = 0; start < n; ++start) {
    if (!formula[start]) continue;
    std::vector<int> stack(uses[start].begin(), uses[start].end());
    std::vector<bool> seen(n, false);
    while (!stack.empty()) {
      const int a = stack.back();
      stack.pop_back();
      if (a == static_cast<int>(start)) {
        errors.push_back(Where(model, formula[start]->source) + ": the equal_to expressions of '" +
                         model.adjustables[start].name + "' and of the adjustables it uses "
                         "refer to each other in a cycle");
        break;
      }
      if (seen[a] || !formula[a]) continue;
      seen[a] = true;
      stack.insert(stack.end(), uses[a].begin(), uses[a].end());
    }
  }
}

void CheckParameters(const Model& model, const TranslatedModel& t, std::vector<std::string>& errors) {
  for (const auto& f : t.formulas) {
    if (f.role != FormulaRole::ParameterEquation || !f.ok) continue;
    for (const auto& r : f.refs)
      if (IndexOfToken(r, 'P') == f.row) {
        errors.push_back(Where(model, f.source) + ": the equation of parameter '" +
                         model.parameters[f.row].name + "' refers to its own value");
        break;
      }
  }
}

// text with every whole notation token `from` (F2, not F21) replaced by `to`.
std::string ReplaceToken(const std::string& text, const std::string& from, const std::string& to) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    const bool starts = text.compare(i, from.size(), from) == 0 &&
                        (i == 0 || !std::isalnum(static_cast<unsigned char>(text[i - 1]))) &&
                        (i + from.size() == text.size() ||
                         !std::isdigit(static_cast<unsigned char>(text[i + from.size()])));
    if (starts) {
      out += to;
      i += from.size();
    } else {
      out += text[i++];
    }
  }
  return out;
}

// Start formulas read the previous interval's end state (see the header).
void RouteStartReads(const Model& model, TranslatedModel& t, std::vector<std::string>& errors) {
  const int species = static_cast<int>(model.species.size());
  // changes[k][j]: species j's start formula in interval k changes its value.
  std::vector<std::vector<bool>> changes(t.intervals, std::vector<bool>(species, false));
  for (const auto& f : t.formulas)
    if (f.role == FormulaRole::SpeciesStart)
      changes[f.column][f.row] = f.text != "F" + std::to_string(f.row + 1);
  std::vector<int> hidden(species, -1);  // parameter index (0-based) copying species j
  std::vector<TranslatedFormula> added;
  for (auto& f : t.formulas) {
    if (f.role != FormulaRole::SpeciesStart || !f.ok) continue;
    for (const auto& r : f.refs) {
      const int j = IndexOfToken(r, 'F');
      if (j < 0) continue;
      if (f.column == 0) {
        errors.push_back(Where(model, f.source) + ": reads species '" + model.species[j].name +
                         "', but nothing precedes interval 1: write its start value from "
                         "adjustables and parameters");
        break;
      }
      if (j >= f.row || !changes[f.column][j]) continue;  // still the previous interval's value
      if (hidden[j] < 0) {
        hidden[j] = static_cast<int>(model.parameters.size() + t.hidden_parameters.size());
        t.hidden_parameters.push_back(model.species[j].name + " before the start");
        for (int k = 0; k < t.intervals; ++k) {
          Formula copy{r, "species " + model.species[j].name + " before the start of interval " +
                              std::to_string(k + 1), f.source.line, f.source.column};
          added.push_back({FormulaRole::ParameterEquation, hidden[j], k, copy, r, {r}, true});
        }
      }
      f.text = ReplaceToken(f.text, r, "P" + std::to_string(hidden[j] + 1));
    }
  }
  t.formulas.insert(t.formulas.end(), added.begin(), added.end());
  const size_t total = model.parameters.size() + t.hidden_parameters.size();
  if (total > static_cast<size_t>(kMaxParameters))
    errors.push_back(model.path + ": the start formulas read " +
                     std::to_string(t.hidden_parameters.size()) + " species declared before "
                     "their own, each of which takes a parameter to hold its value from before "
                     "the start; with the model's " + std::to_string(model.parameters.size()) +
                     " parameters that exceeds the library's " + std::to_string(kMaxParameters) +
                     ": declare the species read after the ones that read them");
}

}  // namespace

std::string Where(const Model& model, const Formula& f) {
  std::string w = model.path;
  if (f.line > 0) w += ":" + std::to_string(f.line);
  if (f.line > 0 && f.column > 0) w += ":" + std::to_string(f.column);
  return w + ": " + f.label;
}

int TranslateModel(const Model& model, int intervals, TranslatedModel& out,
                   std::vector<std::string>& errors) {
  out = TranslatedModel{};
  out.intervals = intervals;
  const size_t before = errors.size();
  const NameTable names = BuildNameTable(model);
  for (size_t s = 0; s < model.species.size(); ++s) {
    const SpeciesDecl& d = model.species[s];
    for (int k = 0; k < intervals; ++k) {
      if (k < static_cast<int>(d.start.size())) {
        Add(model, names, FormulaRole::SpeciesStart, static_cast<int>(s), k, d.start[k], out,
            errors);
      } else {  // continues the integrated value
        Formula cont{d.name, "species " + d.name + " start, interval " + std::to_string(k + 1) +
                                 " (continues)", d.line, 0};
        Add(model, names, FormulaRole::SpeciesStart, static_cast<int>(s), k, cont, out, errors);
      }
    }
  }
  for (size_t p = 0; p < model.parameters.size(); ++p) {
    const ParameterDecl& d = model.parameters[p];
    for (int k = 0; k < intervals; ++k) {
      const size_t from = std::min(static_cast<size_t>(k), d.equation.size() - 1);
      Add(model, names, FormulaRole::ParameterEquation, static_cast<int>(p), k, d.equation[from],
          out, errors);
      if (from != static_cast<size_t>(k)) out.formulas.back().column = k;
    }
  }
  for (size_t a = 0; a < model.adjustables.size(); ++a)
    if (model.adjustables[a].bound)
      Add(model, names, FormulaRole::EqualTo, static_cast<int>(a), 0,
          model.adjustables[a].equal_to, out, errors);
  for (size_t o = 0; o < model.outputs.size(); ++o)
    Add(model, names, FormulaRole::Output, static_cast<int>(o), 0, model.outputs[o].formula, out,
        errors);
  for (const RateDecl& r : model.rates) {
    const int i = SpeciesIndex(model, r.species);
    for (const auto& [col, f] : r.coefficients)
      Add(model, names, FormulaRole::Coefficient, i, SpeciesIndex(model, col), f, out, errors);
    if (r.has_free) Add(model, names, FormulaRole::FreeTerm, i, 0, r.free_term, out, errors);
  }
  CheckBindings(model, out, errors);
  CheckParameters(model, out, errors);
  RouteStartReads(model, out, errors);
  return errors.size() == before ? 0 : 2;
}

}  // namespace tarvo::frontend
