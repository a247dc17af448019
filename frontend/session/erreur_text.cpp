#include "session/erreur_text.h"

#include <string_view>

#include "api/outcome_codes.h"
#include "api/methods.h"
#include "api/text.h"
#include "engines/external.h"

namespace tarvo::frontend {

bool KnownMethod(const std::string& method) {
  const std::u16string name = FromUtf8(method);
  return EngineForMethod(name) != nullptr ||
         FindExternalMethod(RegisteredExternalMethods(), name) != nullptr;
}

std::string MethodNames() {
  std::string names;
  for (const MethodEntry& m : kMethods)
    names += (names.empty() ? "\"" : ", \"") + ToUtf8(m.name) + "\"";
  if (const ExternalMethodTable* extra = RegisteredExternalMethods())
    for (int32_t i = 0; i < extra->count; ++i)
      names += ", \"" + ToUtf8(extra->methods[i].name) + "\"";
  return names;
}

namespace {

std::string Code(int e) { return " (Erreur " + std::to_string(e) + ")"; }

const char* Text(OutcomeStage stage, int value) { return FindOutcome(stage, value)->text; }

// The refusals an Erreur holds, but the non-finite flag, which a simulation adds to its
// engine status; 0 when there are none.
int Refusals(const ErreurParts& parts) {
  int sum = RefusalSum(parts);
  if (HoldsRefusal(sum, kErreurNonFinite)) sum -= kErreurNonFinite;
  return sum;
}

// A refused model or call adds nothing else (the tool passes Erreur 0 to the set-up), while
// formula faults may sum to a thousand or more: only a sum of refusals alone is read as one.
bool IsRefusal(const ErreurParts& parts) { return Refusals(parts) != 0 && parts.rest == 0; }

// The failure's message without the prefix the library gives every refusal.
std::string RefusalDetail(const std::string& failure) {
  constexpr std::string_view kPrefix = "model refused: ";
  return failure.rfind(kPrefix, 0) == 0 ? failure.substr(kPrefix.size()) : failure;
}

std::string Refused(const ErreurParts& parts, const std::string& failure) {
  std::string what;
  for (int i = 0; i < parts.count; ++i) {
    if (parts.refusals[i]->value == kErreurNonFinite) continue;
    what += (what.empty() ? "" : "; and ") + std::string(parts.refusals[i]->text);
  }
  const std::string detail = RefusalDetail(failure);
  return "the library refused the model: " + what + (detail.empty() ? "" : ": " + detail) +
         Code(Refusals(parts));
}

std::string EngineText(int status, const std::string& method) {
  const std::string_view text = EngineStatusText(status, method);
  if (text.empty()) return "the integration engine reported status " + std::to_string(status) + Code(status);
  return std::string(text) + Code(status);
}

}  // namespace

std::vector<std::string> SetupErreurText(int erreur, const SetupFacts& f, int* formula_faults) {
  std::vector<std::string> out;
  if (formula_faults) *formula_faults = 0;
  if (erreur == 0) return out;
  const ErreurParts parts = DecodeErreur(erreur);
  if (IsRefusal(parts)) {
    out.push_back(Refused(parts, f.refusal));
    return out;
  }
  int rest = erreur;
  // A refusal whose Erreur names no refusal of the thousands is the method's: a method that
  // exists but cannot integrate this model, whose failure says why.
  if (!f.refusal.empty() && parts.count == 0 && rest >= kErreurMethod) {
    rest -= kErreurMethod;
    out.push_back("the library refused the model: " + RefusalDetail(f.refusal) +
                  Code(kErreurMethod));
  } else if (!KnownMethod(f.method)) {
    rest -= kErreurMethod;
    out.push_back("method '" + f.method + "' is not one of " + MethodNames() +
                  " (exact spelling, capitals and spaces)" + Code(kErreurMethod));
  }
  if (f.data_values < f.free_count) {
    rest -= kErreurTooFewData;
    out.push_back("only " + std::to_string(f.data_values) + " measured values for " +
                  std::to_string(f.free_count) + " free adjustables: " +
                  Text(OutcomeStage::SetUp, kErreurTooFewData) + Code(kErreurTooFewData));
  }
  if (rest > 0) {
    if (formula_faults) *formula_faults = rest;
    out.push_back(std::to_string(rest) + " fault" + (rest == 1 ? "" : "s") +
                  " in the formulas: a formula failed to tokenize or compile, or a parameter "
                  "or equal_to refers to itself" + Code(rest));
  } else if (rest < 0) {
    out.push_back("the set-up reported Erreur " + std::to_string(erreur) +
                  ", which does not match the model's known problems");
  }
  return out;
}

std::string SimulationErreurText(int e, const std::string& method) {
  if (e == 0) return "";
  const ErreurParts parts = DecodeErreur(e);
  if (IsRefusal(parts)) return Refused(parts, "");
  if (HoldsRefusal(e, kErreurNonFinite)) {
    const int engine = parts.rest;
    return Text(OutcomeStage::Refusal, kErreurNonFinite) + Code(kErreurNonFinite) +
           (engine == 0 ? "" : "; and " + SimulationErreurText(engine, method));
  }
  return EngineText(e, method);
}

std::string FitErreurText(int e, const std::string& method, int free_count) {
  if (e == 0) return "";
  const ErreurParts parts = DecodeErreur(e);
  if (IsRefusal(parts)) return Refused(parts, "");
  if (HoldsRefusal(e, kErreurNonFinite) || e == kStatusStepBudget)
    return SimulationErreurText(e, method);
  const OutcomeMeanings meanings = MeaningsAfter(kAfterFit, e);
  if (meanings.count == 0)
    return "the fit reported Erreur " + std::to_string(e) + " (a sum of an engine status and "
           "a solver code: " + SimulationErreurText(e, method) + ")";
  std::string text;
  for (int i = 0; i < meanings.count; ++i) {
    const OutcomeCode& c = *meanings.codes[i];
    std::string part;
    if (c.stage == OutcomeStage::Engine) {
      // The data's times increase strictly, so 3 is the solver's.
      if (c.value == kStatusEmptyInterval) continue;
      part = std::string(EngineStatusText(c.value, method));
    } else if (c.value == kSolverNoSystem) {
      if (free_count > 0) continue;  // then 1 is the engine's
      return std::string(c.text) + " (mark some with free = true)" + Code(e);
    } else if (c.value == kSolverSingularOne && free_count == 1) {
      part = "the fit's equations are singular: the free adjustable has no effect on the data";
    } else if (c.value == kSolverNoPivot || c.value == kSolverLastPivot) {
      part = std::string(c.text) + " (fix one of them)";
    } else {
      part = c.text;
    }
    text += (text.empty() ? "" : ", or ") + part;
  }
  return text + Code(e);
}

}  // namespace tarvo::frontend
