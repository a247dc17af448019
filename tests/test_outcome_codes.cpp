// The table of outcome codes and the decoder of an Erreur sum.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "api/outcome_codes.h"
#include "library/erreur_codes.h"

namespace tarvo {
namespace {

std::vector<const OutcomeCode*> Refusals() {
  std::vector<const OutcomeCode*> out;
  for (const OutcomeCode& c : OutcomeCodes())
    if (c.stage == OutcomeStage::Refusal) out.push_back(&c);
  return out;
}

// Every combination of refusals, with a remainder of each stage's range, arrives through the
// 16-bit field and comes back as exactly those refusals and that remainder.
TEST(OutcomeCodes, EverySumOfRefusalsDecodesToItsParts) {
  const std::vector<const OutcomeCode*> refusals = Refusals();
  ASSERT_EQ(refusals.size(), static_cast<size_t>(kRefusalCount));
  for (unsigned subset = 0; subset < (1u << refusals.size()); ++subset) {
    for (int32_t low : {0, 1, 3, 9, 16, 18, 999}) {
      int32_t sum = low;
      std::vector<const OutcomeCode*> expected;
      for (size_t i = 0; i < refusals.size(); ++i)
        if (subset & (1u << i)) {
          sum += refusals[i]->value;
          expected.push_back(refusals[i]);
        }
      const int16_t field = static_cast<int16_t>(static_cast<uint16_t>(sum));
      const ErreurParts parts = DecodeErreur(field);
      const std::vector<const OutcomeCode*> found(parts.refusals, parts.refusals + parts.count);
      EXPECT_EQ(found, expected) << "Erreur " << sum;
      EXPECT_EQ(parts.rest, low) << "Erreur " << sum;
      EXPECT_EQ(RefusalSum(parts), sum - low);
    }
  }
}

TEST(OutcomeCodes, NoTwoCodesCanBeConfused) {
  const auto codes = OutcomeCodes();
  for (size_t i = 0; i < codes.size(); ++i) {
    const OutcomeCode& a = codes[i];
    const bool refusal = a.stage == OutcomeStage::Refusal;
    EXPECT_EQ(refusal, a.value >= 1000) << a.name;
    EXPECT_FALSE(std::string(a.text).empty()) << a.name;
    EXPECT_EQ(FindOutcome(a.stage, a.value), &a) << a.name;
    for (size_t j = i + 1; j < codes.size(); ++j) {
      const OutcomeCode& b = codes[j];
      EXPECT_STRNE(a.name, b.name);
      // A small value may recur in another stage; a refusal's value is its own everywhere.
      if (a.stage == b.stage || refusal) {
        EXPECT_NE(a.value, b.value) << a.name << " " << b.name;
      }
    }
  }
}

TEST(OutcomeCodes, ThousandsNoRefusalExplainsStayInTheRest) {
  // 64000 + 5 reaches no refusal's bit: read as unsigned 16 bits it keeps its remainder.
  const ErreurParts high = DecodeErreur(static_cast<int16_t>(static_cast<uint16_t>(64005)));
  EXPECT_EQ(high.count, 0);
  EXPECT_EQ(high.rest, 64005);
  const ErreurParts both = DecodeErreur(kErreurNonFinite + 2);
  ASSERT_EQ(both.count, 1);
  EXPECT_EQ(both.refusals[0]->value, kErreurNonFinite);
  EXPECT_EQ(both.rest, 2);
  EXPECT_TRUE(HoldsRefusal(kErreurReplicateLimit + kErreurIntervalRange, kErreurIntervalRange));
  EXPECT_FALSE(HoldsRefusal(kErreurReplicateLimit + 9, kErreurCountLimit));
  EXPECT_EQ(FindOutcome(OutcomeStage::Engine, 4), nullptr);
}

// The same small value read after each call: what it stands for is the call's to say.
TEST(OutcomeCodes, SmallValuesMeanWhatTheirCallMakesOfThem) {
  const struct {
    OutcomeCall call;
    int32_t value;
    std::vector<std::string> names;
  } cases[] = {
      {kAfterSetUp, 1, {"TooFewData"}},
      {kAfterSimulation, 1, {"Tolerance"}},
      {kAfterFit, 1, {"NoSystem", "Tolerance"}},
      {kAfterSetUp, 9, {"Method"}},
      {kAfterSimulation, 9, {}},
      {kAfterFit, 3, {"NoPivot", "EmptyInterval"}},
      {kAfterFit, 16, {"StepBudget"}},
      {kAfterSetUp, 16, {}},  // formula faults
  };
  for (const auto& c : cases) {
    const OutcomeMeanings m = MeaningsAfter(c.call, c.value);
    std::vector<std::string> names;
    for (int i = 0; i < m.count; ++i) names.push_back(m.codes[i]->name);
    EXPECT_EQ(names, c.names) << "call " << int(c.call) << ", value " << c.value;
  }
  // Each method's engine words its statuses; an unknown status has no sentence.
  EXPECT_NE(EngineStatusText(2, "RUNGE-KUTTA QC"), EngineStatusText(2, "RUNGE-KUTTA 4"));
  EXPECT_EQ(EngineStatusText(2, "BDF"), FindOutcome(OutcomeStage::Engine, 2)->text);
  EXPECT_TRUE(EngineStatusText(7, "RUNGE-KUTTA 4").empty());
}

}  // namespace
}  // namespace tarvo
