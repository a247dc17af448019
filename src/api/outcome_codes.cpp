#include "api/outcome_codes.h"

#include "engines/engine.h"
#include "fitting/solvers.h"
#include "library/erreur_codes.h"

namespace tarvo {

namespace {

using S = OutcomeStage;

// No pivot in a column before the last, or a vanishing last pivot: one cause, one text.
constexpr const char* kNormalEquationsSingular =
    "the fit's normal equations are singular: some free adjustables have no effect on the "
    "data, or two have the same effect";

constexpr OutcomeCode kCodes[] = {
    {kErreurCountLimit, S::Refusal, "CountLimit",
     "the model exceeds a size limit of the library"},
    {kErreurReplicateLimit, S::Refusal, "ReplicateLimit",
     "a point has a replicate count outside 0..10"},
    {kErreurIntervalRange, S::Refusal, "IntervalRange",
     "a point's interval is outside the model's intervals"},
    {kErreurIntervalOrder, S::Refusal, "IntervalOrder",
     "the points' interval numbers decrease somewhere, so the later points would never be "
     "simulated"},
    {kErreurNonFinite, S::Refusal, "NonFinite",
     "a species or output of the simulation is not a finite number (a rate that grows "
     "without bound, a division by zero, a huge start value)"},
    {kErreurNoModel, S::Refusal, "NoModel",
     "no model is loaded (the set-up failed or was not run, or Fin released it)"},
    {kErreurTooFewData, S::SetUp, "TooFewData",
     "there are fewer measured values than free adjustables"},
    {kErreurMethod, S::SetUp, "Method",
     "the method is not exactly one of the method names (capitals and spaces included), or "
     "a method of the method library cannot integrate the model (the failure says why)"},
    {kStatusTolerance, S::Engine, "Tolerance",
     "the tolerance is not above the engine's floor, or CHU-BERMAN's step size fell below "
     "1e-130"},
    {kStatusNotReached, S::Engine, "NotReached",
     "the integration stopped before the next point's time"},
    {kStatusEmptyInterval, S::Engine, "EmptyInterval",
     "two consecutive points have the same time, or times that decrease"},
    {kStatusStepBudget, S::Engine, "StepBudget",
     "an integration between two points used its whole budget of steps without reaching the "
     "next point"},
    {kSolverNoSystem, S::Solver, "NoSystem", "there is no free adjustable to fit"},
    {kSolverSingularOne, S::Solver, "SingularOne",
     "the fit's equations are singular: the covariance matrix could not be inverted (some "
     "free adjustable has no effect on the data)"},
    {kSolverNoPivot, S::Solver, "NoPivot", kNormalEquationsSingular},
    {kSolverLastPivot, S::Solver, "LastPivot", kNormalEquationsSingular},
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

}  // namespace tarvo
