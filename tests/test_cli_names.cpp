// The front end's formula language: names translated into the library's notation, the shape
// checks with their columns, and the names a model may declare.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "language/names.h"

namespace tarvo::frontend {
namespace {

NameTable Table() {
  Model m;
  for (const char* s : {"A", "B", "k1x"}) m.species.push_back({s, {}, 0});
  for (const char* p : {"kobs", "kT"}) m.parameters.push_back({p, {}, 0});
  for (const char* a : {"k1", "k10", "Cat", "E_a"}) {
    AdjustableDecl d;
    d.name = a;
    m.adjustables.push_back(d);
  }
  return BuildNameTable(m);
}

TEST(CliNames, TranslatesWholeIdentifiersToNotation) {
  const NameTable t = Table();
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"k1*Cat", "A1*A3"},
      {"k10 - k1", "A2-A1"},             // k1 never matches inside k10
      {"k1x*A", "F3*F1"},                // nor inside k1x
      {"-kobs*A + kT*B", "-P1*F1+P2*F2"},
      {"E_a/(8.314*T)", "A4/(8.314*T)"},  // T is the time
      {"exp(-k1*T) + ln(B)", "EX(-A1*T)+LN(F2)"},
      {"EXP(k1) * Ex(k1) * LN(k1)", "EX(A1)*EX(A1)*LN(A1)"},
      {"F1*P2*A4", "F1*P2*A4"},          // the library's own notation passes through
      {"F01", "F1"},
      {"1.5e-3*k1", "1.5e-3*A1"},        // the e of a number is not a name
      {"2E+3", "2E+3"},
      {"-2*k1", "-2*A1"},
      {"k1*-2", "A1*-2"},                // a sign before a number after an operator
      {"k1^-2", "A1^-2"},
      {"(k1^2)^3", "(A1^2)^3"},
      {"-(2^2)", "-(2^2)"},
      {"  k1 \t* A ", "A1*F1"},
  };
  for (const auto& c : cases) {
    std::string out, message;
    std::vector<std::string> refs;
    EXPECT_EQ(Translate(t, c.in, out, message, &refs), 0) << c.in << ": " << message;
    EXPECT_EQ(out, c.out) << c.in;
  }
}

TEST(CliNames, ReportsReferencedTokensOnce) {
  std::string out, message;
  std::vector<std::string> refs;
  ASSERT_EQ(Translate(Table(), "k1*A + k1*T - F2 + kobs", out, message, &refs), 0);
  EXPECT_EQ(refs, (std::vector<std::string>{"A1", "F1", "T", "F2", "P1"}));
}

TEST(CliNames, RefusesMalformedFormulasNamingTheColumn) {
  const NameTable t = Table();
  const struct {
    const char* in;
    const char* message;
  } cases[] = {
      {"k3*A", "unknown name 'k3' at column 1"},
      {"K1", "unknown name 'K1' at column 1 (did you mean 'k1'?)"},
      {"k1*t", "unknown name 't' at column 4 (the time is written T)"},
      {"sqrt(k1)", "unknown function 'sqrt' at column 1"},
      {"k1(A+B)", "'k1' at column 1 is followed by '('"},
      {"exp", "'exp' at column 1 is a function"},
      {"", "the formula is empty"},
      {"k1 2", "missing operator before '2' at column 4"},
      {"k1*(A", "'(' at column 4 is never closed"},
      {"k1)", "')' at column 3 has no matching '('"},
      {"k1*()", "empty brackets at column 4"},
      {"k1*", "the formula ends with '*' at column 3"},
      {"*k1", "'*' at column 1 has no operand before it"},
      {"k1*/A", "'/' at column 4 has no operand before it"},
      {"k1*-A", "the sign '-' at column 4 follows the operator '*'"},
      {"k1/-A", "the sign '-' at column 4 follows the operator '/'"},
      {"-2^2", "'-2^' at column 1 would square the negative number"},
      {"A-3^k1", "'-3^' at column 2 would square the negative number"},
      {"k1^2^3", "the second '^' at column 5 chains powers"},
      {"1.2.3", "malformed number '1.2.3' at column 1"},
      {"2e", "malformed number '2e' at column 1"},
      {"k1,5", "unexpected character ',' at column 3 (the decimal separator is a point)"},
      {"k1 % 2", "unexpected character '%' at column 4"},
      {"F4", "'F4' at column 1 is out of range: in the library's notation it names species 4, and the model declares 3 species"},
      {"P3", "names parameter 3, and the model declares 2 parameters"},
      {"A5", "names adjustable 5, and the model declares 4 adjustables"},
      {"F0", "'F0' at column 1 is out of range"},
      {"F123", "'F123' at column 1 is out of range"},
      {"C1", "'C1' at column 1 names a slot of the library's constant table"},
      {"Q1", "'Q1' at column 1: Q-names are not accepted"},
      {"A*\xC3\xA9", "unexpected character '\xC3\xA9' at column 3"},
  };
  for (const auto& c : cases) {
    std::string out, message;
    EXPECT_EQ(Translate(t, c.in, out, message), 2) << c.in;
    EXPECT_NE(message.find(c.message), std::string::npos)
        << c.in << ": got \"" << message << "\", expected \"" << c.message << "\"";
  }
}

TEST(CliNames, AcceptsOnlyNamesTheLibraryCannotMistake) {
  const struct {
    const char* name;
    bool ok;
  } cases[] = {
      {"k1", true},   {"Atot", true},  {"A", true},    {"_x", true},   {"t", true},
      {"E", true},    {"epsB", true},  {"A1b", true},  {"T", false},   {"EX", false},
      {"exp", false}, {"Ln", false},   {"A1", false},  {"F12", false}, {"C3", false},
      {"Q1", false},  {"P0", false},   {"1k", false},  {"k-1", false}, {"", false},
      {"k 1", false}, {"\xC3\xA9", false},
  };
  for (const auto& c : cases) {
    std::string message;
    EXPECT_EQ(CheckName(c.name, message) == 0, c.ok) << "'" << c.name << "': " << message;
    if (!c.ok) {
      EXPECT_FALSE(message.empty());
    }
  }
}

}  // namespace
}  // namespace tarvo::frontend
