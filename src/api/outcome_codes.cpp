#include "api/outcome_codes.h"

#include "engines/engine.h"
#include "engines/methods.h"
#include "fitting/solvers.h"
#include "library/erreur_codes.h"

namespace tarvo {

namespace {

using S = OutcomeStage;

constexpr uint8_t kSetUp = kAfterSetUp;
constexpr uint8_t kRun = kAfterSimulation | kAfterFit;  // a simulation, or a fit's simulations
constexpr uint8_t kFit = kAfterFit;

// No pivot in a column before the last, or a vanishing last pivot: one cause, one text.
constexpr const char* kNormalEquationsSingular =
    "the fit's normal equations are singular: some free adjustables have no effect on the "
    "data, or two have the same effect";

constexpr OutcomeCode kCodes[] = {
    {kErreurCountLimit, S::Refusal, "CountLimit",
     "the model exceeds a size limit of the library", kSetUp},
    {kErreurReplicateLimit, S::Refusal, "ReplicateLimit",
     "a point has a replicate count outside 0..10", kSetUp},
    {kErreurIntervalRange, S::Refusal, "IntervalRange",
     "a point's interval is outside the model's intervals", kSetUp},
    {kErreurIntervalOrder, S::Refusal, "IntervalOrder",
     "the points' interval numbers decrease somewhere, so the later points would never be "
     "simulated", kSetUp},
    {kErreurNonFinite, S::Refusal, "NonFinite",
     "a species or output of the simulation is not a finite number (a rate that grows "
     "without bound, a division by zero, a huge start value)", kRun},
    {kErreurNoModel, S::Refusal, "NoModel",
     "no model is loaded (the set-up failed or was not run, or Fin released it)", kRun},
    {kErreurTooFewData, S::SetUp, "TooFewData",
     "there are fewer measured values than free adjustables", kSetUp},
    {kErreurMethod, S::SetUp, "Method",
     "the method is not exactly one of the method names (capitals and spaces included), or "
     "a method of the method library cannot integrate the model (the failure says why)", kSetUp},
    {kStatusTolerance, S::Engine, "Tolerance",
     "the tolerance is not above the engine's floor, or CHU-BERMAN's step size fell below "
     "1e-130", kRun},
    {kStatusNotReached, S::Engine, "NotReached",
     "the integration stopped before the next point's time", kRun},
    {kStatusEmptyInterval, S::Engine, "EmptyInterval",
     "two consecutive points have the same time, or times that decrease", kRun},
    {kStatusStepBudget, S::Engine, "StepBudget",
     "an integration between two points used its whole budget of steps without reaching the "
     "next point", kRun},
    {kSolverNoSystem, S::Solver, "NoSystem", "there is no free adjustable to fit", kFit},
    {kSolverSingularOne, S::Solver, "SingularOne",
     "the fit's equations are singular: the covariance matrix could not be inverted (some "
     "free adjustable has no effect on the data)", kFit},
    {kSolverNoPivot, S::Solver, "NoPivot", kNormalEquationsSingular, kFit},
    {kSolverLastPivot, S::Solver, "LastPivot", kNormalEquationsSingular, kFit},
};

}  // namespace

std::span<const OutcomeCode> OutcomeCodes() { return kCodes; }

ErreurParts DecodeErreur(int32_t erreur) {
  ErreurParts parts;
  const int32_t bits = static_cast<uint16_t>(erreur);
  parts.rest = bits;
  const int32_t thousands = bits / 1000;
  for (const OutcomeCode& c : kCodes) {
    if (c.stage != S::Refusal || (thousands & (c.value / 1000)) == 0) continue;
    parts.refusals[parts.count++] = &c;
    parts.rest -= c.value;
  }
  return parts;
}

int32_t RefusalSum(const ErreurParts& parts) {
  int32_t sum = 0;
  for (int i = 0; i < parts.count; ++i) sum += parts.refusals[i]->value;
  return sum;
}

bool HoldsRefusal(int32_t erreur, int32_t refusal) {
  const ErreurParts parts = DecodeErreur(erreur);
  for (int i = 0; i < parts.count; ++i)
    if (parts.refusals[i]->value == refusal) return true;
  return false;
}

const OutcomeCode* FindOutcome(OutcomeStage stage, int32_t value) {
  for (const OutcomeCode& c : kCodes)
    if (c.stage == stage && c.value == value) return &c;
  return nullptr;
}

OutcomeMeanings MeaningsAfter(OutcomeCall call, int32_t value) {
  OutcomeMeanings m;
  // The solver's codes come before the engine's: a fit's Erreur is a solver's code unless
  // the last engine call of its simulations failed.
  for (S stage : {S::SetUp, S::Solver, S::Engine}) {
    const OutcomeCode* c = FindOutcome(stage, value);
    if (c && (c->calls & call) && m.count < 2) m.codes[m.count++] = c;
  }
  return m;
}

std::string_view EngineStatusText(int32_t status, std::string_view method) {
  const MethodFacts* facts = FactsForMethod(method);
  const bool fixed = facts && facts->fixed_steps;
  const bool qc = method == "RUNGE-KUTTA QC";
  const bool chu = method == "CHU-BERMAN";
  static_assert(kMaxEngineSteps == 1000000, "the budget's sentence says a million steps");
  switch (status) {
    case kStatusTolerance:
      if (chu)
        return "the integration's step size fell below 1e-130 (the equations are too stiff "
               "for the tolerance, or a rate is not finite)";
      if (qc) return "the tolerance is not above the engine's floor (above 1e-130 for RUNGE-KUTTA QC)";
      return "the tolerance is not above the engine's floor (above 0)";
    case kStatusNotReached:
      if (qc)
        return "the integration took 1/tolerance steps (its limit) without reaching the next "
               "point: a smaller tolerance allows more steps; or a rate is too fast for the "
               "time scale of the points, or explodes";
      if (fixed)
        return "the integration could not advance the time (a step too small for the time "
               "value, or a state that is not finite)";
      if (chu)
        return "the integration's step size collapsed below 1e-130 before the next point (the "
               "equations are too stiff for the tolerance, or a rate is not finite)";
      break;
    case kStatusStepBudget:
      return "an integration between two points took 1000000 steps (the library's budget per "
             "call) without reaching the next point: the times are far longer than the rates' "
             "time scale (times in ms or s for rates per min?), or the tolerance is too small";
    default:
      break;
  }
  const OutcomeCode* c = FindOutcome(S::Engine, status);
  return c ? c->text : "";
}

}  // namespace tarvo
