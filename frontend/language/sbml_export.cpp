#include "language/sbml_export.h"

#include <sbml/SBMLTypes.h>
#include <sbml/math/ASTNode.h>
#include <sbml/math/L3Parser.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <set>

#include "language/reactions.h"

LIBSBML_CPP_NAMESPACE_USE

namespace tarvo::frontend {

namespace {

class Exporter {
 public:
  explicit Exporter(const Model& m) : m_(m) {}
  int Run(std::string& xml, std::vector<std::string>& problems);

 private:
  const Model& m_;
  std::map<std::string, std::string> notation_;  // "F1", "P2", "A3" -> name
  std::set<std::string> ids_;
  std::vector<std::string> problems_;

  std::string UniqueId(const std::string& wanted);
  // The formula as libSBML math in SBML ids, or null with a problem recorded.
  std::unique_ptr<ASTNode> Math(const std::string& text, const std::string& label);
  void Rename(ASTNode* n);
};

std::string Exporter::UniqueId(const std::string& wanted) {
  std::string id;
  for (unsigned char c : wanted) id += std::isalnum(c) || c == '_' ? static_cast<char>(c) : '_';
  if (id.empty() || std::isdigit(static_cast<unsigned char>(id[0]))) id = "_" + id;
  while (ids_.count(id)) id += "_";
  ids_.insert(id);
  return id;
}

void Exporter::Rename(ASTNode* n) {
  if (n->getType() == AST_NAME) {
    const std::string name = n->getName();
    if (name == "T") {
      n->setType(AST_NAME_TIME);
      n->setName("time");
    } else if (auto it = notation_.find(name); it != notation_.end()) {
      n->setName(it->second.c_str());
    }
  } else if (n->getType() == AST_FUNCTION && n->getName() && std::string(n->getName()) == "ex") {
    n->setType(AST_FUNCTION_EXP);
  }
  for (unsigned i = 0; i < n->getNumChildren(); ++i) Rename(n->getChild(i));
}

std::unique_ptr<ASTNode> Exporter::Math(const std::string& text, const std::string& label) {
  L3ParserSettings settings;
  settings.setParseLog(L3P_PARSE_LOG_AS_LN);
  std::unique_ptr<ASTNode> n(SBML_parseL3FormulaWithSettings(text.c_str(), &settings));
  if (!n) {
    std::unique_ptr<char, decltype(&free)> error(SBML_getLastParseL3Error(), &free);
    problems_.push_back(label + ": libSBML cannot read '" + text + "'" +
                        (error ? std::string(": ") + error.get() : ""));
    return nullptr;
  }
  Rename(n.get());
  return n;
}

int Exporter::Run(std::string& xml, std::vector<std::string>& problems) {
  if (!m_.experiments.empty())
    problems_.push_back("the model's [[experiments]] have no SBML form (export each one alone)");
  if (m_.intervals > 1 && static_cast<int>(m_.interval_times.size()) < m_.intervals - 1)
    problems_.push_back("the model has " + std::to_string(m_.intervals) + " intervals but " +
                        "interval_times gives the start of " +
                        std::to_string(m_.interval_times.size()) + " of the later ones; the "
                        "events that reset the species need their times");
  if (!problems_.empty()) {
    problems = problems_;
    return 2;
  }
  for (size_t i = 0; i < m_.species.size(); ++i) {
    notation_["F" + std::to_string(i + 1)] = m_.species[i].name;
    ids_.insert(m_.species[i].name);
  }
  for (size_t i = 0; i < m_.parameters.size(); ++i) {
    notation_["P" + std::to_string(i + 1)] = m_.parameters[i].name;
    ids_.insert(m_.parameters[i].name);
  }
  for (size_t i = 0; i < m_.adjustables.size(); ++i) {
    notation_["A" + std::to_string(i + 1)] = m_.adjustables[i].name;
    ids_.insert(m_.adjustables[i].name);
  }
  SBMLDocument doc(3, 2);
  ::Model* sm = doc.createModel();
  std::string stem = m_.path;
  if (const size_t slash = stem.find_last_of('/'); slash != std::string::npos)
    stem = stem.substr(slash + 1);
  if (const size_t dot = stem.rfind('.'); dot != std::string::npos) stem = stem.substr(0, dot);
  sm->setId(UniqueId(stem.empty() ? "model" : stem));
  sm->setName("Exported by tarvo export from " + m_.path);
  Compartment* c = sm->createCompartment();
  c->setId(UniqueId("compartment"));
  c->setSize(1);
  c->setSpatialDimensions(3.0);
  c->setConstant(true);

  for (const auto& a : m_.adjustables) {
    Parameter* p = sm->createParameter();
    p->setId(a.name);
    p->setValue(a.value);
    p->setConstant(true);
    if (a.bound)
      if (auto math = Math(a.equal_to.text, "adjustable " + a.name + " equal_to")) {
        InitialAssignment* ia = sm->createInitialAssignment();
        ia->setSymbol(a.name);
        ia->setMath(math.get());
      }
  }
  for (const auto& s : m_.species) {
    Species* sp = sm->createSpecies();
    sp->setId(s.name);
    sp->setCompartment(c->getId());
    sp->setHasOnlySubstanceUnits(true);
    sp->setBoundaryCondition(false);
    sp->setConstant(false);
    const std::string& start = s.start.front().text;
    char* end = nullptr;
    const double v = std::strtod(start.c_str(), &end);
    if (!start.empty() && end == start.c_str() + start.size()) {
      sp->setInitialAmount(v);
    } else if (auto math = Math(start, s.start.front().label)) {
      InitialAssignment* ia = sm->createInitialAssignment();
      ia->setSymbol(s.name);
      ia->setMath(math.get());
    }
  }
  for (const auto& p : m_.parameters) {
    Parameter* sp = sm->createParameter();
    sp->setId(p.name);
    sp->setConstant(false);
    sp->setValue(0);
    if (auto math = Math(p.equation.front().text, p.equation.front().label)) {
      InitialAssignment* ia = sm->createInitialAssignment();
      ia->setSymbol(p.name);
      ia->setMath(math.get());
    }
  }
  // The whole rate of each species, reactions included, as one rate rule.
  std::map<std::string, std::string> rate;
  for (const auto& r : m_.rates) {
    const std::string e = RateExpression(r);
    std::string& sum = rate[r.species];
    sum += (sum.empty() ? "" : " + ") + ("(" + e + ")");
  }
  for (const auto& s : m_.species) {
    auto it = rate.find(s.name);
    if (it == rate.end()) continue;
    if (auto math = Math(it->second, "rate of species " + s.name)) {
      RateRule* rr = sm->createRateRule();
      rr->setVariable(s.name);
      rr->setMath(math.get());
    }
  }
  for (const auto& o : m_.outputs) {
    Parameter* p = sm->createParameter();
    p->setId(UniqueId(o.name));
    if (o.name != p->getId()) p->setName(o.name);
    p->setConstant(false);
    if (auto math = Math(o.formula.text, o.formula.label)) {
      AssignmentRule* ar = sm->createAssignmentRule();
      ar->setVariable(p->getId());
      ar->setMath(math.get());
    }
  }
  // Interval k (k >= 2) begins at interval_times[k-2]: one event resets what its formulas say.
  for (int k = 2; k <= m_.intervals; ++k) {
    Event* e = sm->createEvent();
    e->setId(UniqueId("interval_" + std::to_string(k)));
    e->setUseValuesFromTriggerTime(true);
    Trigger* t = e->createTrigger();
    t->setInitialValue(false);
    t->setPersistent(true);
    char at[64];
    std::snprintf(at, sizeof at, "time >= %.17g", m_.interval_times[static_cast<size_t>(k - 2)]);
    std::unique_ptr<ASTNode> when(SBML_parseL3Formula(at));
    t->setMath(when.get());
    // The library sets the parameters of an interval before its species, so a species'
    // formula reads the parameters' new values: their equations are written in its place.
    std::vector<std::pair<std::string, std::unique_ptr<ASTNode>>> fresh;
    for (const auto& p : m_.parameters)
      if (auto math = Math(p.equation[std::min(p.equation.size(), static_cast<size_t>(k)) - 1].text,
                           p.name))
        fresh.emplace_back(p.name, std::move(math));
    auto assign = [&](const std::string& name, const Formula& f, bool species) {
      if (auto math = Math(f.text, f.label)) {
        if (species)
          for (auto& [parameter, equation] : fresh) math->replaceArgument(parameter, equation.get());
        EventAssignment* ea = e->createEventAssignment();
        ea->setVariable(name);
        ea->setMath(math.get());
      }
    };
    for (const auto& p : m_.parameters)
      assign(p.name, p.equation[std::min(p.equation.size(), static_cast<size_t>(k)) - 1], false);
    for (const auto& s : m_.species)
      if (static_cast<int>(s.start.size()) >= k) assign(s.name, s.start[static_cast<size_t>(k - 1)], true);
  }
  if (!problems_.empty()) {
    problems = problems_;
    return 2;
  }
  std::unique_ptr<char, decltype(&free)> text(writeSBMLToString(&doc), &free);
  xml = text ? text.get() : "";
  for (const auto& e : SbmlErrors(xml)) problems.push_back("libSBML: " + e);
  return problems.empty() ? 0 : 2;
}

}  // namespace

int ExportSbml(const Model& model, std::string& xml, std::vector<std::string>& problems) {
  try {
    Exporter ex(model);
    return ex.Run(xml, problems);
  } catch (const std::exception& e) {
    problems.push_back(std::string("the export failed: ") + e.what());
    return 2;
  }
}

std::vector<std::string> SbmlErrors(const std::string& xml) {
  std::vector<std::string> errors;
  std::unique_ptr<SBMLDocument> doc(readSBMLFromString(xml.c_str()));
  if (!doc) return {"the text is not SBML"};
  doc->checkConsistency();
  for (unsigned i = 0; i < doc->getNumErrors(); ++i) {
    const SBMLError* e = doc->getError(i);
    if (e->getSeverity() >= LIBSBML_SEV_ERROR)
      errors.push_back("line " + std::to_string(e->getLine()) + ": " + e->getMessage());
  }
  return errors;
}

}  // namespace tarvo::frontend
