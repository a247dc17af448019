#include "session/erreur_text.h"

#include "api/outcome_codes.h"
#include "engines/engine.h"
#include "engines/external.h"
#include "engines/methods.h"
#include "fitting/solvers.h"
#include "library/erreur_codes.h"
#include "platform/variant.h"

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

bool FixedSteps(const std::string& method) {
  const MethodFacts* f = FactsForMethod(method);
  return f && f->fixed_steps;
}

}  // namespace

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

std::string Refused(const ErreurParts& parts, const std::string& detail) {
  std::string what;
  for (int i = 0; i < parts.count; ++i) {
    if (parts.refusals[i]->value == kErreurNonFinite) continue;
    what += (what.empty() ? "" : "; and ") + std::string(parts.refusals[i]->text);
  }
  return "the library refused the model: " + what + (detail.empty() ? "" : ": " + detail) +
         Code(Refusals(parts));
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
  if (!KnownMethod(f.method)) {
    rest -= kErreurMethod;
    out.push_back("method '" + f.method + "' is not one of " + MethodNames() +
                  " (exact spelling, capitals and spaces)" + Code(kErreurMethod));
  }
  if (f.data_values < f.free_count) {
    rest -= kErreurTooFewData;
    out.push_back("only " + std::to_string(f.data_values) + " measured values for " +
                  std::to_string(f.free_count) + " free adjustables: there must be at least " +
                  "as many values as free adjustables" + Code(kErreurTooFewData));
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
  const bool fixed = FixedSteps(method);
  const bool qc = method == "RUNGE-KUTTA QC";
  switch (e) {
    case kStatusTolerance:
      if (method == "CHU-BERMAN")
        return "the integration's step size fell below 1e-130 (the equations are too stiff "
               "for the tolerance, or a rate is not finite)" + Code(e);
      return "the tolerance is not above the engine's floor (above 0" +
             std::string(qc ? ", 1e-130 for RUNGE-KUTTA QC" : "") + ")" + Code(e);
    case kStatusNotReached:
      if (qc)
        return "the integration took 1/tolerance steps (its limit) without reaching the next "
               "point: a smaller tolerance allows more steps; or a rate is too fast for the time "
               "scale of the points, or explodes" + Code(e);
      if (fixed)
        return "the integration could not advance the time (a step too small for the time "
               "value, or a state that is not finite)" + Code(e);
      return "the integration's step size collapsed below 1e-130 before the next point (the "
             "equations are too stiff for the tolerance, or a rate is not finite)" + Code(e);
    case kStatusEmptyInterval:
      return Text(OutcomeStage::Engine, e) + Code(e);
    case kStatusStepBudget:
      return "an integration between two points took " + std::to_string(kMaxEngineSteps) +
             " steps (the library's budget per call) without reaching the next point: the times "
             "are far longer than the rates' time scale (times in ms or s for rates per min?), "
             "or the tolerance is too small" + Code(e);
    default:
      return "the integration engine reported status " + std::to_string(e) + Code(e);
  }
}

std::string FitErreurText(int e, const std::string& method, int free_count) {
  if (e == 0) return "";
  const ErreurParts parts = DecodeErreur(e);
  if (IsRefusal(parts)) return Refused(parts, "");
  if (HoldsRefusal(e, kErreurNonFinite) || e == kStatusStepBudget)
    return SimulationErreurText(e, method);
  if (e == kSolverNoSystem && free_count == 0)
    return Text(OutcomeStage::Solver, e) + std::string(" (mark some with free = true)") + Code(e);
  const std::string engine = SimulationErreurText(e, method);
  const bool fixed = FixedSteps(method);
  switch (e) {
    case 1:
      return "the covariance matrix could not be inverted: no standard deviations (some free "
             "adjustable has no effect on the data), or " + engine;
    case 2:
      return std::string("the fit's equations are singular: ") +
             (free_count == 1 ? "the free adjustable has no effect on the data"
                              : "the covariance matrix could not be inverted (some free "
                                "adjustables have no effect on the data, or the same effect)") +
             (fixed ? Code(e) : ", or " + engine);
    case kSolverNoPivot:
    case kSolverLastPivot:  // the data's times increase strictly, so 3 is the solver's
      return Text(OutcomeStage::Solver, e) + std::string(" (fix one of them)") + Code(e);
    default:
      return "the fit reported Erreur " + std::to_string(e) + " (a sum of an engine status and "
             "a solver code: " + engine + ")";
  }
}

}  // namespace tarvo::frontend
