// Compiled formulas assembled slot by slot: every operation and guard of the evaluator, the
// power rules, nesting through Op_Call, CountRefs and Release. The global allocation
// functions of this test program count calls and record frees, so that the tests can see
// that evaluation allocates nothing and in which order Release frees records.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include "Symbolic/cells.h"
#include "Symbolic/compil.h"
#include "platform/failure.h"

using namespace tarvo;

namespace {

long g_allocations = 0;
bool g_record_frees = false;
void* g_freed[64];
int g_freed_count = 0;

void* Allocate(std::size_t n) {
  ++g_allocations;
  return std::malloc(n ? n : 1);
}

void Free(void* p) {
  if (p && g_record_frees && g_freed_count < 64) g_freed[g_freed_count++] = p;
  std::free(p);
}

}  // namespace

void* operator new(std::size_t n) {
  if (void* p = Allocate(n)) return p;
  throw std::bad_alloc();
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return Allocate(n); }
void operator delete(void* p) noexcept { Free(p); }
void operator delete(void* p, std::size_t) noexcept { Free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { Free(p); }

namespace {

// Operand cells of the programs below.
double a = 7.0, b = 3.0, c = 2.0, d = 0.5;
double zero = 0.0, one = 1.0, two = 2.0, three = 3.0, minus_two = -2.0, minus_five = -5.0;
double minus_eight = -8.0, third = 1.0 / 3.0;
double tiny = 1e-130, minus_tiny = -1e-130, above_tiny = 1.0000001e-130, below_tiny = 1e-131;
double minus_below_tiny = -1e-131, not_a_number = std::numeric_limits<double>::quiet_NaN();
double big_exponent = 2147483648.0;
// Stands for the function value of the record being built: Program binds it to the record's
// own field.
double fc = 0.0;

struct SlotSpec {
  Op op;
  const double* cell;
  compil* call;
};
SlotSpec S(Op op, const double& cell) { return {op, &cell, nullptr}; }
SlotSpec Call(compil* nested) { return {Op_Call, nullptr, nested}; }

compilptr Program(std::initializer_list<SlotSpec> slots) {
  compilptr p = NewCompil();
  int i = 0;
  for (const SlotSpec& s : slots) {
    p->fonction[i] = s.op;
    if (s.op == Op_Call)
      p->donnee[i].call = s.call;
    else
      p->donnee[i].cell = s.cell == &fc ? &p->function_value : s.cell;
    ++i;
  }
  p->stop = i;
  return p;
}

struct Owned {
  compilptr p;
  explicit Owned(compilptr q) : p(q) {}
  Owned(const Owned&) = delete;
  ~Owned() { Release(p); }
};

bool SameDouble(double x, double y) {
  return (std::isnan(x) && std::isnan(y)) || std::memcmp(&x, &y, sizeof x) == 0;
}

constexpr double kSubstitute = 9.999999999999999E129;

}  // namespace

TEST(Evaluate, OperationsAndGuards) {
  const double ln_tiny = std::log(1e-130);
  struct Case {
    const char* name;
    std::function<compilptr()> build;
    double expected;
  };
  const Case cases[] = {
      {"single operand", [] { return Program({S(Op_First, a)}); }, 7.0},
      {"leading minus", [] { return Program({S(Op_FirstNeg, a)}); }, -7.0},
      {"a + b", [] { return Program({S(Op_First, a), S(Op_Add, b)}); }, 10.0},
      {"a - b", [] { return Program({S(Op_First, a), S(Op_Sub, b)}); }, 4.0},
      {"-a - b", [] { return Program({S(Op_FirstNeg, a), S(Op_Sub, b)}); }, -10.0},
      {"a * b + c", [] { return Program({S(Op_First, a), S(Op_Mul, b), S(Op_Add, c)}); }, 23.0},
      {"a + b * c", [] { return Program({S(Op_First, a), S(Op_Add, b), S(Op_Mul, c)}); }, 13.0},
      {"a - b * c", [] { return Program({S(Op_First, a), S(Op_Sub, b), S(Op_Mul, c)}); }, 1.0},
      {"a / c", [] { return Program({S(Op_First, a), S(Op_Div, c)}); }, 3.5},
      {"a / b * c - d",
       [] { return Program({S(Op_First, a), S(Op_Div, b), S(Op_Mul, c), S(Op_Sub, d)}); },
       7.0 / 3.0 * 2.0 - 0.5},
      // Division guard: magnitude not above 1E-130, or NaN, gives the substitute quotient,
      // without the dividend's sign.
      {"a / 0", [] { return Program({S(Op_First, a), S(Op_Div, zero)}); }, kSubstitute},
      {"-a / 0", [] { return Program({S(Op_FirstNeg, a), S(Op_Div, zero)}); }, kSubstitute},
      {"0 / 0", [] { return Program({S(Op_First, zero), S(Op_Div, zero)}); }, kSubstitute},
      {"a / NaN", [] { return Program({S(Op_First, a), S(Op_Div, not_a_number)}); }, kSubstitute},
      {"a / 1E-130", [] { return Program({S(Op_First, a), S(Op_Div, tiny)}); }, kSubstitute},
      {"a / -1E-130", [] { return Program({S(Op_First, a), S(Op_Div, minus_tiny)}); },
       kSubstitute},
      {"a / just above 1E-130", [] { return Program({S(Op_First, a), S(Op_Div, above_tiny)}); },
       7.0 / 1.0000001e-130},
      {"b + a / 0 keeps the closed sum",
       [] { return Program({S(Op_First, b), S(Op_Add, a), S(Op_Div, zero)}); },
       3.0 + kSubstitute},
      // Logarithm clamp.
      {"ln 1", [] { return Program({S(Op_Ln, one), S(Op_First, fc)}); }, 0.0},
      {"ln 0", [] { return Program({S(Op_Ln, zero), S(Op_First, fc)}); }, ln_tiny},
      {"ln -5", [] { return Program({S(Op_Ln, minus_five), S(Op_First, fc)}); }, ln_tiny},
      {"ln 1E-130", [] { return Program({S(Op_Ln, tiny), S(Op_First, fc)}); }, ln_tiny},
      {"ln NaN", [] { return Program({S(Op_Ln, not_a_number), S(Op_First, fc)}); }, ln_tiny},
      {"ln just above 1E-130", [] { return Program({S(Op_Ln, above_tiny), S(Op_First, fc)}); },
       std::log(1.0000001e-130)},
      // Exponential of a negligible argument.
      {"exp 1E-131", [] { return Program({S(Op_Exp, below_tiny), S(Op_First, fc)}); }, 1.0},
      {"exp -1E-131", [] { return Program({S(Op_Exp, minus_below_tiny), S(Op_First, fc)}); },
       1.0},
      {"exp 0", [] { return Program({S(Op_Exp, zero), S(Op_First, fc)}); }, 1.0},
      {"exp 2", [] { return Program({S(Op_Exp, two), S(Op_First, fc)}); }, std::exp(2.0)},
      {"exp NaN", [] { return Program({S(Op_Exp, not_a_number), S(Op_First, fc)}); }, not_a_number},
      {"a * ln b", [] { return Program({S(Op_First, a), S(Op_Ln, b), S(Op_Mul, fc)}); },
       7.0 * std::log(3.0)},
      // Powers: the base is the operand loaded by the slot before.
      {"(-2)^3", [] { return Program({S(Op_Load, minus_two), S(Op_Pow, three), S(Op_First, fc)}); },
       -8.0},
      {"2^-2", [] { return Program({S(Op_Load, two), S(Op_Pow, minus_two), S(Op_First, fc)}); },
       0.25},
      {"0^0", [] { return Program({S(Op_Load, zero), S(Op_Pow, zero), S(Op_First, fc)}); }, 1.0},
      {"0^2", [] { return Program({S(Op_Load, zero), S(Op_Pow, two), S(Op_First, fc)}); }, 0.0},
      {"2^2147483648 overflows to infinity",
       [] { return Program({S(Op_Load, two), S(Op_Pow, big_exponent), S(Op_First, fc)}); },
       std::numeric_limits<double>::infinity()},
      {"a + b^c", [] { return Program({S(Op_First, a), S(Op_Load, b), S(Op_Pow, c), S(Op_Add, fc)}); },
       16.0},
      {"a * b^c", [] { return Program({S(Op_First, a), S(Op_Load, b), S(Op_Pow, c), S(Op_Mul, fc)}); },
       63.0},
  };
  for (const auto& cs : cases) {
    SCOPED_TRACE(cs.name);
    Owned p(cs.build());
    const long before = g_allocations;
    const double value = Evaluate(p.p);
    EXPECT_EQ(g_allocations, before) << "evaluation allocated";
    EXPECT_TRUE(SameDouble(value, cs.expected)) << value << " vs " << cs.expected;
  }
  // The substitute quotient is the double just below 1E130.
  EXPECT_EQ(kSubstituteQuotient, kSubstitute);
  EXPECT_EQ(std::nextafter(1e130, 0.0), kSubstitute);
}

// Operation bytes outside the eleven do nothing, and a slot count beyond the record is cut to
// its 256 slots.
TEST(Evaluate, MalformedRecordsStayInsideTheirSlots) {
  for (int code : {static_cast<int>(Op_Count), 15, 16, 200, 255}) {
    Owned p(Program({S(Op_First, a), S(static_cast<Op>(code), b), S(Op_Add, c)}));
    EXPECT_EQ(Evaluate(p.p), 9.0) << "operation byte " << code;
  }
  Owned full(NewCompil());
  full.p->fonction[0] = Op_First;
  full.p->donnee[0].cell = &one;
  for (int i = 1; i < kMaxSlots; ++i) {
    full.p->fonction[i] = Op_Add;
    full.p->donnee[i].cell = &one;
  }
  full.p->stop = 100000;
  EXPECT_EQ(Evaluate(full.p), 256.0);
  EXPECT_EQ(CountRefs(&one, full.p), 256);
  full.p->stop = -1;
  EXPECT_EQ(Evaluate(full.p), 0.0);
  EXPECT_EQ(CountRefs(&one, full.p), 0);
  full.p->stop = 100000;  // Release, too, stays inside the record
}

TEST(Evaluate, PowerRules) {
  struct Case {
    double base, exponent, expected;
  };
  const double inf = std::numeric_limits<double>::infinity();
  const Case cases[] = {
      {5.0, 0.0, 1.0},       {0.0, 0.0, 1.0},          {not_a_number, 0.0, 1.0},
      {-3.0, -0.0, 1.0},     {0.0, 2.0, 0.0},          {0.0, 0.5, 0.0},
      {-2.0, 3.0, -8.0},     {-2.0, 2.0, 4.0},         {2.0, -2.0, 0.25},
      {2.0, 10.0, 1024.0},   {-1.0, 2147483647.0, -1.0}, {2.0, -1.0, 0.5},
      {9.0, 0.5, std::exp(0.5 * std::log(9.0))},     {2.0, 2147483648.0, inf},
      {0.0, -2.0, inf},      {1e200, 2.0, inf},        {2.0, not_a_number, not_a_number},
  };
  for (const auto& cs : cases) {
    SCOPED_TRACE(std::to_string(cs.base) + " ^ " + std::to_string(cs.exponent));
    EXPECT_TRUE(SameDouble(Power(cs.base, cs.exponent), cs.expected))
        << Power(cs.base, cs.exponent);
  }

  // A negative base with a non-integral exponent, or one beyond the 32-bit range, raises.
  const std::pair<double, double> invalid[] = {
      {-8.0, 1.0 / 3.0}, {-2.0, 2.5}, {-2.0, 2147483648.0}, {-2.0, -2147483649.0},
      {-1.0, not_a_number},       {-2.0, inf}};
  for (const auto& [base, exponent] : invalid) {
    SCOPED_TRACE(std::to_string(base) + " ^ " + std::to_string(exponent));
    try {
      Power(base, exponent);
      ADD_FAILURE() << "nothing raised";
    } catch (const Failure& f) {
      EXPECT_EQ(f.kind, FailureKind::InvalidOperation);
      EXPECT_NE(f.message.find("negative base"), std::string::npos) << f.message;
    }
  }
}

TEST(Evaluate, InvalidPowerLeavesThroughNestedCalls) {
  compilptr inner = Program({S(Op_Load, minus_eight), S(Op_Pow, third), S(Op_First, fc)});
  Owned outer(Program({S(Op_First, a), Call(inner), S(Op_Add, inner->result)}));
  try {
    Evaluate(outer.p);
    ADD_FAILURE() << "(-8)^(1/3) raised nothing";
  } catch (const Failure& f) {
    EXPECT_EQ(f.kind, FailureKind::InvalidOperation);
  }
  // The same program evaluates once the base is valid: nothing was left half-done.
  minus_eight = 8.0;
  EXPECT_EQ(Evaluate(outer.p), 7.0 + std::exp(std::log(8.0) / 3.0));
  minus_eight = -8.0;
}

TEST(Evaluate, NestingThroughCalls) {
  // a - (b - c) * d: the group runs with its own registers; the pending a survives it.
  compilptr group = Program({S(Op_First, b), S(Op_Sub, c)});
  Owned p1(Program({S(Op_First, a), Call(group), S(Op_Sub, group->result), S(Op_Mul, d)}));
  EXPECT_EQ(Evaluate(p1.p), 7.0 - (3.0 - 2.0) * 0.5);
  EXPECT_EQ(group->result, 1.0);

  // The worked example a*b^c + exp(d).
  compilptr arg = Program({S(Op_First, d)});
  Owned p2(Program({S(Op_First, a), S(Op_Load, b), S(Op_Pow, c), S(Op_Mul, fc), Call(arg),
                    S(Op_Exp, arg->result), S(Op_Add, fc)}));
  EXPECT_EQ(Evaluate(p2.p), 7.0 * 9.0 + std::exp(0.5));

  // Two levels: ((a + b) * c + 1) / c.
  compilptr deepest = Program({S(Op_First, a), S(Op_Add, b)});
  compilptr middle = Program({Call(deepest), S(Op_First, deepest->result), S(Op_Mul, c),
                              S(Op_Add, one)});
  Owned p3(Program({Call(middle), S(Op_First, middle->result), S(Op_Div, c)}));
  EXPECT_EQ(Evaluate(p3.p), 10.5);

  // Operands are read through their addresses: a changed cell is seen without recompiling.
  const long before = g_allocations;
  b = 5.0;
  EXPECT_EQ(Evaluate(p3.p), 12.5);
  b = 3.0;
  EXPECT_EQ(Evaluate(p3.p), 10.5);
  EXPECT_EQ(g_allocations, before) << "nested evaluation allocated";
}

TEST(Evaluate, CountRefsCountsEveryUse) {
  compilptr group = Program({S(Op_First, a), S(Op_Mul, b)});
  compilptr inner = Program({S(Op_First, a)});
  compilptr group2 = Program({Call(inner), S(Op_First, inner->result), S(Op_Add, a)});
  Owned p(Program({S(Op_First, a), Call(group), S(Op_Add, group->result), Call(group2),
                   S(Op_Sub, group2->result), S(Op_Load, c), S(Op_Pow, two),
                   S(Op_Mul, fc)}));
  // Slots past stop are not part of the formula.
  p.p->fonction[p.p->stop] = Op_Add;
  p.p->donnee[p.p->stop].cell = &a;

  struct Case {
    const char* name;
    const double* cell;
    int16_t expected;
  };
  const Case cases[] = {
      {"top level, group and nested group", &a, 4},
      {"only in a group", &b, 1},
      {"base of a power", &c, 1},
      {"function value", &p.p->function_value, 1},
      {"a nested result", &group->result, 1},
      {"unused", &d, 0},
  };
  for (const auto& cs : cases) {
    SCOPED_TRACE(cs.name);
    EXPECT_EQ(CountRefs(cs.cell, p.p), cs.expected);
  }
  EXPECT_EQ(CountRefs(&a, nullptr), 0);
}

TEST(Evaluate, ReleaseFreesNestedRecordsOnce) {
  // Nil does nothing.
  g_freed_count = 0;
  g_record_frees = true;
  Release(nullptr);
  g_record_frees = false;
  EXPECT_EQ(g_freed_count, 0);

  // A record that was allocated but never compiled.
  const long allocations = g_allocations;
  compilptr fresh = NewCompil();
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(g_allocations, allocations + 1);  // the counter sees the library's allocations
  EXPECT_EQ(fresh->stop, 0);
  g_freed_count = 0;
  g_record_frees = true;
  Release(fresh);
  g_record_frees = false;
  ASSERT_EQ(g_freed_count, 1);
  EXPECT_EQ(g_freed[0], fresh);

  // Nested groups are freed before the record that calls them; a nil call operand is
  // skipped; each record is freed exactly once.
  compilptr grandchild = Program({S(Op_First, a)});
  compilptr child1 = Program({Call(grandchild), S(Op_First, grandchild->result)});
  compilptr child2 = Program({S(Op_First, b)});
  compilptr parent = Program({Call(child1), S(Op_First, child1->result), Call(nullptr),
                              Call(child2), S(Op_Add, child2->result)});
  g_freed_count = 0;
  g_record_frees = true;
  Release(parent);
  g_record_frees = false;
  ASSERT_EQ(g_freed_count, 4);
  auto position = [](const void* p) {
    for (int i = 0; i < g_freed_count; ++i)
      if (g_freed[i] == p) return i;
    return -1;
  };
  EXPECT_LT(position(grandchild), position(child1));
  EXPECT_LT(position(child1), position(parent));
  EXPECT_LT(position(child2), position(parent));
  EXPECT_EQ(position(parent), 3);
}
