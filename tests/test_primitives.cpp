// Formula text primitives: the constant table (its first use after load, reuse of equal
// values, NaN, exhaustion), bracket matching with its error flag, group extraction and space
// removal.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "Symbolic/cells.h"
#include "Symbolic/primitives.h"
#include "platform/variant.h"

using namespace tarvo;

namespace {

// The value cells and constant table every formula of this file is compiled against.
FormulaCells cells;
ConstantTable& constants = cells.constants;


Text Token(int slot) { return Text{u'C', IndexChar(slot)}; }

}  // namespace

// Runs first in this program: the table is as the library's load left it.
TEST(ConstantTable, FirstUseAfterLoadAndReuse) {
  ASSERT_EQ(constants.count, 1);
  // Slot 1 held the initial 0.0, but the search is empty.
  EXPECT_EQ(ConstName(constants, 2.5), u"Ca");
  EXPECT_EQ(constants.count, 2);
  EXPECT_EQ(constants.value[1], 0.0);
  EXPECT_EQ(ConstName(constants, 2.5), u"Ca");
  EXPECT_EQ(constants.count, 2);
  EXPECT_EQ(ConstName(constants, 0.0), u"Cb");
  EXPECT_EQ(constants.count, 3);

  // -0.0 equals 0.0: same slot, and the slot takes the newer value.
  EXPECT_EQ(ConstName(constants, -0.0), u"Cb");
  EXPECT_TRUE(std::signbit(ConstValue(constants, u"Cb")));
  EXPECT_EQ(constants.count, 3);

  // A NaN equals nothing, itself included: each one takes a new slot.
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(ConstName(constants, nan), u"Cc");
  EXPECT_EQ(ConstName(constants, nan), u"Cd");
  EXPECT_TRUE(std::isnan(ConstValue(constants, u"Cc")));
  EXPECT_EQ(ConstValue(constants, u"Ca"), 2.5);
  EXPECT_EQ(constants.count, 5);
  EXPECT_FALSE(ConstantTableFull(constants));

  ResetConstants(constants);
  EXPECT_EQ(constants.count, 1);
  EXPECT_EQ(ConstName(constants, -1.0), u"Ca");
}

TEST(ConstantTable, ExhaustionNeverWritesPastTheTable) {
  ResetConstants(constants);
  for (int n = 1; n <= kMaxConstants; ++n) {
    ASSERT_EQ(ConstName(constants, n + 0.5), Token(n)) << n;
    // Filling the last slot must not clear a 256th one (the count lives right behind it).
    ASSERT_EQ(constants.count, n + 1);
  }
  EXPECT_TRUE(ConstantTableFull(constants));
  EXPECT_EQ(ConstValue(constants, Token(kMaxConstants)), kMaxConstants + 0.5);

  // Known values keep their tokens; a new value gets the overflow token, which reads as NaN.
  EXPECT_EQ(ConstName(constants, 7.5), Token(7));
  const Text overflow = ConstName(constants, 1000.25);
  EXPECT_EQ(overflow, (Text{u'C', kOverflowIndex}));
  EXPECT_TRUE(std::isnan(ConstValue(constants, overflow)));
  EXPECT_EQ(constants.count, kMaxConstants + 1);
  EXPECT_EQ(ConstValue(constants, Token(kMaxConstants)), kMaxConstants + 0.5);

  // Tokens outside 1..255 read as NaN rather than outside the table.
  EXPECT_TRUE(std::isnan(ConstValue(constants, Text{u'C', IndexChar(0)})));
  EXPECT_TRUE(std::isnan(ConstValue(constants, u"C")));
  ResetConstants(constants);
}

TEST(Brackets, MatchParenPositionsAndFlag) {
  struct Case {
    Text text;
    int32_t pos;
    int32_t partner;
    int32_t flag;
  };
  const Case cases[] = {
      {u"(a(b)c)", 1, 7, 0},
      {u"(a(b)c)", 3, 5, 0},
      {u"x(ab)y", 2, 5, 0},
      {u"()", 1, 2, 0},
      {u"(a))", 1, 3, 0},
      {u"(ab", 1, 4, 1},   // unbalanced: length + 1
      {u"((", 1, 3, 1},
      {u"ab", 1, 1, 1},    // not a bracket: position kept
      {u")(", 1, 1, 1},
      {u"(a)", 0, 0, 1},
      {u"(a)", -3, -3, 1},
      {u"ab", 5, 5, 2},    // not a bracket and past the end
      {u"", 1, 1, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(ToUtf8(c.text) + " at " + std::to_string(c.pos));
    int32_t error = 99;
    EXPECT_EQ(MatchParen(c.text, c.pos, &error), c.partner);
    EXPECT_EQ(error, c.flag);
    EXPECT_EQ(MatchParen(c.text, c.pos), c.partner) << "without an error count";
  }
}

TEST(Brackets, ExtractParenGroups) {
  struct Case {
    Text text;
    int32_t pos;
    Text inside;
    int32_t close;
  };
  const Case cases[] = {
      {u"x(ab)y", 2, u"ab", 5},
      {u"()", 1, u"", 2},
      {u"(a(b)c)", 1, u"a(b)c", 7},
      {u"(a(b)c)", 3, u"b", 5},
      {u"(ab", 1, u"", 4},
      {u"ab", 1, u"", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(ToUtf8(c.text) + " at " + std::to_string(c.pos));
    int32_t close = -1, error = 99;
    EXPECT_EQ(ExtractParen(c.text, c.pos, close, error), c.inside);
    EXPECT_EQ(close, c.close);
  }
  int32_t close = 0, error = 99;
  ExtractParen(u"()", 1, close, error);
  EXPECT_EQ(error, 0) << "an empty group is not an error";
}

TEST(Text, StripSpacesRemovesOnlyCode32) {
  struct Case {
    Text in, out;
  };
  const Case cases[] = {
      {u" a + b ", u"a+b"}, {u"", u""},          {u"   ", u""},
      {u"a  b", u"ab"},     {u"a\tb", u"a\tb"},  {u"a\u00a0b", u"a\u00a0b"},
      {u"Fa*Pb", u"Fa*Pb"},
  };
  for (const auto& c : cases) {
    Text t = c.in;
    StripSpaces(t);
    EXPECT_EQ(t, c.out) << ToUtf8(c.in);
  }
}
