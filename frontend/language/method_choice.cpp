#include "language/method_choice.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "Symbolic/cells.h"
#include "Symbolic/compil.h"
#include "Symbolic/formula_pipeline.h"
#include "engines/external.h"
#include "engines/methods.h"
#include "language/text.h"
#include "platform/variant.h"

namespace tarvo::frontend {

namespace {

// Whether this program offers the method: built in, or registered by the method library.
bool Offered(const std::string& method) {
  const std::u16string name = FromUtf8(method);
  return EngineForMethod(name) != nullptr ||
         FindExternalMethod(RegisteredExternalMethods(), name) != nullptr;
}

bool IsRate(const TranslatedFormula& f) {
  return f.role == FormulaRole::Coefficient || f.role == FormulaRole::FreeTerm;
}

int TokenIndex(const std::string& token, char kind) {
  if (token.size() < 2 || token[0] != kind) return -1;
  for (size_t i = 1; i < token.size(); ++i)
    if (token[i] < '0' || token[i] > '9') return -1;
  return std::stoi(token.substr(1)) - 1;
}

// "A, B and the time T": what a rate formula reads that makes the model nonlinear.
std::string VaryingReads(const Prepared& p, const TranslatedFormula& f) {
  std::string what;
  bool time = false;
  for (const std::string& r : f.refs) {
    if (r == "T") time = true;
    const int s = TokenIndex(r, 'F');
    if (s < 0) continue;
    const std::string name = s < static_cast<int>(p.model.species.size())
                                 ? p.model.species[s].name : r;
    what += (what.empty() ? "species " : ", ") + name;
  }
  if (time) what += what.empty() ? "the time T" : " and the time T";
  return what;
}

// One formula evaluated on cells; false when it does not compile or raises a failure.
bool EvaluateOn(FormulaCells& cells, const std::string& text, double& value) {
  compilptr c = NewCompil();
  if (!c) return false;
  bool ok = false;
  try {
    FormulaStages stages;
    CompileFormula(cells, Text(text.begin(), text.end()), c, {}, stages);
    if (stages.compiled && stages.faults == 0 && stages.tokenize_errors == 0) {
      value = Evaluate(c);
      ok = true;
    }
  } catch (...) {
    ok = false;
  }
  Release(c);
  return ok;
}

// The time the simulation starts: t0 when it comes before the first point, else that point.
double StartTime(const Prepared& p) {
  if (p.data.points.empty()) return p.model.t0;
  return std::min(p.model.t0, p.data.points.front().time);
}

// The cells at the start of interval 1, as the set-up's first simulation fills them: bound
// adjustables, then the parameters in order, then the species. Nil when a formula did not
// translate, compile or evaluate.
std::unique_ptr<FormulaCells> StartCells(const Prepared& p) {
  auto cells = std::make_unique<FormulaCells>();
  const size_t adjustables = std::min<size_t>(p.values.size(), kMaxAdjustables);
  for (size_t a = 0; a < adjustables; ++a) cells->adjustables[a] = p.values[a];
  cells->time = StartTime(p);
  std::vector<const TranslatedFormula*> bound, parameters, starts;
  for (const TranslatedFormula& f : p.text.formulas) {
    if (!f.ok) return nullptr;
    if (f.role == FormulaRole::EqualTo) bound.push_back(&f);
    if (f.role == FormulaRole::ParameterEquation && f.column == 0) parameters.push_back(&f);
    if (f.role == FormulaRole::SpeciesStart && f.column == 0) starts.push_back(&f);
  }
  // equal_to reads only adjustables and has no cycle: as many passes as there are bindings.
  for (size_t pass = 0; pass < bound.size(); ++pass)
    for (const TranslatedFormula* f : bound)
      if (f->row < kMaxAdjustables && !EvaluateOn(*cells, f->text, cells->adjustables[f->row]))
        return nullptr;
  std::sort(parameters.begin(), parameters.end(),
            [](const auto* a, const auto* b) { return a->row < b->row; });
  for (const TranslatedFormula* f : parameters)
    if (f->row < kMaxParameters && !EvaluateOn(*cells, f->text, cells->parameters[f->row]))
      return nullptr;
  for (const TranslatedFormula* f : starts)
    if (f->row < kMaxSpecies && !EvaluateOn(*cells, f->text, cells->species[f->row]))
      return nullptr;
  return cells;
}

// The diagonal of M (each species' coefficient in its own rate) at the start values.
bool DiagonalAtStart(const Prepared& p, std::vector<double>& diagonal) {
  std::unique_ptr<FormulaCells> cells = StartCells(p);
  if (!cells) return false;
  diagonal.assign(p.model.species.size(), 0.0);
  for (const TranslatedFormula& f : p.text.formulas) {
    if (f.role != FormulaRole::Coefficient || f.row != f.column) continue;
    if (f.row < 0 || f.row >= static_cast<int>(diagonal.size())) continue;
    double v = 0;
    if (!EvaluateOn(*cells, f.text, v) || !std::isfinite(v)) return false;
    diagonal[f.row] += v;
  }
  return true;
}

}  // namespace

Kinetics AssessKinetics(const Prepared& p) {
  Kinetics k;
  for (const TranslatedFormula& f : p.text.formulas) {
    if (!IsRate(f)) continue;
    const std::string what = VaryingReads(p, f);
    if (what.empty()) continue;
    k.linear = false;
    k.nonlinear.push_back(Where(p.model, f.source) + " reads " + what);
  }
  std::vector<double> diagonal;
  if (!DiagonalAtStart(p, diagonal)) return k;
  k.diagonal_known = true;
  for (size_t i = 0; i < diagonal.size(); ++i) {
    const double m = std::fabs(diagonal[i]);
    if (m == 0) continue;
    if (m > k.fastest) {
      k.fastest = m;
      k.fast_species = p.model.species[i].name;
    }
    if (k.slowest == 0 || m < k.slowest) {
      k.slowest = m;
      k.slow_species = p.model.species[i].name;
    }
  }
  if (!p.data.points.empty()) k.span = p.data.points.back().time - StartTime(p);
  k.stiff = k.slowest > 0 && k.fastest / k.slowest > kStiffSpread &&
            k.fastest * k.span > kStiffSpread;
  return k;
}

namespace {

std::string StiffWhy(const Kinetics& k) {
  return "the rates of its species at the start values spread over " +
         Num(k.fastest / k.slowest, 3) + " (" + k.fast_species + " " + Num(k.fastest, 3) +
         " against " + k.slow_species + " " + Num(k.slowest, 3) + " per time unit, over a span "
         "of " + Num(k.span, 3) + "), so the model is stiff";
}

}  // namespace

MethodChoice ChooseMethod(const Prepared& p) {
  const Kinetics k = AssessKinetics(p);
  if (k.linear && Offered("EXACT"))
    return {"EXACT", "the model is linear (no coefficient or free term of a rate reads a "
                     "species or T), so the exponential of its rate matrix solves it exactly"};
  if (k.stiff && Offered("BDF")) return {"BDF", StiffWhy(k)};
  std::string why = k.linear ? "the model is linear, but this program has no \"EXACT\""
                    : k.stiff ? "the model is stiff, but this program has no \"BDF\""
                    : !k.diagonal_known
                        ? "the model is not linear (" + k.nonlinear.front() +
                              ") and its rates could not be evaluated at the start values"
                        : "the model is not linear (" + k.nonlinear.front() +
                              ") nor stiff (its rates at the start values spread over " +
                              (k.slowest > 0 ? Num(k.fastest / k.slowest, 3) : std::string("1")) +
                              ", at most " + Num(kStiffSpread) + ")";
  return {"RUNGE-KUTTA QC", why};
}

void ResolveMethod(Prepared& p) {
  if (p.model.method != kAutoMethod) return;
  const MethodChoice c = ChooseMethod(p);
  p.model.method = c.method;
  p.method_choice = c.why;
}

bool StartValues(const Prepared& p, std::vector<double>& species) {
  std::unique_ptr<FormulaCells> cells = StartCells(p);
  if (!cells) return false;
  const size_t n = std::min<size_t>(p.model.species.size(), kMaxSpecies);
  species.assign(cells->species, cells->species + n);
  return true;
}

std::string ExactProblem(const Prepared& p) {
  if (p.model.method != "EXACT") return "";
  const Kinetics k = AssessKinetics(p);
  if (k.linear) return "";
  std::string at = p.model.path;
  if (p.model.method_line > 0) at += ":" + std::to_string(p.model.method_line);
  std::string reads;
  constexpr size_t kNamed = 4;
  for (size_t i = 0; i < k.nonlinear.size() && i < kNamed; ++i) reads += "; " + k.nonlinear[i];
  if (k.nonlinear.size() > kNamed)
    reads += "; and " + std::to_string(k.nonlinear.size() - kNamed) + " more";
  return at + ": method \"EXACT\" solves linear kinetics only (no coefficient or free term of "
              "a rate may read a species or the time T); use \"BDF\" or \"RUNGE-KUTTA QC\"" +
         reads;
}

std::vector<std::string> MethodNotes(const Prepared& p) {
  std::vector<std::string> notes;
  const std::string& m = p.model.method;
  if (!p.method_choice.empty()) {
    notes.push_back("method = \"auto\" picked \"" + m + "\": " + p.method_choice);
    return notes;
  }
  const MethodFacts* facts = FactsForMethod(m);
  if (!facts || m == "EXACT") return notes;
  const Kinetics k = AssessKinetics(p);
  if (k.linear && Offered("EXACT"))
    notes.push_back("the model is linear (no coefficient or free term of a rate reads a "
                    "species or T): method \"EXACT\" solves it exactly, usually many times "
                    "faster than " + m);
  else if (k.stiff && m != "BDF" && Offered("BDF"))
    notes.push_back(StiffWhy(k) + ": method \"BDF\" takes steps the fast rates do not bound, "
                    "usually far fewer than " + m);
  return notes;
}

}  // namespace tarvo::frontend
