// Coded formula text to slot programs: the slot patterns of each construct, faults, the slot
// and nesting limits, EqualTo inlining with self-references and cycles, a round trip against
// values computed directly, and malformed input of every kind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "Symbolic/cells.h"
#include "Symbolic/compil.h"
#include "Symbolic/compiler.h"
#include "Symbolic/primitives.h"
#include "Symbolic/tokenizer.h"
#include "platform/failure.h"

namespace tarvo {
namespace {

// The value cells and constant table every formula of this file is compiled against.
FormulaCells cells;
ConstantTable& constants = cells.constants;


Text T16(const std::string& s) { return Text(s.begin(), s.end()); }

// Names a slot's operand: F1, P2, A3, C4, T, fc (function cell), R<k> (result of the record
// called at slot k), ? (none of these).
std::string OperandName(const compil& c, const double* cell) {
  auto in = [cell](const double* first, int n) { return cell >= first && cell < first + n; };
  if (in(cells.species, kMaxSpecies)) return "F" + std::to_string(cell - cells.species + 1);
  if (in(cells.parameters, kMaxParameters))
    return "P" + std::to_string(cell - cells.parameters + 1);
  if (in(cells.adjustables, kMaxAdjustables))
    return "A" + std::to_string(cell - cells.adjustables + 1);
  if (in(constants.value, kMaxConstants))
    return "C" + std::to_string(cell - constants.value + 1);
  if (cell == &cells.time) return "T";
  if (cell == &c.function_value) return "fc";
  for (int32_t i = 0; i < c.stop; ++i)
    if (c.fonction[i] == Op_Call && cell == &c.donnee[i].call->result)
      return "R" + std::to_string(i);
  return "?";
}

// "First F1; Mul P2"; a call shows its nested program in braces.
std::string Describe(const compil& c) {
  static const char* const kOps[] = {"Load", "First", "FirstNeg", "Add", "Sub", "Mul",
                                     "Div",  "Pow",   "Ln",       "Exp", "Call"};
  std::string out;
  for (int32_t i = 0; i < c.stop; ++i) {
    if (i > 0) out += "; ";
    if (c.fonction[i] == Op_Call) {
      out += "Call{" + Describe(*c.donnee[i].call) + "}";
    } else {
      out += std::string(kOps[c.fonction[i]]) + " " + OperandName(c, c.donnee[i].cell);
    }
  }
  return out;
}

struct Compiled {
  compilptr record;
  int faults;
  ~Compiled() { Release(record); }
};

Compiled Comp(const Text& coded, const InlineTable* bindings = nullptr) {
  compilptr c = NewCompil();
  int16_t faults = 0;
  Compile(cells, coded, c, faults, bindings);
  return {c, faults};
}

// EqualTo expressions for the inline tests; every handle starts as an empty record.
struct Equations {
  Text text[kMaxAdjustables];
  compilptr equation[kMaxAdjustables] = {};
  InlineTable table{};
  Equations() {
    for (int a = 0; a < kMaxAdjustables; ++a) {
      table.text[a] = &text[a];
      table.equation[a] = &equation[a];
    }
  }
  ~Equations() {
    for (compilptr e : equation) Release(e);
  }
  void Bind(int n, const Text& coded) {
    text[n - 1] = coded;
    equation[n - 1] = NewCompil();
  }
};

// Every slot reads something and every call has a record; then run and free it (under the
// sanitizers this proves that nothing outside the engine state is touched).
void ExpectSafe(const compil& c, const std::string& label) {
  ASSERT_GE(c.stop, 0) << label;
  ASSERT_LE(c.stop, kMaxSlots) << label;
  for (int32_t i = 0; i < c.stop; ++i) {
    ASSERT_LT(c.fonction[i], Op_Count) << label;
    if (c.fonction[i] == Op_Call) {
      ASSERT_NE(c.donnee[i].call, nullptr) << label;
      ExpectSafe(*c.donnee[i].call, label);
    } else {
      ASSERT_NE(c.donnee[i].cell, nullptr) << label;
    }
  }
}

double EvaluateOrNan(compilptr c) {
  try {
    return Evaluate(c);
  } catch (const Failure&) {
    return std::nan("");
  }
}

TEST(Compile, SlotPatterns) {
  struct Case {
    const char* coded;
    const char* slots;
  };
  const Case cases[] = {
      {"+Fa", "First F1"},
      {"-Fa*Pb+Ca", "FirstNeg F1; Mul P2; Add C1"},
      {"+Fa-Pb/Tq", "First F1; Sub P2; Div T"},
      {"Fa*Pa", "First F1; Mul P1"},  // no sign: the first character is not consumed
      {"+Fa^Ca^Cb", "Load F1; Pow C1; Load fc; Pow C2; First fc"},
      {"+Ca*Fa^(+Fb^Cb)", "First C1; Load F1; Call{Load F2; Pow C2; First fc}; Pow R2; Mul fc"},
      {"+(Fa+Fb)*Pa", "Call{First F1; Add F2}; First R0; Mul P1"},
      {"(Fa)*Pa", "Call{First F1}; First R0; Mul P1"},
      {"+(Fa)^Cb", "Call{First F1}; Load R0; Pow C2; First fc"},
      {"+Pa-(Fa)^Cb", "First P1; Call{First F1}; Load R1; Pow C2; Sub fc"},
      {"+ex(Fa)", "Call{First F1}; Exp R0; First fc"},
      {"+EX(Fa)", "Call{First F1}; Exp R0; First fc"},
      {"-LN(Ta)", "Call{First T}; Ln R0; FirstNeg fc"},
      {"+Fa*EX(Fb)", "First F1; Call{First F2}; Exp R1; Mul fc"},
      {"+Fa-lN(Fb)/Pc", "First F1; Call{First F2}; Ln R1; Sub fc; Div P3"},
      {"+EX(Fa)^Cb", "Call{First F1}; Exp R0; Load fc; Pow C2; First fc"},
      {"+Fa^(EX(Fb))", "Load F1; Call{Call{First F2}; Exp R0; First fc}; Pow R1; First fc"},
      {"+Fa+", "First F1"},          // a lone last character is never read
      {"+Fa+(Fb))", "First F1; Call{First F2}; Add R1"},
      {"+(Fa+Fb", "Call{First F1; Add F2}; First R0"},  // unbalanced: the group runs to the end
      {"+(+(Fa))", "Call{Call{First F1}; First R0}; First R0"},
  };
  for (const Case& c : cases) {
    const Compiled r = Comp(T16(c.coded));
    EXPECT_EQ(r.faults, 0) << c.coded;
    EXPECT_EQ(Describe(*r.record), c.slots) << c.coded;
  }
  const Compiled last = Comp(Text{u'+', u'C', IndexChar(kMaxConstants)});
  EXPECT_EQ(Describe(*last.record), "First C255");
}

TEST(Compile, ValuesOfTheDocumentedTexts) {
  cells.species[0] = 1.5;
  cells.species[1] = 2.0;
  cells.parameters[0] = -3.0;
  cells.parameters[1] = 4.0;
  constants.value[0] = 2.0;
  constants.value[1] = 3.0;
  const double f1 = 1.5, f2 = 2.0, p1 = -3.0, p2 = 4.0, c1 = 2.0, c2 = 3.0;
  struct Case {
    const char* coded;
    double value;
  };
  const Case cases[] = {
      {"+Fa", f1},
      {"-Fa*Pb+Ca", -f1 * p2 + c1},
      {"+Fa^Ca^Cb", std::pow(std::pow(f1, c1), c2)},
      {"+Ca*Fa^(+Fb^Cb)", c1 * std::pow(f1, std::pow(f2, c2))},
      {"+(Fa+Fb)*Pa", (f1 + f2) * p1},
      {"+ex(Fa)", std::exp(f1)},
      {"+Pa-LN(Fb)*Ca", p1 - std::log(f2) * c1},
      {"+Fa/Pa-Fb/Fb", f1 / p1 - 1.0},
  };
  for (const Case& c : cases) {
    const Compiled r = Comp(T16(c.coded));
    ASSERT_EQ(r.faults, 0) << c.coded;
    EXPECT_DOUBLE_EQ(Evaluate(r.record), c.value) << c.coded;
  }
}

TEST(Compile, Faults) {
  struct Case {
    Text coded;
    int faults;
  };
  const Case cases[] = {
      {u"", 1},
      {u"+", 1},
      {u"+()", 1},
      {u"+Fa*()", 1},
      {u"+Qa", 1},
      {u"+Fa,Fb", 2},        // the comma in operator position, then in operand position
      {u"+FaCa", 1},         // in operand position the C starts an operand: one fault
      {u"+Fa+(Fb))*Pa", 2},
      {u"+EY(Fa)", 1},
      {u"+ex", 1},
      {u"+E", 1},            // function letter ending the text
      {u"+Fa+E", 1},
      {u"+Fa^EX(Fb)", 1},    // function call straight after the power sign
      {u"+FaEX(Fb)", 1},     // function call straight after an operand
      {u"+(Fa)LN(Fb)", 1},
      {u"+LN(", 1},          // the argument is empty
      {u"+Fa^,", 1},
      {u"+(Fa,Fb)", 2},      // nested faults count too
      {u"+F`", 1},           // index 0
      {u"+F", 1},            // no index character
      {u"+F_", 1},           // index -1
      {Text{u'+', u'F', IndexChar(kMaxSpecies + 1)}, 1},
      {Text{u'+', u'P', IndexChar(kMaxParameters + 1)}, 1},
      {Text{u'+', u'A', IndexChar(kMaxAdjustables + 1)}, 1},
      {Text{u'+', u'C', kOverflowIndex}, 1},  // the token of a full constant table
      {Text{u'+', u'F', IndexChar(kMaxSpecies)}, 0},
      {Text{u'+', u'P', IndexChar(kMaxParameters)}, 0},
      {Text{u'+', u'A', IndexChar(kMaxAdjustables)}, 0},
      {u"+Fa*Ca^", 0},       // the lone power sign at the end is never read
  };
  for (const Case& c : cases) {
    std::string label(c.coded.begin(), c.coded.end());
    const Compiled r = Comp(c.coded);
    EXPECT_EQ(r.faults, c.faults) << label;
    ExpectSafe(*r.record, label);
    EvaluateOrNan(r.record);
  }
}

TEST(Compile, CounterIsAddedToAndTargetRecompiled) {
  compilptr c = NewCompil();
  int16_t faults = 5;
  Compile(cells, u"+(Fa)", c, faults, nullptr);  // the caller's count stops the loop, not the lead
  EXPECT_EQ(faults, 5);
  Compile(cells, u"+(Fb)*(Fc)", c, faults, nullptr);
  EXPECT_EQ(faults, 5);
  EXPECT_EQ(Describe(*c), "Call{First F2}; First R0");
  faults = 0;
  Compile(cells, u"+Qa", c, faults, nullptr);  // the earlier nested record is released first
  EXPECT_EQ(faults, 1);
  Release(c);

  int16_t counter = 0;
  Compile(cells, u"+Fa", nullptr, counter, nullptr);
  EXPECT_EQ(counter, 1);
}

std::string Repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

// 256 slots fit; a formula that needs more is a fault and nothing is written past the last
// slot, whichever construct crosses the limit.
TEST(Compile, SlotLimit) {
  cells.species[0] = 1.25;
  cells.species[1] = 1.0;
  struct Case {
    std::string coded;
    int faults;
    int32_t stop;
  };
  const Case cases[] = {
      {Repeat("+Fa", 256), 0, 256},
      {Repeat("+Fa", 257), 1, 256},
      {"+Fb" + Repeat("^Fb", 127), 0, 255},
      {"+Fb" + Repeat("^Fb", 128), 1, 256},
      {Repeat("+Fa", 254) + "^Fb", 0, 256},
      {Repeat("+Fa", 255) + "^Fb", 1, 256},
      {Repeat("+Fa", 254) + "+(Fb)", 0, 256},
      {Repeat("+Fa", 255) + "+(Fb)", 1, 256},
      {Repeat("+Fa", 253) + "+EX(Fb)", 0, 256},
      {Repeat("+Fa", 254) + "+EX(Fb)", 1, 256},
      {Repeat("+Fa", 255) + "+EX(Fb)", 1, 256},
      {Repeat("+Fa", 254) + "*(Fb)^Fb", 1, 256},
  };
  for (const Case& c : cases) {
    const Compiled r = Comp(T16(c.coded));
    EXPECT_EQ(r.faults, c.faults) << c.coded.size();
    EXPECT_EQ(r.record->stop, c.stop) << c.coded.size();
    ExpectSafe(*r.record, c.coded);
    if (c.faults == 0) {
      EXPECT_GT(Evaluate(r.record), 0.0);
    }
  }
  const Compiled full = Comp(T16(Repeat("+Fa", 256)));
  EXPECT_DOUBLE_EQ(Evaluate(full.record), 256 * 1.25);
}

TEST(Compile, NestingLimit) {
  cells.species[0] = 2.5;
  for (int depth : {1, kMaxNesting, kMaxNesting + 1, 10000}) {
    const std::string coded = "+" + std::string(static_cast<size_t>(depth), '(') + "Fa" +
                              std::string(static_cast<size_t>(depth), ')');
    const Compiled r = Comp(T16(coded));
    EXPECT_EQ(r.faults, depth <= kMaxNesting ? 0 : 1) << depth;
    ExpectSafe(*r.record, std::to_string(depth));
    if (depth <= kMaxNesting) {
      EXPECT_EQ(Evaluate(r.record), 2.5);
    }
  }
}

TEST(Compile, EqualToInlining) {
  cells.adjustables[0] = 3.0;
  cells.species[0] = 0.5;
  constants.value[1] = 2.0;
  Equations eq;
  eq.Bind(2, u"+Aa*Cb");
  const Compiled r = Comp(u"+Ab*Fa+Ab", &eq.table);
  EXPECT_EQ(r.faults, 0);
  EXPECT_EQ(Describe(*r.record),
            "Call{First A1; Mul C2}; First R0; Mul F1; Call{First A1; Mul C2}; Add R3");
  EXPECT_NE(r.record->donnee[0].call, r.record->donnee[3].call);  // a copy per reference
  EXPECT_NE(r.record->donnee[0].call, eq.equation[1]);
  EXPECT_DOUBLE_EQ(Evaluate(r.record), 3.0 * 2.0 * 0.5 + 3.0 * 2.0);
  EXPECT_EQ(CountRefs(&cells.adjustables[0], r.record), 2);
  EXPECT_NE(eq.equation[1], nullptr);

  // Without an expression, or without a handle, an adjustable is its plain value.
  const Compiled plain = Comp(u"+Ac", &eq.table);
  EXPECT_EQ(Describe(*plain.record), "First A3");
  eq.text[2] = u"+Fa";  // a text but no handle
  const Compiled no_handle = Comp(u"+Ac", &eq.table);
  EXPECT_EQ(Describe(*no_handle.record), "First A3");
  const Compiled unbound = Comp(u"+Ab");
  EXPECT_EQ(Describe(*unbound.record), "First A2");
}

// A refused inline expression leaves the adjustable a plain value: its handle is cleared and
// its records are freed (the leak checker of the sanitizer build watches that).
TEST(Compile, EqualToFaultsAndCycles) {
  struct Case {
    std::vector<std::pair<int, Text>> bound;
    const char* formula;
    int faults;
    const char* slots;
    std::vector<int> cleared;  // handles cleared by the compilation
  };
  const Case cases[] = {
      {{{2, u"+Qa"}}, "+Ab*Fa", 1, "First A2", {2}},
      {{{1, u"+Aa*Cb"}}, "+Aa", 1, "First A1", {1}},                 // self-reference
      {{{1, u"+(Fa+Aa)"}}, "+Pa-Aa", 1, "First P1; Sub A1", {1}},    // nested self-reference
      {{{1, u"+Ab"}, {2, u"+Aa"}}, "+Aa+Fa", 1, "First A1", {1}},  // the loop stops
      {{{1, u"+Ab"}, {2, u"+Aa"}}, "+Ab", 1, "First A2", {2}},
      {{{1, u"+Ab"}, {2, u"+Ac"}, {3, u"+Aa*Cb"}}, "+Ab", 1, "First A2", {2}},
      {{{1, u"+Ab+Ac"}, {2, u"+Ac"}, {3, u"+Fa"}}, "+Aa",
       0, "Call{Call{Call{First F1}; First R0}; First R0; Call{First F1}; Add R2}; First R0", {}},
      // The missing operator is the formula's fault, not the expression's: it stays bound.
      {{{2, u"+Fa"}}, "+Fa(Ab)", 1, "First F1; Call{Call{First F1}; First R0}; Load R1", {}},
  };
  for (const Case& c : cases) {
    Equations eq;
    for (const auto& [n, text] : c.bound) eq.Bind(n, text);
    const Compiled r = Comp(T16(c.formula), &eq.table);
    EXPECT_EQ(r.faults, c.faults) << c.formula;
    EXPECT_EQ(Describe(*r.record), c.slots) << c.formula;
    for (const auto& [n, text] : c.bound) {
      const bool cleared = std::find(c.cleared.begin(), c.cleared.end(), n) != c.cleared.end();
      EXPECT_EQ(eq.equation[n - 1] == nullptr, cleared) << c.formula << " A" << n;
    }
  }
}

// Set-up compiles an EqualTo expression into its own record and then counts the references to
// its own adjustable: a self-reference, or a cycle back to it, reaches that count instead of
// recursing, and the record is kept for release.
TEST(Compile, EqualToCompiledIntoItsOwnRecord) {
  struct Case {
    std::vector<std::pair<int, Text>> bound;
    int faults;
    int self_references;
  };
  const Case cases[] = {
      {{{1, u"+Aa*Cb"}}, 0, 1},
      {{{1, u"+Aa*Aa-(Aa)"}}, 0, 3},
      {{{1, u"+Ab"}, {2, u"+Aa"}}, 0, 1},
      {{{1, u"+Ab*Ac"}, {2, u"+Ac"}, {3, u"+Ab"}}, 1, 0},  // the cycle 2-3 is refused inside
      {{{1, u"+Ab"}, {2, u"+Fa"}}, 0, 0},
  };
  for (const Case& c : cases) {
    Equations eq;
    for (const auto& [n, text] : c.bound) eq.Bind(n, text);
    int16_t faults = 0;
    Compile(cells, eq.text[0], eq.equation[0], faults, &eq.table);
    EXPECT_EQ(faults, c.faults) << eq.text[0].size();
    ASSERT_NE(eq.equation[0], nullptr);
    EXPECT_EQ(CountRefs(&cells.adjustables[0], eq.equation[0]), c.self_references);
    ExpectSafe(*eq.equation[0], "own record");
  }
}

TEST(Compile, InlineChainAcrossAllAdjustables) {
  cells.species[0] = 7.0;
  Equations eq;
  for (int a = 1; a < kMaxAdjustables; ++a)
    eq.Bind(a, Text{u'+', u'A', IndexChar(a + 1)});
  eq.Bind(kMaxAdjustables, u"+Fa");
  const Compiled r = Comp(u"+Aa", &eq.table);
  EXPECT_EQ(r.faults, 0);
  EXPECT_EQ(Evaluate(r.record), 7.0);
  // Closing the chain into a ring: the first adjustable is refused.
  eq.text[kMaxAdjustables - 1] = u"+Aa";
  const Compiled ring = Comp(u"+Aa", &eq.table);
  EXPECT_EQ(ring.faults, 1);
  EXPECT_EQ(eq.equation[0], nullptr);
}

// Round trip: generated host formulas, tokenized and compiled, evaluate to the value the test
// computes from the same expression with the evaluator's rules (left-to-right sums and
// products, guarded division, logarithm and exponential).
class FormulaGenerator {
 public:
  explicit FormulaGenerator(uint32_t seed) : rng_(seed) {}

  struct Piece {
    std::string text;
    double value;
  };

  double vars[8];  // F1 F2 F3 P1 P2 T A1 A2(bound: F1*P1+0.5)
  bool raises = false;

  void NewValues() {
    // Mostly small integers, so that most powers of negative bases stay defined.
    for (double& v : vars) v = Pick(4) == 0 ? (Pick(501) - 200) / 100.0 : Pick(9) - 3.0;
    vars[7] = (0.0 + vars[0] * vars[3]) + 0.5;
    cells.species[0] = vars[0];
    cells.species[1] = vars[1];
    cells.species[2] = vars[2];
    cells.parameters[0] = vars[3];
    cells.parameters[1] = vars[4];
    cells.time = vars[5];
    cells.adjustables[0] = vars[6];
    cells.adjustables[1] = -99.0;  // bound: never read
    raises = false;
  }

  Piece Expr(int depth) {
    Piece out{"", 0.0};
    const int terms = 1 + Pick(depth > 0 ? 2 : 3);
    for (int i = 0; i < terms; ++i) {
      const bool minus = Pick(3) == 0;
      Piece t = Term(depth, minus);
      if (i > 0 || minus) out.text += minus ? "-" : "+";
      if (i == 0 && !minus && Pick(2) == 0) out.text += "+";
      out.text += t.text;
      out.value = out.value + t.value;
    }
    return out;
  }

 private:
  int Pick(int n) { return static_cast<int>(rng_() % static_cast<uint32_t>(n)); }

  Piece Var() {
    static const char* const kNames[] = {"F1", "F2", "F3", "P1", "P2", "T", "A1", "A2"};
    const int i = Pick(8);
    return {kNames[i], vars[i]};
  }

  Piece Number() {
    static const char* const kNumbers[] = {"0.5", "1", "2", "3", "1.5", "2.25", "10", "0.1",
                                           "7E-1", ".25"};
    const char* text = kNumbers[Pick(10)];
    return {text, std::stod(text)};
  }

  double Pow(double b, double e) {
    try {
      return Power(b, e);
    } catch (const Failure&) {
      raises = true;
      return 0.0;
    }
  }

  Piece Factor(int depth) {
    const int kind = depth >= 2 ? Pick(2) : Pick(6);
    Piece p{"", 0.0};
    switch (kind) {
      case 0: p = Var(); break;
      case 1: return Number();  // never a power base: a sign before it would join the number
      case 2: p = Expr(depth + 1); p.text = "(" + p.text + ")"; break;
      case 3: {
        Piece g = Expr(depth + 1);
        p = {"EX(" + g.text + ")", std::fabs(g.value) < kTiny ? 1.0 : std::exp(g.value)};
        break;
      }
      case 4: {
        Piece g = Expr(depth + 1);
        p = {"ln(" + g.text + ")", g.value > kTiny ? std::log(g.value) : std::log(kTiny)};
        break;
      }
      default: p = Var(); break;
    }
    for (int n = Pick(5) == 0 ? 1 + Pick(2) : 0; n > 0; --n) {
      static const char* const kExponents[] = {"2", "3", "1", "4", "0.5"};
      const char* number = kExponents[Pick(5)];
      Piece e = Pick(3) == 0 ? Var() : Piece{number, std::stod(number)};
      if (depth < 2 && Pick(5) == 0) {
        e = Expr(depth + 1);
        e.text = "(" + e.text + ")";
      }
      p = {p.text + "^" + e.text, Pow(p.value, e.value)};
    }
    return p;
  }

  Piece Term(int depth, bool negative) {
    Piece t = Factor(depth);
    if (negative) t.value = 0.0 - t.value;
    for (int n = Pick(3); n > 0; --n) {
      Piece f = Factor(depth);
      if (Pick(2) == 0) {
        t = {t.text + "*" + f.text, f.value * t.value};
      } else {
        t = {t.text + "/" + f.text,
             std::fabs(f.value) > kTiny ? t.value / f.value : kSubstituteQuotient};
      }
    }
    return t;
  }

  std::mt19937 rng_;
};

TEST(Compile, RoundTripAgainstDirectValues) {
  ResetConstants(constants);
  Equations eq;
  int16_t error = 0;
  eq.text[1] = u"F1*P1+0.5";
  Tokenize(eq.text[1], error, constants);
  ASSERT_EQ(error, 0);
  eq.equation[1] = NewCompil();

  FormulaGenerator gen(20240611);
  int compared = 0;
  for (int i = 0; i < 3000; ++i) {
    gen.NewValues();
    const FormulaGenerator::Piece p = gen.Expr(0);
    Text coded = T16(p.text);
    Tokenize(coded, error, constants);
    ASSERT_EQ(error, 0) << p.text;
    const Compiled r = Comp(coded, &eq.table);
    ASSERT_EQ(r.faults, 0) << p.text;
    bool raised = false;
    double value = 0.0;
    try {
      value = Evaluate(r.record);
    } catch (const Failure& f) {
      raised = f.kind == FailureKind::InvalidOperation;
    }
    ASSERT_EQ(raised, gen.raises) << p.text;
    if (raised) continue;
    if (std::isnan(p.value)) {
      EXPECT_TRUE(std::isnan(value)) << p.text;
    } else {
      EXPECT_EQ(value, p.value) << p.text;
    }
    ++compared;
  }
  EXPECT_GT(compared, 2000);
}

// Malformed input of every kind, tokenized or not: nothing crashes, every record stays within
// its slots and is safe to evaluate and release, and the constant table never grows past its
// last slot (the sanitizer build checks every access).
TEST(Compile, MalformedInputIsSafe) {
  ResetConstants(constants);
  Equations eq;
  eq.Bind(1, u"+Ab");
  eq.Bind(2, u"+Aa*Cb");
  eq.Bind(3, u"+Qa");

  std::vector<std::string> texts = {
      std::string(10000, '('), std::string(10000, ')'), Repeat("F1+", 3334),
      Repeat("EX(", 3334),     Repeat("LN(F1)^", 1429), std::string(10000, '-'),
      std::string(10000, '^'), std::string(10000, '1'), Repeat("1.", 5000),
      Repeat("(F1", 3334),     Repeat("A1*A2+A3/", 1112), Repeat("ex", 5000),
      "((((F1+)))*(", ")(", "^F1", "*", "F1^^2", "EX()", "LN", "2E", "(-)", ",,,",
  };
  std::string distinct;
  for (int i = 1; i <= 300; ++i) distinct += "+" + std::to_string(i) + ".5";
  texts.push_back(distinct);

  std::mt19937 rng(7);
  const std::string alphabet = "+-*/^()(),.0123456789EeXxLlNnAFPCQTafp  \t";
  for (int i = 0; i < 3000; ++i) {
    std::string s;
    const size_t length = rng() % (i < 2990 ? 60 : 10000);
    for (size_t k = 0; k < length; ++k) s.push_back(alphabet[rng() % alphabet.size()]);
    texts.push_back(s);
  }

  for (size_t i = 0; i < texts.size(); ++i) {
    if (i % 50 == 0) {  // re-arm the bindings that earlier texts cleared
      for (int a = 1; a <= 3; ++a)
        if (!eq.equation[a - 1]) eq.equation[a - 1] = NewCompil();
    }
    Text host = T16(texts[i]);
    if (i % 7 == 3) host.push_back(char16_t(0x160 + (i % 40)));  // codes above 0xFF
    Text coded = host;
    int16_t error = 0;
    Tokenize(coded, error, constants);
    ASSERT_GE(error, 0);
    ASSERT_LE(constants.count, kMaxConstants + 1);
    for (const Text* t : {&coded, &host}) {
      const Compiled r = Comp(*t, &eq.table);
      ASSERT_GE(r.faults, 0);
      ExpectSafe(*r.record, texts[i].substr(0, 40));
      EvaluateOrNan(r.record);
    }
  }
  // The 300 distinct numbers overflow the table: the formula that needed the 256th is refused.
  ResetConstants(constants);
  Text coded = T16(distinct);
  int16_t error = 0;
  Tokenize(coded, error, constants);
  EXPECT_EQ(error, 0);
  EXPECT_EQ(constants.count, kMaxConstants + 1);
  const Compiled r = Comp(coded);
  EXPECT_GE(r.faults, 1);
}

}  // namespace
}  // namespace tarvo
