// Simplification never changes a formula's value, on generated host formulas: sums,
// products, quotients, chained powers, EX and LN in either letter case, negative numbers,
// the constants 0 and 1, repeated variables within one product, nested groups and the
// indices 5 and 12. Each formula is tokenized, compiled as it is and compiled simplified,
// and both programs are evaluated at several random assignments of the value cells.
//
// A generated formula is also a small tree that this test evaluates itself, tracking for
// every value the magnitude its rounding errors scale with. That gives the tolerance for
// formulas that cancel, and it rejects assignments where a rounding difference could cross
// a discontinuity of the evaluator: a divisor or logarithm argument near zero, a power base
// near zero, an exponent of a negative base near a whole number. Its value is also checked
// against the unsimplified program, which keeps the generator honest.
//
// Then malformed text, random and mutated, must never crash Simplify or make it read
// outside its text (the sanitizer build checks the reads).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "Symbolic/cells.h"
#include "Symbolic/compil.h"
#include "Symbolic/compiler.h"
#include "Symbolic/primitives.h"
#include "Symbolic/simplify.h"
#include "Symbolic/tokenizer.h"
#include "platform/failure.h"

using namespace tarvo;

namespace {

// The value cells and constant table every formula of this file is compiled against.
FormulaCells cells;
ConstantTable& constants = cells.constants;


#if defined(__SANITIZE_ADDRESS__)
constexpr int kMalformed = 6000;
#else
constexpr int kMalformed = 20000;
#endif
constexpr int kFormulas = 10000;
constexpr int kAssignments = 4;

struct Variable {
  const char* name;
  double* cell;
};

const Variable kVariables[] = {
    {"F1", &cells.species[0]},      {"F2", &cells.species[1]},
    {"F5", &cells.species[4]},      {"F12", &cells.species[11]},
    {"P1", &cells.parameters[0]},   {"P5", &cells.parameters[4]},
    {"P12", &cells.parameters[11]}, {"A1", &cells.adjustables[0]},
    {"A5", &cells.adjustables[4]},  {"T", &cells.time},
};
constexpr int kVariableCount = sizeof kVariables / sizeof kVariables[0];

struct Number {
  const char* text;
  double value;
};
const Number kNumbers[] = {{"0", 0.0},    {"1", 1.0},     {"2", 2.0},   {"3", 3.0},
                           {"0.5", 0.5},  {"1.5", 1.5},   {"2.5", 2.5}, {"8.314", 8.314},
                           {"0.25", 0.25}, {"10", 10.0},  {"1E-1", 0.1}, {"4", 4.0}};
constexpr int kNumberCount = sizeof kNumbers / sizeof kNumbers[0];
const Number kWholeExponents[] = {{"0", 0.0}, {"1", 1.0}, {"2", 2.0}, {"3", 3.0}};
const Number kFractionalExponents[] = {{"0.5", 0.5}, {"1.5", 1.5}};

// ---- Formula trees ------------------------------------------------------------------------

struct Expr;

struct Primary {
  enum Kind { Var, Num, Group, Func } kind = Var;
  int variable = 0;
  const Number* number = nullptr;
  bool negative = false;         // a number written with its minus
  std::shared_ptr<Expr> inner;   // Group and Func
  bool exponential = true;       // Func: EX or LN
  std::string function_name;     // as written: EX, eX, ln, ...
};

struct Factor {
  char op = '*';  // how it joins the factor before it (ignored for the first)
  Primary base;
  std::vector<Primary> exponents;
};

struct Term {
  bool minus = false;
  std::vector<Factor> factors;
};

struct Expr {
  std::vector<Term> terms;
};

class Generator {
 public:
  explicit Generator(uint64_t seed) : rng_(seed) {}

  Expr Formula() { return MakeExpr(3); }
  std::mt19937_64& rng() { return rng_; }

 private:
  int Pick(int n) { return static_cast<int>(rng_() % static_cast<uint64_t>(n)); }
  bool Chance(int percent) { return Pick(100) < percent; }

  Expr MakeExpr(int depth) {
    Expr e;
    const int terms = 1 + Pick(depth >= 2 ? 3 : 2);
    for (int t = 0; t < terms; ++t) e.terms.push_back(MakeTerm(depth));
    return e;
  }

  Term MakeTerm(int depth) {
    Term t;
    // A few variables per product, so that the same one often comes back.
    const int pool[2] = {Pick(kVariableCount), Pick(kVariableCount)};
    const int factors = 1 + Pick(4);
    for (int f = 0; f < factors; ++f) {
      Factor x;
      x.op = f == 0 ? '*' : (Chance(45) ? '/' : '*');
      x.base = MakePrimary(depth, pool, x.op == '/' && f > 0);
      if (Chance(25)) x.exponents.push_back(MakeExponent(depth));
      if (Chance(5)) x.exponents.push_back(MakeExponent(depth));
      t.factors.push_back(std::move(x));
    }
    // A number that opens a term carries the term's minus itself («F1-2*F2» is F1 + (-2)*F2,
    // and «F1-2^2» is F1 + (-2)^2).
    if (t.factors[0].base.kind == Primary::Num) {
      t.factors[0].base.negative = Chance(30);
    } else {
      t.minus = Chance(35);
    }
    return t;
  }

  Primary MakePrimary(int depth, const int* pool, bool divisor) {
    Primary p;
    const int roll = Pick(100);
    if (depth > 0 && roll < 14) {
      p.kind = Primary::Group;
      p.inner = std::make_shared<Expr>(MakeExpr(depth - 1));
    } else if (depth > 0 && roll < 24) {
      p.kind = Primary::Func;
      p.exponential = Chance(50);
      static const char* const kExp[] = {"EX", "Ex", "eX", "ex"};
      static const char* const kLn[] = {"LN", "Ln", "lN", "ln"};
      p.function_name = p.exponential ? kExp[Pick(4)] : kLn[Pick(4)];
      p.inner = std::make_shared<Expr>(MakeExpr(depth - 1));
    } else if (roll < 42) {
      p.kind = Primary::Num;
      do {
        p.number = &kNumbers[Pick(kNumberCount)];
      } while (divisor && p.number->value == 0.0);  // keep divisors away from zero
      p.negative = Chance(8);
    } else {
      p.kind = Primary::Var;
      p.variable = Chance(80) ? pool[Pick(2)] : Pick(kVariableCount);
    }
    return p;
  }

  Primary MakeExponent(int depth) {
    Primary p;
    const int roll = Pick(100);
    if (roll < 40) {
      p.kind = Primary::Num;
      p.number = &kWholeExponents[Pick(4)];
      p.negative = Chance(30);
    } else if (roll < 55) {
      p.kind = Primary::Num;
      p.number = &kFractionalExponents[Pick(2)];
      p.negative = Chance(30);
    } else if (roll < 80 || depth == 0) {
      p.kind = Primary::Var;
      p.variable = Pick(kVariableCount);
    } else {
      p.kind = Primary::Group;
      p.inner = std::make_shared<Expr>(MakeExpr(depth - 1));
    }
    return p;
  }

  std::mt19937_64 rng_;
};

// ---- Host text ----------------------------------------------------------------------------

std::string Render(const Expr& e);

// A number is written bare only where the tokenizer reads it as written: a minus just before
// a digit always becomes the number's own sign.
std::string RenderNumber(const Primary& p, bool bare) {
  if (p.negative) return bare ? std::string("-") + p.number->text
                              : std::string("(-") + p.number->text + ")";
  return p.number->text;
}

std::string RenderPrimary(const Primary& p, bool bare_minus_ok) {
  switch (p.kind) {
    case Primary::Var: return kVariables[p.variable].name;
    case Primary::Num: return RenderNumber(p, bare_minus_ok);
    case Primary::Group: return "(" + Render(*p.inner) + ")";
    case Primary::Func: return p.function_name + "(" + Render(*p.inner) + ")";
  }
  return "";
}

std::string RenderExponent(const Primary& p) {
  // A function as an exponent must be bracketed; a group already is.
  return RenderPrimary(p, false);
}

std::string Render(const Expr& e) {
  std::string out;
  for (size_t t = 0; t < e.terms.size(); ++t) {
    const Term& term = e.terms[t];
    const Primary& first = term.factors[0].base;
    if (first.kind == Primary::Num) {
      // The term's sign is the number's: "-2" opens the term, "+2" (or nothing first).
      if (t > 0 && !first.negative) out += "+";
    } else if (term.minus) {
      out += "-";
    } else if (t > 0) {
      out += "+";
    }
    for (size_t f = 0; f < term.factors.size(); ++f) {
      const Factor& x = term.factors[f];
      if (f > 0) out += x.op;
      out += RenderPrimary(x.base, f == 0);
      for (const Primary& ex : x.exponents) out += "^" + RenderExponent(ex);
    }
  }
  return out;
}

// ---- Reference evaluation -----------------------------------------------------------------

// A value, the magnitude that its rounding errors scale with, and whether it is computed
// exactly in any order (small binary fractions of constants only).
struct Val {
  double v = 0.0;
  double s = 0.0;
  bool exact = false;
};

struct Verdict {
  bool reject = false;  // a rounding difference could cross a discontinuity
  bool raises = false;  // the power of a negative base to a fractional exponent
};

// The constant table holds one zero for every formula, and its sign is the sign of the zero
// written last («-0» in a host text stores -0.0 over it). The sign shows in 0^-1.
double StoredZero() {
  for (int32_t i = 0; i + 1 < constants.count; ++i)
    if (constants.value[i] == 0.0) return constants.value[i];
  return 0.0;
}

bool Dyadic(double v) { return std::fabs(v) < 1e6 && std::trunc(v * 16.0) == v * 16.0; }

Val Eval(const Expr& e, Verdict& verdict);

Val EvalPrimary(const Primary& p, Verdict& verdict) {
  switch (p.kind) {
    case Primary::Var: {
      const double v = *kVariables[p.variable].cell;
      return {v, std::fabs(v), false};
    }
    case Primary::Num: {
      double v = p.negative ? -p.number->value : p.number->value;
      if (v == 0.0) v = StoredZero();
      return {v, std::fabs(v), Dyadic(v)};
    }
    case Primary::Group: return Eval(*p.inner, verdict);
    case Primary::Func: {
      const Val a = Eval(*p.inner, verdict);
      if (verdict.raises || verdict.reject) return a;
      if (p.exponential) {
        const double v = std::fabs(a.v) < kTiny ? 1.0 : std::exp(a.v);
        return {v, std::fabs(v) * (1.0 + a.s), false};
      }
      if (a.s > 0.0 && std::fabs(a.v) < 1e-6 * a.s) verdict.reject = true;
      if (a.v > kTiny) {
        const double v = std::log(a.v);
        return {v, std::max(std::fabs(v), a.s / a.v), false};
      }
      const double v = std::log(kTiny);
      return {v, std::fabs(v), false};
    }
  }
  return {};
}

Val EvalFactor(const Factor& x, Verdict& verdict) {
  Val b = EvalPrimary(x.base, verdict);
  for (const Primary& ep : x.exponents) {
    if (verdict.raises || verdict.reject) return b;
    const Val e = EvalPrimary(ep, verdict);
    if (verdict.raises || verdict.reject) return b;
    if (b.s > 0.0 && std::fabs(b.v) < 1e-6 * b.s && !b.exact) verdict.reject = true;
    const double whole = std::round(e.v);
    if (b.v < 0.0 && !e.exact && std::fabs(e.v - whole) < 1e-6 * std::max(1.0, e.s))
      verdict.reject = true;
    Val r;
    try {
      r.v = Power(b.v, e.v);
    } catch (const Failure&) {
      verdict.raises = true;
      return b;
    }
    const double lnb = b.v != 0.0 ? std::fabs(std::log(std::fabs(b.v))) : 0.0;
    const double rel_b = b.v != 0.0 ? b.s / std::fabs(b.v) : 0.0;
    r.s = std::fabs(r.v) * (1.0 + std::fabs(e.v) * rel_b + lnb * e.s);
    r.exact = b.exact && e.exact && Dyadic(r.v);
    b = r;
  }
  return b;
}

Val EvalTerm(const Term& t, Verdict& verdict) {
  Val r = EvalFactor(t.factors[0], verdict);
  for (size_t f = 1; f < t.factors.size() && !verdict.raises && !verdict.reject; ++f) {
    const Val x = EvalFactor(t.factors[f], verdict);
    if (verdict.raises || verdict.reject) break;
    if (t.factors[f].op == '*') {
      r = {r.v * x.v, r.s * std::fabs(x.v) + std::fabs(r.v) * x.s,
           r.exact && x.exact && Dyadic(r.v * x.v)};
    } else {
      const double d = std::fabs(x.v);
      if (!(d > 1e-6 * x.s) || d < 1e-100) {
        verdict.reject = true;
        break;
      }
      r = {r.v / x.v, r.s / d + std::fabs(r.v) * x.s / (d * d),
           r.exact && x.exact && Dyadic(r.v / x.v)};
    }
  }
  if (t.minus) r.v = -r.v;
  return r;
}

Val Eval(const Expr& e, Verdict& verdict) {
  Val sum{0.0, 0.0, true};
  for (const Term& t : e.terms) {
    const Val x = EvalTerm(t, verdict);
    if (verdict.raises || verdict.reject) return sum;
    sum = {sum.v + x.v, sum.s + x.s, sum.exact && x.exact && Dyadic(sum.v + x.v)};
  }
  return sum;
}

// ---- Compiled programs --------------------------------------------------------------------

struct Program {
  compilptr c = nullptr;
  int16_t faults = 0;
  explicit Program(const Text& text) : c(NewCompil()) { Compile(cells, text, c, faults, nullptr); }
  ~Program() { Release(c); }
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;
};

int64_t Slots(const compil* c) {
  int64_t n = c->stop;
  for (int32_t i = 0; i < c->stop; ++i)
    if (c->fonction[i] == Op_Call) n += Slots(c->donnee[i].call);
  return n;
}

struct Outcome {
  bool raises = false;
  double value = 0.0;
};

Outcome RunProgram(const Program& p) {
  Outcome o;
  try {
    o.value = Evaluate(p.c);
  } catch (const Failure& f) {
    EXPECT_EQ(f.kind, FailureKind::InvalidOperation);
    o.raises = true;
  }
  return o;
}

bool Agree(double x, double y, double scale) {
  if (!std::isfinite(x) || !std::isfinite(y)) return !std::isfinite(x) && !std::isfinite(y);
  return std::fabs(x - y) <= 1e-9 * std::max({std::fabs(x), std::fabs(y), scale});
}

int CountVariableTokens(const Text& t) {
  int n = 0;
  for (char16_t c : t) n += cls::VariableKinds(c) ? 1 : 0;
  return n;
}

std::string Narrow(const Text& t) {
  std::string s;
  for (char16_t c : t) s += c < 128 ? static_cast<char>(c) : '?';
  return s;
}

// Values of magnitude 0.5 to 2; with negatives only now and then, since a negative base to a
// fractional exponent fails on both sides and then says little about the value.
void Assign(std::mt19937_64& rng, bool with_negatives) {
  std::uniform_real_distribution<double> magnitude(0.5, 2.0);
  std::uniform_int_distribution<int> percent(0, 99);
  for (const Variable& v : kVariables)
    *v.cell = magnitude(rng) * (with_negatives && percent(rng) < 25 ? -1 : 1);
}

TEST(SimplifyProperty, ValueIsKeptAndSlotsDoNotGrow) {
  Generator gen(20240611);
  std::mt19937_64& rng = gen.rng();
  int formulas = 0;
  int64_t attempts = 0, compared = 0, rejected = 0, both_raise = 0, non_finite = 0;
  int64_t slots_before = 0, slots_after = 0, merged_formulas = 0, merge_growth = 0;
  int failures = 0;
  while (formulas < kFormulas && failures < 20 && attempts < 4 * kFormulas) {
    ++attempts;
    ResetConstants(constants);
    const Expr tree = gen.Formula();
    const std::string host = Render(tree);
    Text coded(host.begin(), host.end());
    int16_t error = 0;
    Tokenize(coded, error, constants);
    ASSERT_EQ(error, 0) << host;
    Text simplified = coded;
    Simplify(simplified, constants);

    const Program plain(coded);
    const Program simple(simplified);
    ASSERT_EQ(plain.faults, 0) << host << " -> " << Narrow(coded);
    if (simple.faults != 0) {
      ADD_FAILURE() << "simplified text does not compile: " << host << " -> "
                    << Narrow(simplified);
      ++failures;
      continue;
    }

    bool any = false;
    for (int a = 0; a < kAssignments; ++a) {
      Assign(rng, a >= kAssignments / 2);
      Verdict verdict;
      const Val reference = Eval(tree, verdict);
      if (verdict.reject || (!verdict.raises && std::isfinite(reference.v) &&
                             !std::isfinite(reference.s))) {
        ++rejected;
        continue;
      }
      any = any || !verdict.raises;  // a formula counts once a value was compared
      ++compared;
      const Outcome o = RunProgram(plain);
      const Outcome s = RunProgram(simple);
      bool ok = o.raises == s.raises && o.raises == verdict.raises;
      if (ok && !o.raises) {
        ok = Agree(o.value, s.value, reference.s) && Agree(o.value, reference.v, reference.s);
        non_finite += std::isfinite(o.value) ? 0 : 1;
      }
      both_raise += o.raises && s.raises ? 1 : 0;
      if (!ok) {
        ++failures;
        ADD_FAILURE() << host << "\n  coded      " << Narrow(coded) << "\n  simplified "
                      << Narrow(simplified) << "\n  reference  "
                      << (verdict.raises ? "raises" : std::to_string(reference.v))
                      << "\n  plain      " << (o.raises ? "raises" : std::to_string(o.value))
                      << "\n  simplified " << (s.raises ? "raises" : std::to_string(s.value));
        break;
      }
    }
    if (!any) continue;
    ++formulas;

    const int64_t before = Slots(plain.c);
    const int64_t after = Slots(simple.c);
    slots_before += before;
    slots_after += after;
    // A merged power costs a call to its exponent sum; only merges drop a variable token
    // (besides a 1 raised to a variable, which only saves slots).
    if (CountVariableTokens(simplified) < CountVariableTokens(coded)) {
      ++merged_formulas;
      merge_growth += after > before ? after - before : 0;
    } else if (after > before) {
      ++failures;
      ADD_FAILURE() << "slots grow from " << before << " to " << after << ": " << host
                    << " -> " << Narrow(simplified);
    }
  }
  EXPECT_EQ(formulas, kFormulas);
  std::printf(
      "%d formulas compared on a value (%lld generated), %lld assignments compared, %lld "
      "rejected near a discontinuity, %lld raised on both sides, %lld non-finite on both "
      "sides\n"
      "slots: %lld before, %lld after simplification, %lld saved; %lld formulas merged "
      "powers, growing by %lld slots in all\n",
      formulas, static_cast<long long>(attempts), static_cast<long long>(compared),
      static_cast<long long>(rejected), static_cast<long long>(both_raise),
      static_cast<long long>(non_finite), static_cast<long long>(slots_before),
      static_cast<long long>(slots_after), static_cast<long long>(slots_before - slots_after),
      static_cast<long long>(merged_formulas), static_cast<long long>(merge_growth));
}

// ---- Malformed text -----------------------------------------------------------------------

TEST(SimplifyProperty, MalformedTextStaysInBounds) {
  std::mt19937_64 rng(77);
  auto pick = [&](size_t n) { return static_cast<size_t>(rng() % n); };
  static const char16_t kAlphabet[] = u"+-*/^(),CFPQTAELelXxNnabcz{ 1.";
  const size_t alphabet = sizeof kAlphabet / sizeof kAlphabet[0] - 1;
  Generator gen(99);
  for (int n = 0; n < kMalformed; ++n) {
    ResetConstants(constants);
    for (int k = 1; k <= 6; ++k) ConstName(constants, k == 1 ? 1.0 : k == 2 ? 0.0 : k);
    Text t;
    if (n % 2 == 0) {
      // Random characters, now and then one beyond the index range or past 255.
      const size_t length = pick(40);
      for (size_t k = 0; k < length; ++k) {
        const size_t roll = pick(100);
        t += roll < 3 ? static_cast<char16_t>(0x160 + pick(4)) : kAlphabet[pick(alphabet)];
      }
    } else {
      // A valid coded formula, damaged: characters dropped, inserted or changed, a `C`
      // or a bracket appended.
      const std::string host = Render(gen.Formula());
      t.assign(host.begin(), host.end());
      int16_t error = 0;
      Tokenize(t, error, constants);
      const int damage = 1 + static_cast<int>(pick(3));
      for (int d = 0; d < damage && !t.empty(); ++d) {
        const size_t at = pick(t.size());
        switch (pick(4)) {
          case 0: t.erase(at, 1); break;
          case 1: t.insert(at, 1, kAlphabet[pick(alphabet)]); break;
          case 2: t[at] = kAlphabet[pick(alphabet)]; break;
          default: t += pick(2) ? u'C' : u'('; break;
        }
      }
    }
    const Text input = t;
    Simplify(t, constants);
    ASSERT_TRUE(cls::Signs(At(t, 1))) << Narrow(input) << " -> " << Narrow(t);
    // The result is ready for the compiler, which may refuse it but must not be misled.
    compilptr c = NewCompil();
    int16_t faults = 0;
    Compile(cells, t, c, faults, nullptr);
    Release(c);
  }
}

}  // namespace
