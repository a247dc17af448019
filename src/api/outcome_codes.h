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
#pragma once

#include <cstdint>
#include <span>

namespace tarvo {

enum class OutcomeStage { Refusal, SetUp, Engine, Solver };

struct OutcomeCode {
  int32_t value;
  OutcomeStage stage;
  const char* name;  // the constant's name without its prefix
  const char* text;  // one sentence, without the code
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

}  // namespace tarvo
