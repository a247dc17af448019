// Host formula text to coded text: decimal conversions and their error positions, tokens and
// indices, numbers and signs, brackets, the constant table as the tokenizer fills it.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "Symbolic/cells.h"
#include "Symbolic/decimal.h"
#include "Symbolic/primitives.h"
#include "Symbolic/tokenizer.h"

namespace tarvo {
namespace {

// The value cells and constant table every formula of this file is compiled against.
FormulaCells cells;
ConstantTable& constants = cells.constants;


Text T16(const std::string& s) { return Text(s.begin(), s.end()); }

std::string Ascii(const Text& t) {
  std::string s;
  for (char16_t c : t) {
    if (c >= 0x20 && c < 0x7F) {
      s.push_back(static_cast<char>(c));
    } else {
      s += "<" + std::to_string(static_cast<int>(c)) + ">";
    }
  }
  return s;
}

struct Tokenized {
  std::string coded;
  int error;
};

Tokenized Tok(const std::string& host) {
  Text t = T16(host);
  int16_t error = -1;
  Tokenize(t, error, constants);
  return {Ascii(t), error};
}

double Slot(int n) { return constants.value[n - 1]; }

TEST(Decimal, RealTextsAndErrorPositions) {
  struct Case {
    const char* text;
    int32_t failed_at;
    double value;
  };
  const Case cases[] = {
      {"2", 0, 2.0},          {"-3", 0, -3.0},          {"1.5E-3", 0, 0.0015},
      {"1.5e+3", 0, 1500.0},  {"5.", 0, 5.0},           {".5", 0, 0.5},
      {"-.25", 0, -0.25},     {"3.E2", 0, 300.0},       {"0.1", 0, 0.1},
      {"1.2.3", 4, 0.0},      {"-1.2.3", 5, 0.0},       {"2E", 3, 0.0},
      {"1e+", 4, 0.0},        {"1E5E5", 4, 0.0},        {".", 2, 0.0},
      {"-", 2, 0.0},          {"", 1, 0.0},             {".E5", 2, 0.0},
      {"12x", 3, 0.0},        {"1E(", 3, 0.0},          {"1E400", 6, 0.0},
      {"-1E-400", 0, -0.0},   {"1E-310", 0, 1E-310},    {"123456789012345678901", 0, 1.2345678901234568E20},
  };
  for (const Case& c : cases) {
    double value = 99.0;
    EXPECT_EQ(ReadReal(T16(c.text), value), c.failed_at) << c.text;
    EXPECT_EQ(value, c.value) << c.text;
    EXPECT_EQ(std::signbit(value), std::signbit(c.value)) << c.text;
  }
}

TEST(Decimal, IntegerTextsAndErrorPositions) {
  struct Case {
    const char* text;
    int32_t failed_at;
    int32_t value;
  };
  const Case cases[] = {
      {"1", 0, 1},   {"12", 0, 12}, {"+5", 0, 5},  {"-1", 0, -1}, {"07", 0, 7},
      {"", 1, 0},    {"(", 1, 0},   {"a", 1, 0},   {"-", 2, 0},   {"1x", 2, 0},
      {"2147483647", 0, 2147483647}, {"-2147483648", 0, INT32_MIN}, {"2147483648", 10, 0},
  };
  for (const Case& c : cases) {
    int32_t value = 99;
    EXPECT_EQ(ReadInteger(T16(c.text), value), c.failed_at) << c.text;
    EXPECT_EQ(value, c.value) << c.text;
  }
}

// Names become a kind letter and the index character 0x60 + n; letters that are not kind
// letters pass unchanged; the sign in front is added when missing.
TEST(Tokenize, TokensAndIndices) {
  struct Case {
    const char* host;
    const char* coded;
    int error;
  };
  const Case cases[] = {
      {"F1", "+Fa", 0},
      {"F12", "+Fl", 0},
      {"F26", "+Fz", 0},
      {"P27", "+P{", 0},
      {"A50", "+A<146>", 0},
      {"C2", "+Cb", 0},
      {"Q1", "+Qa", 0},
      {"T", "+Ta", 0},
      {"T1", "+TaCa", 0},  // a digit after T is a number of its own
      {"f1", "+fCa", 0},
      {"-F1*P2", "-Fa*Pb", 0},
      {"  F1 +  P3 ", "+Fa+Pc", 0},
      {"", "+", 0},
      {"   ", "+", 0},
      {"F0", "+F`", 0},
      {"F45", "+F<141>", 0},
      {"F123", "+FlCa", 0},  // a third digit starts a number
      {"F-1", "+F_", 0},     // a signed index is accepted, the compiler refuses it
      {"F+5", "+Fe", 0},
      {"P", "+P`", 1},       // empty index at the end
      {"P+", "+P`", 2},      // the lone sign fails after itself
      {"FF1", "+F`", 1},
      {"EXP(F1)", "+EXP`Fa)", 1},
      {"ex(F1)", "+ex(Fa)", 0},
      {"LN(T)", "+LN(Ta)", 0},
      {"x\tF1", "+x<9>Fa", 0},  // only spaces are removed
  };
  for (const Case& c : cases) {
    ResetConstants(constants);
    const Tokenized t = Tok(c.host);  // codes outside 0x20..0x7E read <code>
    EXPECT_EQ(t.coded, c.coded) << c.host;
    EXPECT_EQ(t.error, c.error) << c.host;
  }
}

TEST(Tokenize, CharactersAboveAsciiPassUnchanged) {
  ResetConstants(constants);
  Text t = T16("F1+");
  t.push_back(char16_t(0x4E00));
  t.push_back(char16_t(0xD83D));
  t.push_back(char16_t(0xDE00));
  int16_t error = 0;
  Tokenize(t, error, constants);
  EXPECT_EQ(error, 0);
  EXPECT_EQ(t, (Text{u'+', u'F', u'a', u'+', 0x4E00, 0xD83D, 0xDE00}));
}

// A number takes the minus in front of it as its sign (leaving `+` there) and everything that
// follows an exponent mark; it becomes the token of its constant.
TEST(Tokenize, NumbersAndSigns) {
  struct Case {
    const char* host;
    const char* coded;
    int error;
    std::vector<double> constants;  // slots 1.. after the text, from an empty table
  };
  const Case cases[] = {
      {"F1*2", "+Fa*Ca", 0, {2.0}},
      {"-2*F1", "+Ca*Fa", 0, {-2.0}},
      {"F1-3", "+Fa+Ca", 0, {-3.0}},
      {"-2^2", "+Ca^Cb", 0, {-2.0, 2.0}},
      {"F1^-2", "+Fa^+Ca", 0, {-2.0}},
      {"1.5E-3", "+Ca", 0, {0.0015}},
      {"1.5e+3*2", "+Ca*Cb", 0, {1500.0, 2.0}},
      {"2E", "+Ca", 3, {0.0}},
      {"2E(F1)", "+CaFa)", 3, {0.0}},  // the `(` after E belongs to the number
      {"1.2.3", "+Ca", 4, {0.0}},
      {"F1-1.2.3", "+Fa+Ca", 5, {0.0}},
      {".5+5.", "+Ca+Cb", 0, {0.5, 5.0}},
      {"2*T", "+Ca*Ta", 0, {2.0}},
      {"2*F1+2", "+Ca*Fa+Ca", 0, {2.0}},
      {"3F1", "+CaFa", 0, {3.0}},  // not separated: the compiler refuses the pair
      {"F1 2", "+Fl", 0, {}},  // spaces go first: species 12
      {"E5", "+ECa", 0, {5.0}},
      {"F1--2", "+Fa-+Ca", 0, {-2.0}},
      {"0-0", "+Ca+Ca", 0, {-0.0}},  // an equal value (-0 = 0) overwrites the slot
  };
  for (const Case& c : cases) {
    ResetConstants(constants);
    const Tokenized t = Tok(c.host);
    EXPECT_EQ(t.coded, c.coded) << c.host;
    EXPECT_EQ(t.error, c.error) << c.host;
    ASSERT_EQ(constants.count, static_cast<int32_t>(c.constants.size()) + 1) << c.host;
    for (size_t i = 0; i < c.constants.size(); ++i) {
      EXPECT_EQ(Slot(static_cast<int>(i) + 1), c.constants[i]) << c.host;
      EXPECT_EQ(std::signbit(Slot(static_cast<int>(i) + 1)), std::signbit(c.constants[i]))
          << c.host;
    }
  }
}

TEST(Tokenize, Brackets) {
  struct Case {
    const char* host;
    const char* coded;
  };
  const Case cases[] = {
      {"((F1))", "+(+(Fa))"},
      {"(((T)))", "+(+(+(Ta)))"},
      {"(F1+(P1))", "+(Fa+(Pa))"},
      {"EX((F1))", "+EX(+(Fa))"},
      {"(()", "+(+()"},
      {"))", "+))"},
      {"-(F1)", "-(Fa)"},
  };
  for (const Case& c : cases) {
    ResetConstants(constants);
    const Tokenized t = Tok(c.host);
    EXPECT_EQ(t.coded, c.coded) << c.host;
    EXPECT_EQ(t.error, 0) << c.host;
  }
}

// The table is shared by all formulas and never reset by the tokenizer: equal numbers share a
// token across formulas, and once the table is full a new value gets the token of slot 256,
// which no formula can compile.
TEST(Tokenize, ConstantTable) {
  ResetConstants(constants);
  EXPECT_EQ(Tok("2*F1").coded, "+Ca*Fa");
  EXPECT_EQ(Tok("F2/2+0.5").coded, "+Fb/Ca+Cb");
  EXPECT_EQ(Tok("0.5").coded, "+Cb");
  EXPECT_EQ(constants.count, 3);

  ResetConstants(constants);
  std::string host;
  for (int i = 1; i <= 300; ++i) host += "+" + std::to_string(i);
  Text t = T16(host);
  int16_t error = 0;
  Tokenize(t, error, constants);
  EXPECT_EQ(error, 0);
  EXPECT_EQ(constants.count, kMaxConstants + 1);
  EXPECT_EQ(Slot(kMaxConstants), 255.0);
  ASSERT_EQ(t.size(), 300u * 3u);
  for (int i = 1; i <= 300; ++i) {
    const char16_t index = t[static_cast<size_t>(3 * i - 1)];
    EXPECT_EQ(index, i <= kMaxConstants ? IndexChar(i) : kOverflowIndex) << i;
  }
  // Values already in the table keep their tokens when it is full.
  EXPECT_EQ(Tok("7").coded, "+Cg");
}

TEST(Tokenize, ErrorSumSaturates) {
  ResetConstants(constants);
  // Each number fails at position 20003: three of them sum beyond the 16-bit range.
  const std::string number = "1" + std::string(20000, '0') + "..";
  EXPECT_EQ(Tok(number).error, 20003);
  EXPECT_EQ(Tok(number + "+" + number + "+" + number).error, INT16_MAX);
}

}  // namespace
}  // namespace tarvo
