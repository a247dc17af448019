// Every code a host can find in BFitSet.Erreur, each with a name and a sentence, and the
// decoder that splits an Erreur into its parts. The constants stay in the layer that reports
// them (library/erreur_codes.h, engines/engine.h, fitting/solvers.h); this is their one table.
//
// An Erreur is a sum. The refusals are distinct powers of two times 1000, so the thousands of
// an Erreur name exactly the refusals it holds. What is left belongs to one stage, which the
// caller knows from the call it made: the set-up (the tokenizer's and compiler's fault sums,
// self-references, 9 for an unknown Method, 1 for too few data), the engine status of a
// simulation, or a linear solver's code of a fit. The same small value means different things
// in different stages, so a small entry belongs to its stage.
//
// Erreur is a 16-bit field: a sum of refusals above 32767 arrives negative and is read as its
// unsigned 16 bits. A set-up whose formula faults alone sum to 1000 or more cannot be told
// from a refusal.
//
// What a code means depends on the call that left it, so every entry names the calls after
// which it can stand in Erreur: the set-up (Calcul_initial: refusals of the counts and the
// exchange file, TooFewData, Method, and for the rest the formula faults), a simulation
// (Simulation: the last engine call's status, NonFinite, NoModel) or a fit (Ajustement: a
// solver's code or an engine status of its simulations, NonFinite, NoModel). Code 1 is
// TooFewData after a set-up, Tolerance after a simulation, and NoSystem or Tolerance after a
// fit. A simulation or fit after a failed set-up hands back the set-up's Erreur.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

// The constants, for callers above the api: the refusals and set-up codes, the engine
// statuses and the solvers' codes.
#include "engines/engine.h"
#include "fitting/solvers.h"
#include "library/erreur_codes.h"

namespace tarvo {

enum class OutcomeStage { Refusal, SetUp, Engine, Solver };

// The calls whose Erreur a code can reach, as bits.
enum OutcomeCall : uint8_t { kAfterSetUp = 1, kAfterSimulation = 2, kAfterFit = 4 };

struct OutcomeCode {
  int32_t value;
  OutcomeStage stage;
  const char* name;  // the constant's name without its prefix
  const char* text;  // one sentence, without the code
  uint8_t calls;     // OutcomeCall bits
};

// Refusals first, in increasing value, then the codes of each stage.
std::span<const OutcomeCode> OutcomeCodes();

inline constexpr int kRefusalCount = 6;

struct ErreurParts {
  int count = 0;                                   // refusals found
  const OutcomeCode* refusals[kRefusalCount] = {};  // in increasing value
  int32_t rest = 0;  // the value without them: below 1000 unless no refusal explains a thousand
};

ErreurParts DecodeErreur(int32_t erreur);

// The sum of the refusals an Erreur holds.
int32_t RefusalSum(const ErreurParts& parts);

bool HoldsRefusal(int32_t erreur, int32_t refusal);

// The entry of a stage with this value; nullptr when the stage has none.
const OutcomeCode* FindOutcome(OutcomeStage stage, int32_t value);

// The entry the value (below 1000) stands for after the call, in the order a reader should
// try them: after a fit the solver's code first, then the engine status of the fit's
// simulations. At most two; none for a set-up value that only formula faults explain.
struct OutcomeMeanings {
  int count = 0;
  const OutcomeCode* codes[2] = {};
};
OutcomeMeanings MeaningsAfter(OutcomeCall call, int32_t value);

// An engine status as the named method reaches it: the table's sentence, or the more precise
// one of that method's engine (CHU-BERMAN's step that collapses, RUNGE-KUTTA QC's limit of
// 1/tolerance steps, the fixed-step engines' time that cannot advance). Empty for a value
// that is no engine status.
std::string_view EngineStatusText(int32_t status, std::string_view method);

}  // namespace tarvo
