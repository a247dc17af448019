#include "language/sbml_import.h"

#include <sbml/SBMLTransforms.h>
#include <sbml/extension/SBasePlugin.h>
#include <sbml/SBMLTypes.h>
#include <sbml/conversion/ConversionProperties.h>
#include <sbml/math/ASTNode.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>
#include <memory>
#include <set>

#include "api/limits.h"
#include "language/model_file.h"
#include "language/model_text.h"
#include "language/names.h"

LIBSBML_CPP_NAMESPACE_USE

namespace tarvo::frontend {

namespace {

struct Refused {
  SbmlDiagnostic d;
};

[[noreturn]] void Refuse(const std::string& construct, const std::string& id,
                         const std::string& reason, int line = 0) {
  throw Refused{{construct, id, reason, line}};
}

std::string Num(double v) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  std::string s(buf, r.ptr);
  // TOML wants a digit after the point and accepts 1e-06; the model language too.
  return s;
}

// A number as an operand: negative ones in brackets.
std::string Signed(double v) {
  const std::string s = Num(v);
  return s[0] == '-' ? "(" + s + ")" : s;
}

std::string TomlNum(double v) {
  std::string s = Num(v);
  if (s.find_first_of(".e") == std::string::npos) s += ".0";
  return s;
}

std::string Quote(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') out += '\\';
    if (c == '\n' || c == '\r' || c == '\t') c = ' ';
    out += c;
  }
  return out + "\"";
}

// Text of an expression and whether it needs no brackets as an operand.
struct Txt {
  std::string s;
  bool atomic = true;
};

std::string Wrap(const Txt& t) { return t.atomic ? t.s : "(" + t.s + ")"; }

enum class Kind { kAdjustable, kState, kRuled };

struct Sym {
  Kind kind = Kind::kAdjustable;
  std::string name;      // in the model file
  const ASTNode* rule = nullptr;     // assignment rule (kRuled)
  const ASTNode* initial = nullptr;  // initial assignment
  std::string start;     // start formula of a state, or equal_to of an adjustable ("" none)
  bool has_value = false;
  double value = 0;
  bool concentration = false;  // a species held as a concentration
  std::string compartment;     // SBML id of a species' compartment
  std::string element;         // "species", "parameter", "compartment", "local parameter"
  std::string sbml_id, sbml_name;
  int line = 0;
  int visiting = 0;  // cycle guard of the inlining
};

enum class Ctx { kRun, kInitial };

class Importer {
 public:
  SbmlImport Run(SBMLDocument& doc);

 private:
  ::Model* m_ = nullptr;
  // The same model with every initial assignment libSBML could evaluate replaced by its value:
  // the values of constant expressions the model language cannot write.
  std::unique_ptr<SBMLDocument> evaluated_;
  const ::Model* ev_ = nullptr;
  std::map<std::string, Sym> syms_;
  std::set<std::string> taken_;  // every model-file name in use and every SBML id
  std::set<std::string> names_wanted_;  // SBML names that several elements share
  std::vector<std::string> order_;  // SBML ids in declaration order
  std::string current_reaction_;    // reaction whose kinetic law is being translated
  std::map<std::string, std::string> locals_;  // local parameter id -> key in syms_
  SbmlImport out_;

  void CheckSupported(SBMLDocument& doc);
  std::string NameFor(const std::string& id, const std::string& prefix = "");
  Sym& Lookup(const std::string& id, const std::string& where);
  Txt Expr(const ASTNode* n, Ctx ctx, const std::string& where);
  std::string Formula(const ASTNode* n, Ctx ctx, const std::string& where);
  std::string Initial(Sym& s);
  double TriggerTime(const Event& e);
  bool IsConstant(const ASTNode* n);
  const SpeciesReference* EvaluatedReference(const std::string& id);
  double Stoichiometry(const SpeciesReference& sr, const std::string& reaction);
};

const SpeciesReference* FindReference(const ::Model& m, const std::string& id) {
  for (unsigned i = 0; i < m.getNumReactions(); ++i) {
    const Reaction& r = *m.getReaction(i);
    for (const ListOfSpeciesReferences* list : {r.getListOfReactants(), r.getListOfProducts()})
      for (unsigned k = 0; k < list->size(); ++k) {
        const auto* sr = static_cast<const SpeciesReference*>(list->get(k));
        if (sr->isSetId() && sr->getId() == id) return sr;
      }
  }
  return nullptr;
}

const SpeciesReference* Importer::EvaluatedReference(const std::string& id) {
  return ev_ ? FindReference(*ev_, id) : nullptr;
}

// A stoichiometry, or the value libSBML gives the initial assignment that sets it.
double Importer::Stoichiometry(const SpeciesReference& sr, const std::string& reaction) {
  if (sr.isSetId() && m_->getInitialAssignment(sr.getId())) {
    const SpeciesReference* e = EvaluatedReference(sr.getId());
    if (!e || (ev_ && ev_->getInitialAssignment(sr.getId())) || !e->isSetStoichiometry())
      Refuse("variable stoichiometry", sr.getId(), "the initial assignment of stoichiometry '" +
             sr.getId() + "' of reaction '" + reaction + "' could not be evaluated");
    return e->getStoichiometry();
  }
  return sr.isSetStoichiometry() ? sr.getStoichiometry() : 1.0;
}

// Whether libSBML may evaluate n once for all: it reads only numbers, constant parameters
// and compartments (no local parameter, species, time or anything an event or rule changes).
bool Importer::IsConstant(const ASTNode* n) {
  switch (n->getType()) {
    case AST_NAME_TIME:
    case AST_FUNCTION_DELAY:
    case AST_FUNCTION_RATE_OF:
    case AST_FUNCTION:
    case AST_LAMBDA:
      return false;
    case AST_NAME: {
      const std::string id = n->getName();
      if (FindReference(*m_, id)) return !m_->getRule(id);
      if (!current_reaction_.empty() && locals_.count(current_reaction_ + "\x1f" + id))
        return false;
      auto it = syms_.find(id);
      if (it == syms_.end() || it->second.kind != Kind::kAdjustable) return false;
      break;
    }
    default:
      break;
  }
  for (unsigned i = 0; i < n->getNumChildren(); ++i)
    if (!IsConstant(n->getChild(i))) return false;
  return true;
}

std::string Importer::NameFor(const std::string& id, const std::string& prefix) {
  std::string base = prefix.empty() ? id : prefix + "_" + id;
  std::string why;
  std::string name = base;
  if (CheckName(name, why) != 0 || name == "free" ||
      (!prefix.empty() && taken_.count(name))) {
    name = base + "_";
    while (CheckName(name, why) != 0 || taken_.count(name)) name += "_";
    out_.notes.push_back("SBML " + std::string(prefix.empty() ? "" : "local ") + "id '" + id +
                         "' is named '" + name + "' in the model file" +
                         (prefix.empty() ? " (the model language reserves '" + id + "')" : ""));
  }
  taken_.insert(name);
  return name;
}

Sym& Importer::Lookup(const std::string& id, const std::string& where) {
  if (!current_reaction_.empty()) {
    auto l = locals_.find(current_reaction_ + "\x1f" + id);
    if (l != locals_.end()) return syms_.at(l->second);
  }
  auto it = syms_.find(id);
  if (it == syms_.end())
    Refuse("unknown symbol", id, where + " reads '" + id + "', which is neither a compartment, "
           "species nor parameter (a species reference or reaction id in math is not supported)");
  return it->second;
}

std::string Importer::Initial(Sym& s) {
  if (s.visiting) Refuse("initial assignment", s.sbml_id, "the initial values of '" + s.sbml_id +
                                                              "' depend on themselves");
  if (!s.start.empty()) return s.start;
  ++s.visiting;
  std::string text;
  const std::string where = s.element + " '" + s.sbml_id + "'";
  if (s.initial) {
    text = Formula(s.initial, Ctx::kInitial, "the initial assignment of " + where);
  } else if (s.has_value) {
    text = Signed(s.value);
  } else {
    Refuse(s.element, s.sbml_id, where + " has no initial value");
  }
  --s.visiting;
  return text;
}

Txt Importer::Expr(const ASTNode* n, Ctx ctx, const std::string& where) {
  auto child = [&](unsigned i) { return Expr(n->getChild(i), ctx, where); };
  auto number = [](double v) {
    if (!std::isfinite(v)) return Txt{"", false};
    const std::string s = Num(v);
    return s[0] == '-' ? Txt{"(" + s + ")", true} : Txt{s, true};
  };
  switch (n->getType()) {
    case AST_INTEGER:
      return number(static_cast<double>(n->getInteger()));
    case AST_REAL:
    case AST_REAL_E:
    case AST_RATIONAL: {
      Txt t = number(n->getReal());
      if (t.s.empty()) Refuse("math", "", where + " holds a number that is not finite");
      return t;
    }
    case AST_NAME_AVOGADRO:
      return number(n->getReal());
    case AST_CONSTANT_PI:
      return number(M_PI);
    case AST_CONSTANT_E:
      return {"exp(1)", true};
    case AST_NAME_TIME:
      return ctx == Ctx::kInitial ? Txt{"0", true} : Txt{"T", true};
    case AST_NAME: {
      const bool local = !current_reaction_.empty() &&
                         locals_.count(current_reaction_ + "\x1f" + n->getName());
      if (const SpeciesReference* sr = local ? nullptr : FindReference(*m_, n->getName())) {
        if (m_->getRule(n->getName()))
          Refuse("variable stoichiometry", n->getName(), where + " reads stoichiometry '" +
                 std::string(n->getName()) + "', which a rule changes");
        return number(Stoichiometry(*sr, ""));
      }
      if (const Reaction* r = local ? nullptr : m_->getReaction(n->getName())) {
        // A reaction's id reads its rate: the kinetic law, with its own local parameters.
        const std::string saved = current_reaction_;
        current_reaction_ = r->getId();
        Txt t = Expr(r->getKineticLaw()->getMath(), ctx, "the kinetic law of reaction '" +
                                                             r->getId() + "'");
        current_reaction_ = saved;
        return {Wrap(t), true};
      }
      Sym& s = Lookup(n->getName(), where);
      if (s.kind == Kind::kRuled) {
        if (s.visiting) Refuse("assignment rule", s.sbml_id, "the assignment rules of '" +
                                                                 s.sbml_id + "' form a cycle");
        ++s.visiting;
        const std::string saved = current_reaction_;
        current_reaction_.clear();
        Txt t = Expr(s.rule, ctx, "the assignment rule of '" + s.sbml_id + "'");
        current_reaction_ = saved;
        --s.visiting;
        return {Wrap(t), true};
      }
      if (ctx == Ctx::kInitial && (s.kind == Kind::kState || !s.start.empty() || s.initial)) {
        const std::string saved = current_reaction_;
        current_reaction_.clear();
        std::string t = Initial(s);
        current_reaction_ = saved;
        const bool plain = t.find_first_of("+-*/^") == std::string::npos || t[0] == '(';
        return {plain ? t : "(" + t + ")", true};
      }
      return {s.name, true};
    }
    case AST_PLUS: {
      if (n->getNumChildren() == 0) return {"0", true};
      if (n->getNumChildren() == 1) return child(0);
      std::string s;
      for (unsigned i = 0; i < n->getNumChildren(); ++i) s += (i ? "+" : "") + child(i).s;
      return {s, false};
    }
    case AST_MINUS: {
      if (n->getNumChildren() == 1) return {"(-" + Wrap(child(0)) + ")", true};
      if (n->getNumChildren() != 2) break;
      return {child(0).s + "-" + Wrap(child(1)), false};
    }
    case AST_TIMES: {
      if (n->getNumChildren() == 0) return {"1", true};
      if (n->getNumChildren() == 1) return child(0);
      std::string s;
      for (unsigned i = 0; i < n->getNumChildren(); ++i) {
        const Txt t = child(i);  // a product inside a product needs no brackets
        s += (i ? "*" : "") + (n->getChild(i)->getType() == AST_TIMES ? t.s : Wrap(t));
      }
      return {s, false};
    }
    case AST_DIVIDE:
      if (n->getNumChildren() != 2) break;
      return {(n->getChild(0)->getType() == AST_TIMES ? child(0).s : Wrap(child(0))) + "/" +
                  Wrap(child(1)),
              false};
    case AST_POWER:
    case AST_FUNCTION_POWER:
      if (n->getNumChildren() != 2) break;
      return {Wrap(child(0)) + "^" + Wrap(child(1)), false};
    case AST_FUNCTION_EXP:
      if (n->getNumChildren() != 1) break;
      return {"exp(" + child(0).s + ")", true};
    case AST_FUNCTION_LN:
      if (n->getNumChildren() != 1) break;
      return {"ln(" + child(0).s + ")", true};
    case AST_FUNCTION_LOG: {
      if (n->getNumChildren() == 1) return {"ln(" + child(0).s + ")/ln(10)", false};
      if (n->getNumChildren() != 2) break;
      return {"ln(" + child(1).s + ")/ln(" + child(0).s + ")", false};
    }
    case AST_FUNCTION_ROOT: {
      if (n->getNumChildren() == 1) return {Wrap(child(0)) + "^0.5", false};
      if (n->getNumChildren() != 2) break;
      return {Wrap(child(1)) + "^(1/" + Wrap(child(0)) + ")", false};
    }
    case AST_FUNCTION_DELAY:
      Refuse("delay", "", where + " uses delay(), which the library cannot integrate");
    default:
      break;
  }
  if (ev_ && IsConstant(n)) {  // math the language lacks, on constants only: its value
    const double v = SBMLTransforms::evaluateASTNode(n, ev_);
    if (std::isfinite(v)) return number(v);
  }
  const char* name = n->getName();
  std::string what = name ? name : "";
  if (what.empty()) {
    std::unique_ptr<char, decltype(&free)> text(SBML_formulaToL3String(n), &free);
    what = text ? text.get() : "an operator";
  }
  if (n->isBoolean() || n->isRelational() || n->isLogical())
    Refuse("math", "", where + " uses the comparison or logic '" + what +
                           "', which the model language lacks");
  if (n->isPiecewise())
    Refuse("math", "", where + " uses piecewise, which the model language lacks");
  Refuse("math", "", where + " uses '" + what + "', which the model language lacks (it has "
                     "+ - * / ^, exp and ln)");
}

std::string Importer::Formula(const ASTNode* n, Ctx ctx, const std::string& where) {
  if (!n) Refuse("math", "", where + " has no math");
  std::string s = Expr(n, ctx, where).s;
  if (s.size() > 10000)
    Refuse("math", "", where + " is " + std::to_string(s.size()) + " characters long once its "
           "rules are inlined; a formula holds at most 10000");
  return s;
}

// Packages that only draw the model change nothing in its simulation.
bool IsDrawing(const std::string& package) { return package == "layout" || package == "render"; }

void Importer::CheckSupported(SBMLDocument& doc) {
  // A plugin whose namespace the document does not declare is libSBML's own (the math of
  // Level 3 Version 2 comes as one).
  const XMLNamespaces* declared = doc.getNamespaces();
  for (unsigned i = 0; i < doc.getNumPlugins(); ++i)
    if (declared && declared->hasURI(doc.getPlugin(i)->getURI()) &&
        doc.getPlugin(i)->getURI() != doc.getURI() &&
        !IsDrawing(doc.getPlugin(i)->getPackageName()))
      Refuse("package", "", "the document uses the SBML package '" +
                                doc.getPlugin(i)->getPackageName() + "', which is not supported");
  if (doc.getNumUnknownPackages() > 0)
    Refuse("package", "", "the document uses the SBML package '" +
                              doc.getUnknownPackagePrefix(0) + "', which is not supported");
  const ::Model& m = *doc.getModel();
  if (m.isSetConversionFactor())
    Refuse("conversion factor", m.getConversionFactor(),
           "the model's conversion factor is not supported");
  for (unsigned i = 0; i < m.getNumCompartments(); ++i) {
    const Compartment& c = *m.getCompartment(i);
    (void)c;  // one that rules or events change is refused below
  }
  for (unsigned i = 0; i < m.getNumSpecies(); ++i) {
    const Species& s = *m.getSpecies(i);
    if (s.isSetConversionFactor())
      Refuse("conversion factor", s.getId(), "species '" + s.getId() +
             "' has a conversion factor, which is not supported", s.getLine());
  }
  for (unsigned i = 0; i < m.getNumRules(); ++i) {
    const Rule& r = *m.getRule(i);
    if (r.isAlgebraic())
      Refuse("algebraic rule", r.getMetaId(), "algebraic rule " + std::to_string(i + 1) +
             " is not supported (the library integrates explicit rates only)", r.getLine());
    if (m.getCompartment(r.getVariable()))
      Refuse("non-constant compartment", r.getVariable(), "a rule sets the size of compartment '"
             + r.getVariable() + "', which is not supported", r.getLine());
    if (FindReference(m, r.getVariable()))
      Refuse("variable stoichiometry", r.getVariable(), "a rule sets stoichiometry '" +
             r.getVariable() + "', which is not supported", r.getLine());
  }
  for (unsigned i = 0; i < m.getNumReactions(); ++i) {
    const Reaction& r = *m.getReaction(i);
    if (r.isSetFast() && r.getFast())
      Refuse("fast reaction", r.getId(), "reaction '" + r.getId() + "' is fast, which is not "
             "supported", r.getLine());
    if (!r.isSetKineticLaw() || !r.getKineticLaw()->isSetMath())
      Refuse("reaction without kinetic law", r.getId(), "reaction '" + r.getId() +
             "' has no kinetic law", r.getLine());
    auto refs = [&](const ListOfSpeciesReferences* list) {
      for (unsigned k = 0; k < list->size(); ++k) {
        const auto* sr = static_cast<const SpeciesReference*>(list->get(k));
        if (sr->isSetStoichiometryMath() || (sr->getLevel() == 3 && !sr->getConstant()))
          Refuse("variable stoichiometry", r.getId(), "reaction '" + r.getId() +
                 "' has a stoichiometry that may change, which is not supported", r.getLine());
      }
    };
    refs(r.getListOfReactants());
    refs(r.getListOfProducts());
  }
  for (unsigned i = 0; i < m.getNumEvents(); ++i) {
    const Event& e = *m.getEvent(i);
    if (e.isSetDelay())
      Refuse("event with delay", e.getId(), "event '" + e.getId() + "' has a delay, which is not "
             "supported", e.getLine());
    for (unsigned k = 0; k < e.getNumEventAssignments(); ++k) {
      const std::string& v = e.getEventAssignment(k)->getVariable();
      if (m.getCompartment(v))
        Refuse("non-constant compartment", v, "event '" + e.getId() + "' sets the size of "
               "compartment '" + v + "', which is not supported", e.getLine());
      if (FindReference(m, v))
        Refuse("variable stoichiometry", v, "event '" + e.getId() + "' sets stoichiometry '" +
               v + "', which is not supported", e.getLine());
    }
  }
}

bool ReadsNoState(const ASTNode* n, const ::Model& m) {
  if (n->getType() == AST_NAME_TIME) return false;
  if (n->getType() == AST_NAME) {
    const std::string id = n->getName();
    if (m.getSpecies(id)) return false;
    if (const Rule* r = m.getRule(id)) return r->isAssignment() && ReadsNoState(r->getMath(), m);
  }
  for (unsigned i = 0; i < n->getNumChildren(); ++i)
    if (!ReadsNoState(n->getChild(i), m)) return false;
  return true;
}

double Importer::TriggerTime(const Event& e) {
  const std::string who = "event '" + e.getId() + "'";
  if (!e.isSetTrigger() || !e.getTrigger()->isSetMath())
    Refuse("event", e.getId(), who + " has no trigger", e.getLine());
  const ASTNode* t = e.getTrigger()->getMath();
  std::unique_ptr<char, decltype(&free)> text(SBML_formulaToL3String(t), &free);
  const std::string shown = text ? text.get() : "?";
  const ASTNodeType_t type = t->getType();
  const ASTNode* other = nullptr;
  if (t->getNumChildren() == 2) {
    const ASTNode* a = t->getChild(0);
    const ASTNode* b = t->getChild(1);
    if ((type == AST_RELATIONAL_GEQ || type == AST_RELATIONAL_GT) && a->getType() == AST_NAME_TIME)
      other = b;
    if ((type == AST_RELATIONAL_LEQ || type == AST_RELATIONAL_LT) && b->getType() == AST_NAME_TIME)
      other = a;
  }
  if (!other || !ReadsNoState(other, *m_)) {
    std::string reason = who + " is triggered by '" + shown + "'";
    std::unique_ptr<List> names(t->getListOfNodes(
        [](const ASTNode* n) -> int { return n->getType() == AST_NAME; }));
    std::string changing;  // the first species, or value that changes in time, it reads
    for (unsigned i = 0; i < names->getSize() && changing.empty(); ++i) {
      const std::string id = static_cast<const ASTNode*>(names->get(i))->getName();
      auto it = syms_.find(id);
      if (m_->getSpecies(id)) changing = "species '" + id + "'";
      else if (it != syms_.end() && it->second.kind != Kind::kAdjustable)
        changing = "'" + id + "', which changes in time";
    }
    if (!changing.empty()) reason += ", which depends on " + changing;
    Refuse("event", e.getId(), reason + ": only a trigger on the time alone (time >= t) can "
           "become an interval of the library", e.getLine());
  }
  const double v = SBMLTransforms::evaluateASTNode(other, m_);
  if (!std::isfinite(v))
    Refuse("event", e.getId(), who + ": the time of its trigger '" + shown + "' has no value",
           e.getLine());
  if (!(v > 0))
    Refuse("event", e.getId(), who + " fires at the start (time " + Num(v) + "), before the "
           "first interval could open", e.getLine());
  return v;
}

void Line(std::string& out, const std::string& s) { out += s + "\n"; }

std::string Heading(const Sym& s) {
  std::string h = "# SBML " + s.element + " '" + s.sbml_id + "'";
  if (!s.sbml_name.empty() && s.sbml_name != s.sbml_id) h += " (\"" + s.sbml_name + "\")";
  return h;
}

std::string HeldAs(const Sym& s, const ::Model& m) {
  const Species* sp = m.getSpecies(s.sbml_id);
  return std::string("# held as ") +
         (s.concentration ? "a concentration in compartment '" : "an amount in compartment '") +
         s.compartment + "'" + (sp->getBoundaryCondition() ? ", boundary" : "") +
         (sp->getConstant() ? ", constant" : "");
}

SbmlImport Importer::Run(SBMLDocument& doc) {
  CheckSupported(doc);
  m_ = doc.getModel();
  evaluated_.reset(doc.clone());
  {
    ConversionProperties props;
    props.addOption("expandInitialAssignments", true);
    if (evaluated_->convert(props) == LIBSBML_OPERATION_SUCCESS) ev_ = evaluated_->getModel();
  }
  ::Model& m = *m_;
  // Names: every SBML id is taken first, so that no renamed or local name can clash with one.
  for (unsigned i = 0; i < m.getNumCompartments(); ++i) taken_.insert(m.getCompartment(i)->getId());
  for (unsigned i = 0; i < m.getNumSpecies(); ++i) taken_.insert(m.getSpecies(i)->getId());
  for (unsigned i = 0; i < m.getNumParameters(); ++i) taken_.insert(m.getParameter(i)->getId());
  for (unsigned i = 0; i < m.getNumReactions(); ++i) taken_.insert(m.getReaction(i)->getId());
  {
    std::map<std::string, int> uses;
    auto count = [&](const SBase& e) {
      if (e.isSetName()) ++uses[e.getName()];
    };
    for (unsigned i = 0; i < m.getNumCompartments(); ++i) count(*m.getCompartment(i));
    for (unsigned i = 0; i < m.getNumSpecies(); ++i) count(*m.getSpecies(i));
    for (unsigned i = 0; i < m.getNumParameters(); ++i) count(*m.getParameter(i));
    for (const auto& [name, n] : uses)
      if (n > 1) names_wanted_.insert(name);
  }
  auto add = [&](const SBase& e, const std::string& element, Kind kind) -> Sym& {
    Sym s;
    s.kind = kind;
    s.element = element;
    s.sbml_id = e.getId();
    s.sbml_name = e.getName();
    s.line = static_cast<int>(e.getLine());
    taken_.erase(s.sbml_id);
    // The SBML name where it is a valid name of the model language that no id or other name
    // uses, else the id.
    std::string why;
    const std::string& wanted = s.sbml_name;
    if (!wanted.empty() && wanted != s.sbml_id && CheckName(wanted, why) == 0 &&
        wanted != "free" && !taken_.count(wanted) && !names_wanted_.count(wanted)) {
      s.name = wanted;
      taken_.insert(wanted);
    } else {
      s.name = NameFor(s.sbml_id);
    }
    if (const InitialAssignment* ia = m.getInitialAssignment(s.sbml_id); ia && ia->isSetMath())
      s.initial = ia->getMath();
    if (const Rule* r = m.getRule(s.sbml_id)) {
      if (r->isAssignment()) {
        s.kind = Kind::kRuled;
        s.rule = r->getMath();
      } else if (r->isRate()) {
        s.kind = Kind::kState;
      }
    }
    order_.push_back(s.sbml_id);
    return syms_[s.sbml_id] = s;
  };
  std::set<std::string> event_set;
  for (unsigned i = 0; i < m.getNumEvents(); ++i)
    for (unsigned k = 0; k < m.getEvent(i)->getNumEventAssignments(); ++k)
      event_set.insert(m.getEvent(i)->getEventAssignment(k)->getVariable());
  for (unsigned i = 0; i < m.getNumCompartments(); ++i) {
    const Compartment& c = *m.getCompartment(i);
    Sym& s = add(c, "compartment", Kind::kAdjustable);
    s.has_value = c.isSetSize();
    s.value = c.getSize();
    if (c.isSetSpatialDimensions() && c.getSpatialDimensionsAsDouble() == 0 && !s.has_value)
      s.has_value = true, s.value = 1;
  }
  for (unsigned i = 0; i < m.getNumParameters(); ++i) {
    const Parameter& p = *m.getParameter(i);
    Sym& s = add(p, "parameter", event_set.count(p.getId()) ? Kind::kState : Kind::kAdjustable);
    s.has_value = p.isSetValue();
    s.value = p.getValue();
  }
  for (unsigned i = 0; i < m.getNumSpecies(); ++i) {
    const Species& sp = *m.getSpecies(i);
    Sym& s = add(sp, "species", Kind::kState);
    s.concentration = !sp.getHasOnlySubstanceUnits();
    s.compartment = sp.getCompartment();
    const Compartment* c = m.getCompartment(s.compartment);
    if (!c) Refuse("species", s.sbml_id, "species '" + s.sbml_id + "' has no compartment");
    if (s.concentration && c->isSetSpatialDimensions() && c->getSpatialDimensionsAsDouble() == 0)
      Refuse("species", s.sbml_id, "species '" + s.sbml_id + "' is a concentration in a "
             "compartment without dimensions");
    const std::string vol = syms_.at(s.compartment).name;
    if (sp.isSetInitialAmount()) {
      s.value = sp.getInitialAmount();
      s.has_value = true;
      if (s.concentration && s.value != 0) s.start = Signed(s.value) + "/" + vol;
    } else if (sp.isSetInitialConcentration()) {
      s.value = sp.getInitialConcentration();
      s.has_value = true;
      if (!s.concentration && s.value != 0) s.start = Signed(s.value) + "*" + vol;
    }
    if (s.initial) s.start.clear();
  }
  for (unsigned i = 0; i < m.getNumReactions(); ++i) {
    const Reaction& r = *m.getReaction(i);
    const KineticLaw& k = *r.getKineticLaw();
    for (unsigned j = 0; j < k.getNumLocalParameters(); ++j) {
      const LocalParameter& lp = *k.getLocalParameter(j);
      Sym s;
      s.kind = Kind::kAdjustable;
      s.element = "local parameter";
      s.sbml_id = r.getId() + "/" + lp.getId();
      s.sbml_name = lp.getName();
      s.line = static_cast<int>(lp.getLine());
      s.name = NameFor(lp.getId(), r.getId());
      s.has_value = lp.isSetValue();
      s.value = lp.getValue();
      locals_[r.getId() + "\x1f" + lp.getId()] = s.sbml_id;
      order_.push_back(s.sbml_id);
      syms_[s.sbml_id] = s;
    }
  }
  // Start formulas (interval 1) and bindings, in declaration order.
  for (const auto& id : order_) {
    Sym& s = syms_.at(id);
    if (s.kind == Kind::kRuled) continue;
    if (s.kind == Kind::kAdjustable && !s.initial) {
      if (!s.has_value)
        Refuse(s.element, s.sbml_id, s.element + " '" + s.sbml_id + "' has no value", s.line);
      continue;
    }
    s.start = Initial(s);
  }
  // Rates of the states.
  std::map<std::string, std::vector<std::string>> rate_terms;  // state id -> free terms
  std::map<std::string, std::string> rate_rule;                // state id -> rate rule formula
  std::map<std::string, std::string> rate_source;              // state id -> comment
  std::vector<std::string> reaction_blocks;
  for (unsigned i = 0; i < m.getNumRules(); ++i) {
    const Rule& r = *m.getRule(i);
    if (!r.isRate()) continue;
    if (!r.isSetMath()) {  // a rate rule without math changes nothing
      out_.notes.push_back("the rate rule of '" + r.getVariable() + "' has no math: ignored");
      continue;
    }
    Sym& s = Lookup(r.getVariable(), "rate rule");
    rate_rule[s.sbml_id] = Formula(r.getMath(), Ctx::kRun, "the rate rule of '" + s.sbml_id + "'");
  }
  for (unsigned i = 0; i < m.getNumReactions(); ++i) {
    const Reaction& r = *m.getReaction(i);
    current_reaction_ = r.getId();
    const std::string law = Formula(r.getKineticLaw()->getMath(), Ctx::kRun,
                                    "the kinetic law of reaction '" + r.getId() + "'");
    current_reaction_.clear();
    // Net count of every species the reaction changes, and each side as written.
    std::map<std::string, double> net;
    std::vector<std::pair<std::string, double>> left, right;
    bool whole = true;
    auto side = [&](const ListOfSpeciesReferences* list, double sign,
                    std::vector<std::pair<std::string, double>>& terms) {
      for (unsigned k = 0; k < list->size(); ++k) {
        const auto* sr = static_cast<const SpeciesReference*>(list->get(k));
        const Species* sp = m.getSpecies(sr->getSpecies());
        if (!sp) Refuse("reaction", r.getId(), "reaction '" + r.getId() + "' names an unknown "
                        "species '" + sr->getSpecies() + "'");
        const Sym& s = syms_.at(sp->getId());
        if (sp->getBoundaryCondition() || sp->getConstant() || s.kind != Kind::kState) continue;
        const double n = Stoichiometry(*sr, r.getId());
        if (!std::isfinite(n))
          Refuse("reaction", r.getId(), "reaction '" + r.getId() + "' has a stoichiometry that "
                 "is not a number");
        net[sp->getId()] += sign * n;
        whole = whole && n >= 1 && n == std::floor(n) && n <= 1000;
        terms.push_back({sp->getId(), n});
      }
    };
    side(r.getListOfReactants(), -1, left);
    side(r.getListOfProducts(), 1, right);
    std::set<std::string> units;  // "" for amounts, the compartment for concentrations
    for (const auto& [id, n] : net) {
      const Sym& s = syms_.at(id);
      units.insert(s.concentration ? s.compartment : "");
      if (rate_rule.count(id))
        Refuse("reaction", r.getId(), "species '" + id + "' has a rate rule and is changed by "
               "reaction '" + r.getId() + "'");
    }
    ++out_.reactions;
    if (net.empty()) continue;  // changes no species (all boundary or constant)
    if (whole && units.size() == 1) {
      const std::string unit = *units.begin();
      std::string rate = law;
      if (!unit.empty()) rate = "(" + law + ")/" + syms_.at(unit).name;
      else if (rate.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ_0123456789") == std::string::npos)
        rate = "(" + rate + ")";  // a bare name would be read as a mass-action constant
      auto list = [&](const std::vector<std::pair<std::string, double>>& terms) {
        std::string t;
        for (const auto& [id, n] : terms)
          t += (t.empty() ? "" : " + ") + (n == 1 ? "" : Num(n) + " ") + syms_.at(id).name;
        return t;
      };
      std::string block;
      std::string heading = "# SBML reaction '" + r.getId() + "'";
      if (r.isSetName() && r.getName() != r.getId()) heading += " (\"" + r.getName() + "\")";
      Line(block, heading);
      if (!unit.empty())
        Line(block, "# the kinetic law is an amount per time: divided by the size of " +
                        syms_.at(unit).name + " for its concentrations");
      Line(block, "[[reactions]]");
      Line(block, "equation = " + Quote(list(left) + " -> " + list(right)));
      Line(block, "rate = " + Quote(rate));
      reaction_blocks.push_back(block);
      continue;
    }
    for (const auto& [id, n] : net) {
      if (n == 0) continue;
      const Sym& s = syms_.at(id);
      std::string term = "(" + law + ")";
      if (n != 1) term = (n == -1 ? "" : Num(std::fabs(n)) + "*") + term;
      if (s.concentration) term += "/" + syms_.at(s.compartment).name;
      rate_terms[id].push_back((n < 0 ? "-" : "+") + term);
      rate_source[id] += (rate_source[id].empty() ? "" : ", ") + r.getId();
    }
  }
  // Events opening intervals.
  std::map<double, std::vector<const Event*>> at;
  for (unsigned i = 0; i < m.getNumEvents(); ++i) {
    const Event* e = m.getEvent(i);
    at[TriggerTime(*e)].push_back(e);
  }
  std::vector<double> times;
  std::map<std::string, std::map<int, std::string>> reset;  // state id -> interval -> formula
  for (const auto& [t, events] : at) {
    times.push_back(t);
    const int interval = static_cast<int>(times.size()) + 1;
    for (const Event* e : events)
      for (unsigned k = 0; k < e->getNumEventAssignments(); ++k) {
        const EventAssignment& ea = *e->getEventAssignment(k);
        Sym& s = Lookup(ea.getVariable(), "event '" + e->getId() + "'");
        if (s.kind != Kind::kState)
          Refuse("event", e->getId(), "event '" + e->getId() + "' sets '" + s.sbml_id +
                 "', which an assignment rule defines");
        if (reset[s.sbml_id].count(interval))
          Refuse("event", e->getId(), "events at time " + Num(t) + " both set '" + s.sbml_id +
                 "'; their order would decide");
        reset[s.sbml_id][interval] = Formula(ea.getMath(), Ctx::kRun,
                                             "the assignment to '" + s.sbml_id + "' of event '" +
                                                 e->getId() + "'");
      }
  }
  out_.intervals = static_cast<int>(times.size()) + 1;

  // Limits of the library, checked on what the file will declare.
  int states = 0, adjustables = 0, outputs = 0;
  for (const auto& id : order_) {
    const Sym& s = syms_.at(id);
    states += s.kind == Kind::kState;
    adjustables += s.kind == Kind::kAdjustable;
    outputs += s.kind == Kind::kRuled;
  }
  if (outputs == 0) outputs = states;
  auto limit = [&](int n, int most, const std::string& what) {
    if (n > most)
      Refuse("size", m.getId(), "the model needs " + std::to_string(n) + " " + what +
             "; the library holds at most " + std::to_string(most));
  };
  limit(states, kMaxSpecies, "species (species and parameters that rules or events change)");
  limit(adjustables, kMaxAdjustables, "adjustables (compartments and parameters)");
  limit(outputs, kMaxOutputs, "outputs");
  limit(out_.intervals, kMaxIntervals, "intervals (one, and one per event time)");
  const bool placeholder = states == 0;  // the library integrates at least one species
  if (placeholder) outputs = std::max(outputs, 1);

  // The file.
  std::string& f = out_.toml;
  Line(f, "# Translated from SBML model '" + m.getId() + "'" +
              (m.isSetName() ? " (\"" + m.getName() + "\")" : "") + " by tarvo import.");
  for (const auto& note : out_.notes) Line(f, "# " + note);
  Line(f, "method = \"RUNGE-KUTTA QC\"");
  Line(f, "tolerance = 1e-8");
  if (!times.empty()) {
    std::string list;
    for (double t : times) list += (list.empty() ? "" : ", ") + TomlNum(t);
    Line(f, "# events at these times open intervals 2, 3, ... (used by simulate --times)");
    Line(f, "interval_times = [" + list + "]");
  }
  if (placeholder) {
    std::string name = "unused";
    while (taken_.count(name)) name += "_";
    Line(f, "");
    Line(f, "# not in the SBML model: the library integrates at least one species");
    Line(f, "[[species]]");
    Line(f, "name = " + Quote(name));
    Line(f, "start = \"0\"");
    if (!std::any_of(order_.begin(), order_.end(),
                     [&](const std::string& id) { return syms_.at(id).kind == Kind::kRuled; })) {
      Line(f, "");
      Line(f, "[[outputs]]");
      Line(f, "name = " + Quote(name));
      Line(f, "formula = " + Quote(name));
    }
  }
  for (const auto& id : order_) {
    const Sym& s = syms_.at(id);
    if (s.kind != Kind::kState) continue;
    Line(f, "");
    Line(f, Heading(s));
    if (s.element == "species")
      Line(f, HeldAs(s, m));
    else
      Line(f, "# a parameter that rules or events change, so the library integrates it");
    if (s.initial) Line(f, "# start: its initial assignment");
    Line(f, "[[species]]");
    Line(f, "name = " + Quote(s.name));
    auto it = reset.find(id);
    if (it == reset.end()) {
      Line(f, "start = " + Quote(s.start));
    } else {
      std::string list = Quote(s.start);
      const int last = it->second.rbegin()->first;
      for (int k = 2; k <= last; ++k)
        list += ", " + Quote(it->second.count(k) ? it->second.at(k) : s.name);
      Line(f, "# later entries: events at the times of interval_times");
      Line(f, "start = [" + list + "]");
    }
  }
  for (const auto& id : order_) {
    const Sym& s = syms_.at(id);
    if (s.kind != Kind::kAdjustable) continue;
    Line(f, "");
    Line(f, Heading(s));
    Line(f, "[[adjustables]]");
    Line(f, "name = " + Quote(s.name));
    if (s.initial) {
      Line(f, "value = " + TomlNum(s.has_value ? s.value : 0.0));
      Line(f, "equal_to = " + Quote(s.start) + "  # its initial assignment");
    } else {
      Line(f, "value = " + TomlNum(s.value));
    }
  }
  bool any_rule = false;
  for (const auto& id : order_) {
    const Sym& s = syms_.at(id);
    if (s.kind != Kind::kRuled) continue;
    any_rule = true;
    Line(f, "");
    Line(f, Heading(s));
    if (s.element == "species") Line(f, HeldAs(s, m));
    Line(f, "# an assignment rule: inlined into every formula that reads '" + s.name + "'");
    Line(f, "[[outputs]]");
    Line(f, "name = " + Quote(s.name));
    Sym& rule = syms_.at(id);
    ++rule.visiting;
    Line(f, "formula = " + Quote(Formula(s.rule, Ctx::kRun, "the assignment rule of '" + id + "'")));
    --rule.visiting;
  }
  if (!any_rule) {
    for (const auto& id : order_) {
      const Sym& s = syms_.at(id);
      if (s.kind != Kind::kState) continue;
      Line(f, "");
      Line(f, "# " + s.element + " '" + s.sbml_id + "' as measured");
      Line(f, "[[outputs]]");
      Line(f, "name = " + Quote(s.name));
      Line(f, "formula = " + Quote(s.name));
    }
  }
  for (const auto& block : reaction_blocks) {
    Line(f, "");
    f += block;
  }
  if (!rate_rule.empty() || !rate_terms.empty()) {
    Line(f, "");
    Line(f, "[rates]");
    for (const auto& id : order_) {
      const Sym& s = syms_.at(id);
      if (rate_rule.count(id)) {
        Line(f, "# rate rule of '" + id + "'");
        Line(f, s.name + " = " + Quote(rate_rule.at(id)));
      } else if (rate_terms.count(id)) {
        std::string sum;
        for (const auto& t : rate_terms.at(id)) sum += t;
        if (sum[0] == '+') sum.erase(0, 1);
        Line(f, "# from reaction(s) " + rate_source.at(id) +
                    " (counts not whole, or species of different units)");
        Line(f, s.name + " = " + Quote(sum));
      }
    }
  }
  for (const auto& id : order_) {
    const Sym& s = syms_.at(id);
    out_.species += s.kind == Kind::kState;
    out_.adjustables += s.kind == Kind::kAdjustable;
  }
  out_.outputs = outputs;
  return out_;
}

// libSBML's messages span lines; a diagnostic is one.
std::string OneLine(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n' || c == '\r' || c == '\t') c = ' ';
    if (c == ' ' && (out.empty() || out.back() == ' ')) continue;
    out += c;
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

int Import(SBMLDocument* raw, SbmlImport& out, SbmlDiagnostic& why) {
  std::unique_ptr<SBMLDocument> doc(raw);
  try {
    if (!doc) Refuse("unreadable SBML", "", "libSBML could not read the document");
    for (unsigned i = 0; i < doc->getNumErrors(); ++i) {
      const SBMLError* e = doc->getError(i);
      if (e->getSeverity() >= LIBSBML_SEV_ERROR)
        Refuse("invalid SBML", "", "libSBML: " + OneLine(e->getShortMessage() + ": " + e->getMessage()),
               static_cast<int>(e->getLine()));
    }
    if (!doc->getModel()) Refuse("invalid SBML", "", "the document holds no model");
    if (doc->getLevel() < 2)
      Refuse("SBML level", "", "SBML Level " + std::to_string(doc->getLevel()) +
                                   " is not supported (Level 2 and 3 are)");
    for (unsigned i = 0; i < doc->getModel()->getNumReactions(); ++i) {
      const Reaction& r = *doc->getModel()->getReaction(i);
      if (r.isSetFast() && r.getFast())
        Refuse("fast reaction", r.getId(), "reaction '" + r.getId() + "' is fast, which is not "
               "supported", static_cast<int>(r.getLine()));
    }
    // The consistency checks that matter to the simulation; units and modelling practice would
    // cost more than they tell here.
    doc->setConsistencyChecks(LIBSBML_CAT_UNITS_CONSISTENCY, false);
    doc->setConsistencyChecks(LIBSBML_CAT_MODELING_PRACTICE, false);
    doc->checkConsistency();
    for (unsigned i = 0; i < doc->getNumErrors(); ++i) {
      const SBMLError* e = doc->getError(i);
      if (e->getSeverity() >= LIBSBML_SEV_ERROR)
        Refuse("invalid SBML", "", "libSBML: " + OneLine(e->getMessage()),
               static_cast<int>(e->getLine()));
    }
    if (doc->getLevel() != 3 || doc->getVersion() != 2) {
      if (!doc->setLevelAndVersion(3, 2, false))
        Refuse("SBML level", "", "libSBML could not convert the document to Level 3 Version 2");
    }
    ConversionProperties props;
    props.addOption("expandFunctionDefinitions", true);
    if (doc->getModel()->getNumFunctionDefinitions() > 0 &&
        doc->convert(props) != LIBSBML_OPERATION_SUCCESS)
      Refuse("function definition", "", "libSBML could not expand the function definitions");
    Importer im;
    SbmlImport result = im.Run(*doc);
    // The file must read back and translate as written (formula sizes, constants, nesting).
    Model model;
    std::string message;
    std::vector<std::string> errors;
    TranslatedModel text;
    if (ReadModelText(result.toml, "imported.toml", model, message) != 0)
      Refuse("translation", "", "the translated model is not accepted: " + message);
    if (TranslateModel(model, model.intervals, text, errors) != 0)
      Refuse("translation", "", "the translated model is not accepted: " + errors.front());
    out = std::move(result);
    return 0;
  } catch (const Refused& r) {
    why = r.d;
  } catch (const std::exception& e) {
    why = {"error", "", std::string("the translation failed: ") + e.what(), 0};
  }
  return 2;
}

}  // namespace

int ImportSbmlFile(const std::string& path, SbmlImport& out, SbmlDiagnostic& why) {
  return Import(readSBMLFromFile(path.c_str()), out, why);
}

int ImportSbmlText(const std::string& xml, SbmlImport& out, SbmlDiagnostic& why) {
  return Import(readSBMLFromString(xml.c_str()), out, why);
}

std::string DiagnosticText(const std::string& file, const SbmlDiagnostic& why) {
  return file + (why.line > 0 ? ":" + std::to_string(why.line) : "") + ": " + why.reason;
}

}  // namespace tarvo::frontend
